'''BlueZ stand-in for Vantrel's tests and for trying the program by hand.

python3-dbusmock's bluez5 template, plus what a serial link needs of
bluetoothd and bluez5 does not offer:

- org.bluez.ProfileManager1.RegisterProfile / UnregisterProfile keep a book
  of registered profiles: the same object registered twice by one client is
  org.bluez.Error.AlreadyExists, a UUID another client holds is
  org.bluez.Error.NotPermitted.
- org.bluez.Device1.ConnectProfile opens a stream socket for the device and
  hands it to the registered profile's Profile1.NewConnection, replying only
  once NewConnection has been answered, as bluetoothd does. The far end of
  the socket is the keyboard: a connection to the Unix socket set with
  SetKeyboardSocket (where `vantrel-kbd --listen PATH` serves), else the
  other end of a socket pair that nobody reads.
- Mock methods on / (interface org.bluez.Mock), besides bluez5's:
  AddPairedDevice(adapter, address, alias, serial) -> path: a paired device,
  offering the serial port profile when serial is true;
  SetKeyboardSocket(address, path); SetReachable(address, reachable): an
  unreachable device fails ConnectProfile as a keyboard switched off does;
  DropLink(address): the radio link drops (both ends see the socket end);
  HoldProfile(uuid): another program holds that profile;
  SetDeviceProperty(address, name, value): a property of a device's
  Device1 takes any value, of any type (a BlueZ answer the program must
  survive);
  HoldConnect(address): ConnectProfile for the device waits, its stream not
  yet handed over, until ReleaseConnect(address); ConnectPending(address)
  tells whether such a call waits; ProfileOwner(uuid) -> (name, path): who
  registered the profile; HandOverPipe(address): the next stream handed
  over for the device is a pipe, not a socket.

Start it by hand on a private bus:
  dbus-daemon --session --print-address --fork   # prints ADDRESS
  DBUS_SYSTEM_BUS_ADDRESS=ADDRESS python3 -m dbusmock --system --template \
      tests/support/bluez_stand_in.py
'''

import os
import socket

import dbus
import dbus.service

from dbusmock import mockobject
from dbusmock.templates import bluez5
from dbusmock.templates.bluez5 import *  # noqa: F401,F403 (the template's methods and names)

SERIAL_UUID = '00001101-0000-1000-8000-00805f9b34fb'
PROFILE_IFACE = 'org.bluez.Profile1'
PROFILE_MANAGER = 'org.bluez.ProfileManager1'
DEVICE = 'org.bluez.Device1'
MOCK = 'org.bluez.Mock'


def _find_device(address):
    for path, obj in mockobject.objects.items():
        props = getattr(obj, 'props', {}).get(DEVICE)
        if props and str(props['Address']).upper() == address.upper():
            return path, obj
    raise dbus.exceptions.DBusException('No device ' + address, name=MOCK + '.NoSuchDevice')


@dbus.service.method(PROFILE_MANAGER, in_signature='osa{sv}', out_signature='',
                     sender_keyword='sender')
def _register_profile(manager, path, uuid, _options, sender=None):
    uuid = str(uuid).lower()
    held = manager.profiles.get(uuid)
    if held:
        if held == (sender, str(path)):
            raise dbus.exceptions.DBusException('Already Exists', name='org.bluez.Error.AlreadyExists')
        raise dbus.exceptions.DBusException('UUID already registered', name='org.bluez.Error.NotPermitted')
    manager.profiles[uuid] = (sender, str(path))


@dbus.service.method(PROFILE_MANAGER, in_signature='o', out_signature='', sender_keyword='sender')
def _unregister_profile(manager, path, sender=None):
    for uuid, owner in list(manager.profiles.items()):
        if owner == (sender, str(path)):
            del manager.profiles[uuid]
            return
    raise dbus.exceptions.DBusException('Does Not Exist', name='org.bluez.Error.DoesNotExist')


@dbus.service.method(DEVICE, in_signature='s', out_signature='', async_callbacks=('ok', 'fail'))
def _connect_profile(device, uuid, ok=None, fail=None):
    manager = mockobject.objects['/org/bluez']
    root = mockobject.objects['/']
    path = device.__dbus_object_path__
    profile = manager.profiles.get(str(uuid).lower())
    if not profile:
        fail(dbus.exceptions.DBusException('Profile Unavailable', name='org.bluez.Error.NotAvailable'))
        return
    if not getattr(device, 'reachable', True):
        fail(dbus.exceptions.DBusException('Host is down', name='org.bluez.Error.Failed'))
        return
    if path in root.held:
        # Parked until ReleaseConnect: the profile's answer is awaited.
        root.held[path] = lambda: _connect_profile(device, uuid, ok, fail)
        return
    if path in root.pipes:
        root.pipes.discard(path)
        readable, writable = os.pipe()
        os.close(writable)
        _hand_over(device, root, path, profile, readable, None, ok, fail)
        os.close(readable)
        return
    keyboard = root.keyboards.get(path)
    if keyboard:
        ours = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            ours.connect(keyboard)
        except OSError as e:
            ours.close()
            fail(dbus.exceptions.DBusException(str(e), name='org.bluez.Error.Failed'))
            return
        far = None
    else:
        ours, far = socket.socketpair()
    _drop(root, path)
    root.links[path] = (ours, far)
    _hand_over(device, root, path, profile, ours, ours, ok, fail)


