// Test harness for typing through the desktop's RemoteDesktop portal into a
// GNOME compositor: a headless mutter (as the unprivileged user "nobody"
// when the tests run as root) on a private bus of its own, which serves as
// its session and its system bus; on that bus the portal stand-in
// (tests/support/portal_stand_in.py) passes the portal's keyboard calls on
// to mutter's own RemoteDesktop interface and offers systemd-localed's
// keymap, which mutter takes when no GNOME Shell sets one. `wev` is the only
// window. Everything is ended and the folder removed when the object goes
// (KEEP_MUTTER=1 keeps the folder with wev.log, mutter.log and portal.log).
#pragma once

#include "tests/inject/wayland_harness.h"

#include <string>
#include <sys/types.h>

class MutterSession {
public:
  ~MutterSession();
  // Whether mutter, wev, stdbuf, dbus-daemon and python3 with dbus are there.
  static bool Available();
  // Starts the bus, the stand-ins with the keymap "LAYOUT" or
  // "LAYOUT:VARIANT", mutter and wev, and waits for wev's window; false
  // (with why() set) when it cannot run here.
  bool Start(const char *keymap);
  // What wev received (Typed, Read, Clear: see wayland_harness.h), a
  // Ctrl+Shift+U entry read as the character it names, as GTK and IBus
  // read it.
  WevLog &wev() { return wev_; }

  // The bus address (for the program's session and system bus), the
  // compositor's socket (WAYLAND_DISPLAY) and why Start failed.
  const std::string &bus() const { return bus_; }
  const std::string &socket() const { return socket_; }
  const std::string &why() const { return why_; }

private:
  bool Fail(const std::string &why);

  pid_t busPid_ = -1, portalPid_ = -1, mutterPid_ = -1, wevPid_ = -1;
  std::string dir_, bus_, socket_, why_;
  WevLog wev_;
};
