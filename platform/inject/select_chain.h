// The choice of the injection backend, apart from the process's environment
// and devices so that tests can walk every combination: the session (what
// VANTREL_INJECT, DISPLAY, WAYLAND_DISPLAY and XDG_SESSION_TYPE say) and the
// way each backend is opened come in as arguments.
//
// The backends are one table, in the order of the default choice:
//   wayland  the compositor's virtual-keyboard protocol (Wayland sessions)
//   portal   the desktop's RemoteDesktop portal, asking the person's consent
//            (Wayland sessions unless named; GNOME, KDE Plasma)
//   uinput   a kernel virtual keyboard (when /dev/uinput is writable)
//   xtest    X11 (X11 sessions; in a Wayland session only when named, since
//            it then reaches Xwayland's windows alone)
//   log      JSON lines on stdout or into a file (reaches no window)
// A request (VANTREL_INJECT) starts at its row and walks on down the table.
// Each row that cannot work declines with its reason in the trace; when the
// row was the one named, stderr says so too.
#pragma once

#include "platform/inject.h"

#include <string>

struct InjectSession {
  std::string request;        // VANTREL_INJECT
  std::string display;        // DISPLAY
  std::string waylandDisplay; // WAYLAND_DISPLAY
  std::string sessionType;    // XDG_SESSION_TYPE
  // A Wayland session: WAYLAND_DISPLAY is set, or XDG_SESSION_TYPE says so.
  bool Wayland() const;
};

// The session of this process, read from its environment.
InjectSession InjectSessionFromEnvironment();

// How each backend is opened. Each returns the backend's table (close among
// its operations) or nullptr, with why set to the reason it cannot work.
struct InjectOpeners {
  const InjectOps *(*wayland)(const InjectSession &session, std::string &why);
  const InjectOps *(*uinput)(std::string &why);
  const InjectOps *(*xtest)(const char *display, std::string &why);
  // path empty: stdout.
  const InjectOps *(*log)(const std::string &path, std::string &why);
  // Null: the portal declines.
  const InjectOps *(*portal)(std::string &why);
};

// The real backends.
const InjectOpeners &RealInjectOpeners();

struct InjectChoice {
  const InjectOps *ops = nullptr; // nullptr: not even the log could be opened
  InjectReach reach = InjectReach::kNowhere;
  std::string logPath; // the log's file, when the log was chosen with one
  bool named = false;  // the backend chosen is the one the request named
};

// Walks the table for session with openers, tracing every row tried and the
// choice, and writing to stderr when the backend the request named cannot
// work or the request names none. Opens at most one backend that it keeps.
InjectChoice ChooseInjectBackend(const InjectSession &session, const InjectOpeners &openers);
