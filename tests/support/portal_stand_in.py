'''Stand-in for the desktop's RemoteDesktop portal, for Vantrel's tests.

Written from the portal's published D-Bus interface: the service
org.freedesktop.portal.Desktop with org.freedesktop.portal.RemoteDesktop at
/org/freedesktop/portal/desktop (properties AvailableDeviceTypes and
version; CreateSession, SelectDevices, Start, NotifyKeyboardKeycode,
NotifyKeyboardKeysym), each request answered by the Response signal of an
org.freedesktop.portal.Request object whose path is predicted from the
caller's unique name and its handle_token, and sessions as
org.freedesktop.portal.Session objects (Close method, Closed signal).

What the person would answer is set through org.vantrel.PortalMock at /:
  SetAnswer(u code, u delay_ms)  the Start answer (0 allowed, 1 refused,
                                 2 other end) and how long the person takes
  CloseSessions()                the desktop closes every session (Closed)
  SetKeyDelay(u delay_ms)        key calls are answered only after delay_ms
  HoldProperties(b hold)         while held, property reads are answered only
                                 when released (a portal slow to start)
  HeldReads() -> u               property reads waiting for the release
  MaxPendingKeys() -> u          the most key calls awaiting an answer at once
  Caller() -> s                  the unique name of the last CreateSession's caller
  Keys() -> a(iu)                the key codes typed so far, in order
  Dialogs() -> u                 how many times the person was asked
  OpenSessions() -> u            sessions open now

With --forward-mutter the keys of a started session also go to a session of
org.gnome.Mutter.RemoteDesktop on the same bus, as the GNOME backend does.
With --xkb LAYOUT[:VARIANT] the same bus also offers org.freedesktop.locale1
with that keymap (X11Layout, X11Variant), where a compositor that takes its
keymap from systemd-localed reads it.

Usage: python3 portal_stand_in.py [--version N] [--forward-mutter] [--xkb L:V]
(on the bus DBUS_SESSION_BUS_ADDRESS names)
'''

import argparse
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

PORTAL = 'org.freedesktop.portal.Desktop'
PORTAL_PATH = '/org/freedesktop/portal/desktop'
REMOTE = 'org.freedesktop.portal.RemoteDesktop'
REQUEST = 'org.freedesktop.portal.Request'
SESSION = 'org.freedesktop.portal.Session'
MOCK = 'org.vantrel.PortalMock'
PROPS = 'org.freedesktop.DBus.Properties'


def sender_part(sender):
    return sender[1:].replace('.', '_')


class Request(dbus.service.Object):
    def __init__(self, bus, path):
        super().__init__(bus, path)
        self.closed = False

    @dbus.service.method(REQUEST, in_signature='', out_signature='')
    def Close(self):
        self.closed = True
        self.remove_from_connection()

    @dbus.service.signal(REQUEST, signature='ua{sv}')
    def Response(self, code, results):
        pass


class Session(dbus.service.Object):
    def __init__(self, portal, path, owner):
        super().__init__(portal.bus, path)
        self.portal = portal
        self.path = path
        self.owner = owner
        self.types = 0
        self.persist = 0
        self.restore = ''
        self.started = False
        self.mutter = None

    @dbus.service.method(SESSION, in_signature='', out_signature='')
    def Close(self):
        self.portal.end(self, signal=False)

    @dbus.service.signal(SESSION, signature='a{sv}')
    def Closed(self, details):
        pass


