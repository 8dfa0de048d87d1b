// Test harness for typing into a Wayland session: a headless sway (run as
// the unprivileged user "nobody" when the tests run as root, since sway
// refuses root) in a runtime folder of its own, with `wev` as its only
// window, and what wev received read back as text. Sway is ended and its
// folder removed when the object goes (KEEP_SWAY=1 keeps the folder, with
// wev.log and sway.log, for a look).
#pragma once

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
  // The characters of the keys wev saw pressed so far, in order: each key's
  // text, BackSpace as U+0008 and Return as '\n'. Reads only what wev wrote
  // since the last call.
  const std::u32string &Typed();
  // Waits until `count` characters arrived or quietMs passed without any;
  // returns what arrived. Polls every few milliseconds, so that a rate
  // measured through it is not rounded to a coarse poll.
  std::u32string Read(size_t count, int quietMs = 10000);
  // Forgets what arrived so far (the next Read counts from zero).
  void Clear() { typed_.clear(); }

  // The compositor's socket, a full path usable as WAYLAND_DISPLAY.
  const std::string &socket() const { return socket_; }
  const std::string &why() const { return why_; }

private:
  bool Fail(const std::string &why);
  bool FindSocket();

  pid_t pid_ = -1;
  std::string dir_, socket_, why_;
  long offset_ = 0;      // bytes of wev.log parsed so far
  std::string partial_;  // a line of wev.log not yet complete
  bool pressed_ = false; // the last key line was a press
  std::u32string typed_;
};

// text with every U+0008 taking back the character before it, as a text
// field shows what was typed with BackSpace among it.
std::u32string ApplyBackspaces(const std::u32string &text);
