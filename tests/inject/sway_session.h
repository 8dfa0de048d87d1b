// Test harness for typing into a Wayland session: a headless sway (run as
// the unprivileged user "nobody" when the tests run as root, since sway
// refuses root) in a runtime folder of its own, with `wev` as its only
// window, and what wev received read back as text. Sway is ended and its
// folder removed when the object goes (KEEP_SWAY=1 keeps the folder, with
// wev.log and sway.log, for a look).
#pragma once

#include "tests/inject/wayland_harness.h"

#include <string>
#include <sys/types.h>

class SwaySession {
public:
  ~SwaySession();
  // Whether sway, wev and stdbuf are installed.
  static bool Available();
  // Starts sway with the keymap `layout` (XKB_DEFAULT_LAYOUT) and waits for
  // wev's window; false (with why() set) when sway cannot run here.
  bool Start(const char *layout);
  // Waits up to 30 s for wev to have the keyboard's focus (the seat has no
  // keyboard until a virtual keyboard comes).
  bool WaitForKeyboard();
  // What wev received (Typed, Read, Clear: see wayland_harness.h).
  WevLog &wev() { return wev_; }

  // The compositor's socket, a full path usable as WAYLAND_DISPLAY.
  const std::string &socket() const { return socket_; }
  const std::string &why() const { return why_; }

private:
  bool Fail(const std::string &why);
  bool FindSocket();

  pid_t pid_ = -1;
  std::string dir_, socket_, why_;
  WevLog wev_;
};