class Portal(dbus.service.Object):
    def __init__(self, bus, version, forward):
        super().__init__(bus, PORTAL_PATH)
        self.bus = bus
        self.version = version
        self.forward = forward
        self.sessions = {}
        self.keys = []
        self.dialogs = 0
        self.answer = 0
        self.delay = 0
        self.tokens = set()
        self.issued = 0
        self.key_delay = 0
        self.caller = ''
        self.pending = 0
        self.max_pending = 0
        self.hold = False
        self.held = []

    # The answer to a request comes after the call has returned, as the
    # real portal's does.
    def respond(self, sender, options, code, results, delay=0):
        token = str(options.get('handle_token', 'vantrel_stand_in'))
        path = '%s/request/%s/%s' % (PORTAL_PATH, sender_part(sender), token)
        request = Request(self.bus, path)

        def answer():
            if not request.closed:
                request.Response(dbus.UInt32(code), dbus.Dictionary(results(), signature='sv'))
                request.remove_from_connection()
            return False
        GLib.timeout_add(delay, answer)
        return dbus.ObjectPath(path)

    def end(self, session, signal):
        if self.sessions.pop(session.path, None) is None:
            return
        if session.mutter is not None:
            try:
                session.mutter.Stop()
            except dbus.DBusException:
                pass
        if signal:
            session.Closed(dbus.Dictionary({}, signature='sv'))
        session.remove_from_connection()

    def session_of(self, handle, sender):
        session = self.sessions.get(str(handle))
        if session is None or session.owner != sender:
            raise dbus.exceptions.DBusException(
                'No such session', name='org.freedesktop.portal.Error.NotFound')
        return session

    def properties(self, interface):
        if interface != REMOTE:
            return dbus.Dictionary({}, signature='sv')
        return dbus.Dictionary({'AvailableDeviceTypes': dbus.UInt32(7),
                                'version': dbus.UInt32(self.version)}, signature='sv')

    # While held, the answers wait (a portal that is slow to start).
    def answer_properties(self, answer):
        if self.hold:
            self.held.append(answer)
        else:
            answer()

    @dbus.service.method(PROPS, in_signature='ss', out_signature='v',
                         async_callbacks=('done', 'failed'))
    def Get(self, interface, name, done=None, failed=None):
        def answer():
            props = self.properties(interface)
            if name in props:
                done(props[name])
            else:
                failed(dbus.exceptions.DBusException(
                    'No such property', name='org.freedesktop.DBus.Error.InvalidArgs'))
        self.answer_properties(answer)

    @dbus.service.method(PROPS, in_signature='s', out_signature='a{sv}',
                         async_callbacks=('done', 'failed'))
    def GetAll(self, interface, done=None, failed=None):
        self.answer_properties(lambda: done(self.properties(interface)))

    @dbus.service.method(MOCK, in_signature='', out_signature='u')
    def HeldReads(self):
        return dbus.UInt32(len(self.held))

    @dbus.service.method(MOCK, in_signature='b', out_signature='')
    def HoldProperties(self, hold):
        self.hold = bool(hold)
        if not self.hold:
            held, self.held = self.held, []
            for answer in held:
                answer()

    @dbus.service.method(REMOTE, in_signature='a{sv}', out_signature='o', sender_keyword='sender')
    def CreateSession(self, options, sender=None):
        token = str(options.get('session_handle_token', 'vantrel_stand_in'))
        path = '%s/session/%s/%s' % (PORTAL_PATH, sender_part(sender), token)
        self.sessions[path] = Session(self, path, sender)
        self.caller = sender
        return self.respond(sender, options, 0,
                            lambda: {'session_handle': dbus.String(path)})

    @dbus.service.method(REMOTE, in_signature='oa{sv}', out_signature='o', sender_keyword='sender')
    def SelectDevices(self, handle, options, sender=None):
        session = self.session_of(handle, sender)
        session.types = int(options.get('types', 7))
        if self.version >= 2:
            session.persist = int(options.get('persist_mode', 0))
            session.restore = str(options.get('restore_token', ''))
        return self.respond(sender, options, 0, lambda: {})

    @dbus.service.method(REMOTE, in_signature='osa{sv}', out_signature='o',
                         sender_keyword='sender')
    def Start(self, handle, parent, options, sender=None):
        session = self.session_of(handle, sender)
        # A token the desktop kept answers without asking the person.
        kept = session.restore in self.tokens
        if kept:
            self.tokens.discard(session.restore)
            code, delay = 0, 0
        else:
            self.dialogs += 1
            code, delay = self.answer, self.delay

        def results():
            if code != 0 or session.path not in self.sessions:
                return {}
            session.started = True
            if self.forward:
                self.start_mutter(session)
            out = {'devices': dbus.UInt32(session.types & 7)}
            if session.persist == 2:
                self.issued += 1
                token = 'kept-%d' % self.issued
                self.tokens.add(token)
                out['restore_token'] = dbus.String(token)
            return out
        if code != 0:
            GLib.timeout_add(delay + 1, lambda: self.end(session, signal=False) and False)
        return self.respond(sender, options, code, results, delay)

    def start_mutter(self, session):
        rd = self.bus.get_object('org.gnome.Mutter.RemoteDesktop', '/org/gnome/Mutter/RemoteDesktop')
        path = dbus.Interface(rd, 'org.gnome.Mutter.RemoteDesktop').CreateSession()
        obj = self.bus.get_object('org.gnome.Mutter.RemoteDesktop', path)
        session.mutter = dbus.Interface(obj, 'org.gnome.Mutter.RemoteDesktop.Session')
        session.mutter.Start()

    @dbus.service.method(REMOTE, in_signature='oa{sv}iu', out_signature='',
                         sender_keyword='sender', async_callbacks=('done', 'failed'))
    def NotifyKeyboardKeycode(self, handle, options, keycode, state, sender=None, done=None,
                              failed=None):
        try:
            session = self.session_of(handle, sender)
        except dbus.DBusException as e:
            failed(e)
            return
        if not session.started or not session.types & 1:
            failed(dbus.exceptions.DBusException(
                'Session not started', name='org.freedesktop.DBus.Error.AccessDenied'))
            return
        self.keys.append((int(keycode), int(state)))
        if session.mutter is not None:
            session.mutter.NotifyKeyboardKeycode(dbus.UInt32(keycode), dbus.Boolean(state != 0))
        if not self.key_delay:
            done()
            return
        # A slow desktop: the answer comes later, and the calls a client
        # has sent without waiting pile up.
        self.pending += 1
        self.max_pending = max(self.max_pending, self.pending)

        def answer():
            self.pending -= 1
            done()
            return False
        GLib.timeout_add(self.key_delay, answer)

    @dbus.service.method(REMOTE, in_signature='oa{sv}iu', out_signature='',
                         sender_keyword='sender')
    def NotifyKeyboardKeysym(self, handle, options, keysym, state, sender=None):
        raise dbus.exceptions.DBusException(
            'The stand-in takes key codes only', name='org.freedesktop.DBus.Error.NotSupported')

    @dbus.service.method(MOCK, in_signature='uu', out_signature='')
    def SetAnswer(self, code, delay_ms):
        self.answer = int(code)
        self.delay = int(delay_ms)

    @dbus.service.method(MOCK, in_signature='', out_signature='')
    def CloseSessions(self):
        for session in list(self.sessions.values()):
            self.end(session, signal=True)

    @dbus.service.method(MOCK, in_signature='u', out_signature='')
    def SetKeyDelay(self, delay_ms):
        self.key_delay = int(delay_ms)

    @dbus.service.method(MOCK, in_signature='', out_signature='u')
    def MaxPendingKeys(self):
        return dbus.UInt32(self.max_pending)

    @dbus.service.method(MOCK, in_signature='', out_signature='s')
    def Caller(self):
        return dbus.String(self.caller)

    @dbus.service.method(MOCK, in_signature='', out_signature='a(iu)')
    def Keys(self):
        return dbus.Array([dbus.Struct((k, s), signature='iu') for k, s in self.keys],
                          signature='(iu)')

    @dbus.service.method(MOCK, in_signature='', out_signature='u')
    def Dialogs(self):
        return dbus.UInt32(self.dialogs)

    @dbus.service.method(MOCK, in_signature='', out_signature='u')
    def OpenSessions(self):
        return dbus.UInt32(len(self.sessions))