def _hand_over(device, root, path, profile, stream, link, ok, fail):
    def answered(*_args):
        device.props[DEVICE]['Connected'] = dbus.Boolean(True, variant_level=1)
        ok()

    def refused(error):
        if link:
            _drop(root, path)
        fail(dbus.exceptions.DBusException('Profile refused the connection: ' + str(error),
                                           name='org.bluez.Error.Failed'))

    device.connection.call_async(profile[0], profile[1], PROFILE_IFACE, 'NewConnection', 'oha{sv}',
                                 (dbus.ObjectPath(path), dbus.types.UnixFd(stream), {}),
                                 answered, refused, timeout=10.0)


def _drop(root, path):
    ours, far = root.links.pop(path, (None, None))
    for s in (ours, far):
        if s:
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()


def load(mock, parameters):
    bluez5.load(mock, parameters)
    manager = mockobject.objects['/org/bluez']
    manager.profiles = {}
    manager.methods[PROFILE_MANAGER]['RegisterProfile'] = ('osa{sv}', '', _register_profile, _register_profile)
    manager.methods[PROFILE_MANAGER]['UnregisterProfile'] = ('o', '', _unregister_profile, _unregister_profile)
    mock.links = {}
    mock.keyboards = {}
    mock.held = {}  # device path -> the parked ConnectProfile, or None
    mock.pipes = set()


@dbus.service.method(MOCK, in_signature='sssb', out_signature='s')
def AddPairedDevice(self, adapter, address, alias, serial):
    path = bluez5.AddDevice(self, adapter, address, alias)
    bluez5.PairDevice(self, adapter, address, bluez5.MOCK_PHONE_CLASS)
    device = mockobject.objects[path]
    if serial:
        uuids = list(device.props[DEVICE]['UUIDs']) + [SERIAL_UUID]
        device.props[DEVICE]['UUIDs'] = dbus.Array(uuids, signature='s', variant_level=1)
    device.methods[DEVICE]['ConnectProfile'] = ('s', '', _connect_profile, _connect_profile)
    return path


@dbus.service.method(MOCK, in_signature='ss', out_signature='')
def SetKeyboardSocket(self, address, path):
    self.keyboards[_find_device(address)[0]] = str(path)


@dbus.service.method(MOCK, in_signature='sb', out_signature='')
def SetReachable(_self, address, reachable):
    _find_device(address)[1].reachable = bool(reachable)


@dbus.service.method(MOCK, in_signature='s', out_signature='')
def DropLink(self, address):
    path, device = _find_device(address)
    _drop(self, path)
    device.props[DEVICE]['Connected'] = dbus.Boolean(False, variant_level=1)


@dbus.service.method(MOCK, in_signature='s', out_signature='')
def HoldProfile(_self, uuid):
    mockobject.objects['/org/bluez'].profiles[str(uuid).lower()] = (':another.program', '/held')


@dbus.service.method(MOCK, in_signature='ssv', out_signature='')
def SetDeviceProperty(_self, address, name, value):
    _find_device(address)[1].props[DEVICE][str(name)] = value


@dbus.service.method(MOCK, in_signature='s', out_signature='')
def HoldConnect(self, address):
    self.held[_find_device(address)[0]] = None


@dbus.service.method(MOCK, in_signature='s', out_signature='b')
def ConnectPending(self, address):
    return self.held.get(_find_device(address)[0]) is not None


@dbus.service.method(MOCK, in_signature='s', out_signature='')
def ReleaseConnect(self, address):
    parked = self.held.pop(_find_device(address)[0], None)
    if parked:
        parked()


@dbus.service.method(MOCK, in_signature='s', out_signature='so')
def ProfileOwner(_self, uuid):
    owner = mockobject.objects['/org/bluez'].profiles.get(str(uuid).lower())
    if not owner:
        raise dbus.exceptions.DBusException('No profile ' + uuid, name=MOCK + '.NoSuchProfile')
    return owner[0], dbus.ObjectPath(owner[1])


@dbus.service.method(MOCK, in_signature='s', out_signature='')
def HandOverPipe(self, address):
    self.pipes.add(_find_device(address)[0])