class Locale1(dbus.service.Object):
    def __init__(self, bus, layout, variant):
        super().__init__(bus, '/org/freedesktop/locale1')
        self.props = {'X11Layout': dbus.String(layout), 'X11Variant': dbus.String(variant),
                      'X11Model': dbus.String(''), 'X11Options': dbus.String(''),
                      'Locale': dbus.Array(['LANG=C.UTF-8'], signature='s'),
                      'VConsoleKeymap': dbus.String(''), 'VConsoleKeymapToggle': dbus.String('')}

    @dbus.service.method(PROPS, in_signature='ss', out_signature='v')
    def Get(self, interface, name):
        return self.props[name]

    @dbus.service.method(PROPS, in_signature='s', out_signature='a{sv}')
    def GetAll(self, interface):
        if interface != 'org.freedesktop.locale1':
            return dbus.Dictionary({}, signature='sv')
        return dbus.Dictionary(self.props, signature='sv')


class Mock(dbus.service.Object):
    '''The mock interface at /, passing on to the portal object.'''

    def __init__(self, bus, portal):
        super().__init__(bus, '/')
        self.portal = portal

    @dbus.service.method(MOCK, in_signature='uu', out_signature='')
    def SetAnswer(self, code, delay_ms):
        self.portal.SetAnswer(code, delay_ms)

    @dbus.service.method(MOCK, in_signature='', out_signature='')
    def CloseSessions(self):
        self.portal.CloseSessions()

    @dbus.service.method(MOCK, in_signature='u', out_signature='')
    def SetKeyDelay(self, delay_ms):
        self.portal.SetKeyDelay(delay_ms)

    @dbus.service.method(MOCK, in_signature='', out_signature='u')
    def MaxPendingKeys(self):
        return self.portal.MaxPendingKeys()

    @dbus.service.method(MOCK, in_signature='b', out_signature='')
    def HoldProperties(self, hold):
        self.portal.HoldProperties(hold)

    @dbus.service.method(MOCK, in_signature='', out_signature='u')
    def HeldReads(self):
        return self.portal.HeldReads()

    @dbus.service.method(MOCK, in_signature='', out_signature='s')
    def Caller(self):
        return self.portal.Caller()

    @dbus.service.method(MOCK, in_signature='', out_signature='a(iu)')
    def Keys(self):
        return self.portal.Keys()

    @dbus.service.method(MOCK, in_signature='', out_signature='u')
    def Dialogs(self):
        return self.portal.Dialogs()

    @dbus.service.method(MOCK, in_signature='', out_signature='u')
    def OpenSessions(self):
        return self.portal.OpenSessions()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--version', type=int, default=1)
    parser.add_argument('--forward-mutter', action='store_true')
    parser.add_argument('--xkb', default='')
    args = parser.parse_args()
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    if args.xkb:
        layout, _, variant = args.xkb.partition(':')
        Locale1(bus, layout, variant)
        locale1 = dbus.service.BusName('org.freedesktop.locale1', bus)  # noqa: F841
    portal = Portal(bus, args.version, args.forward_mutter)
    Mock(bus, portal)
    # The name last: a client that sees it finds every object in place.
    name = dbus.service.BusName(PORTAL, bus)  # noqa: F841 (kept while serving)
    sys.stdout.flush()
    GLib.MainLoop().run()


if __name__ == '__main__':
    main()
