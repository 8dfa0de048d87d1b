// The key injection's own part, the same on every platform: the table of
// operations a backend provides, what the program lends the backends, and
// the choice of backend. Included by platform/inject.h, which declares the
// INPUT record (Win32's on Windows) first: include that one, not this.
#pragma once

#include "platform/wintypes.h"

#include <string>

// The operations a backend provides. The three calls are made on the thread
// that injects (the reader thread); a backend keeps the order of calls.
struct InjectOps {
  const char *name;
  void (*keybdEvent)(void *self, BYTE vk, BYTE scan, DWORD flags, DWORD extraInfo);
  BOOL (*postKeybdMessage)(void *self, HWND hwnd, UINT vk, UINT keyStateFlags, UINT count,
                           const UINT *shiftStates, const UINT *chars);
  UINT (*sendInput)(void *self, UINT count, const INPUT *inputs, int cbSize);
  void *self;
  // Ends the backend: releases keys it still holds down, undoes its
  // temporary keymap changes, closes its device, display or file. Later
  // calls through the table do nothing, and the table stays allocated (a
  // call on its way may still arrive). Safe to call again. May be null for a
  // backend that holds nothing (a test's recorder).
  void (*close)(void *self);
  // Sends what the backend holds back: a key press kept to go out together
  // with its release, in one write. Called by the injecting thread before it
  // waits for input (see InjectFlush), so that nothing injected waits with
  // it. Null for a backend that holds nothing back.
  void (*flush)(void *self);
  // The keyboard's link connected (up) or ended. A backend that must ask the
  // desktop for leave to type (the portal) asks at each connection and lets
  // go at its end. Called on the thread that runs the link; never waits for
  // the person's answer. Null for a backend that needs neither.
  void (*linkChanged)(void *self, bool up);
};

// What a backend has to tell the person, beyond the trace: said once, on the
// backend's own thread, through the program's InjectHost::tell.
enum class InjectNotice {
  kConsentRefused, // the person (or the desktop) declined the request to type
  kSessionClosed,  // the desktop ended the leave to type while connected
  kPortalFailed,   // the desktop's portal failed to answer the request
};

// What the program lends its backends: the words for the person, and a
// place in its settings for a backend's token. Every member may be null.
struct InjectHost {
  // Tells the person about notice (called on a backend's thread).
  void (*tell)(InjectNotice notice);
  // The portal's restore token kept from an earlier run ("" when none).
  std::string (*loadToken)();
  // Keeps the portal's restore token for the next run ("" forgets it).
  void (*saveToken)(const std::string &token);
  // The guard (InjectGuardOwnWindows) dropped a key press (kept true: at
  // every press it drops), or a press goes out again after such a stretch
  // (kept false: once, at its first press). Called on the injecting thread,
  // before the key goes out; must not wait.
  void (*keysKept)(bool kept);
};
// Installs the host (copied). Before any call, or with null members, a
// notice goes to stderr and no token is kept.
void InjectSetHost(const InjectHost &host);
// The installed host (members null where none).
InjectHost InjectGetHost();
// Passes a notice to the host's tell, else writes it to stderr.
void InjectTell(InjectNotice notice);
// The link connected (up) or ended: passed to the installed backend's
// linkChanged. Cheap; never waits for the desktop.
void InjectLinkChanged(bool up);

// Whose windows the chosen backend's keys reach.
enum class InjectReach {
  kWindows,       // the focused window of the session
  kXwaylandOnly,  // X11 programs under Xwayland only (xtest in a Wayland session;
                  // never on Windows)
  kNowhere,       // no window at all (the log, or no backend)
};

// Chooses the backend from VANTREL_INJECT as platform/inject.h describes
// (on Windows "sendinput", "log", "log:PATH"; by default sendinput) and
// installs it. Returns the name of the backend chosen (a static string), "none" when
// not even the log could be opened (calls are then dropped). Safe to call
// again (keeps the first choice until InjectShutdown); while a choice of
// InjectSelectBackendInBackground is under way, waits for it. The chosen
// backend is owned by the selection and closed by InjectShutdown. A backend
// installed while the link is up (InjectLinkChanged) hears linkChanged(true)
// at once.
const char *InjectSelectBackend();
// Makes the same choice on a thread of its own and returns at once: a
// desktop service started on demand (the portal) may take seconds to answer,
// and the program's window is not to wait for it. Until the backend is
// installed, key presses are dropped, with a trace line at the first of
// them; a link that comes up meanwhile is passed on to the backend once it
// is installed. chosen (may be null) is called on that thread with the
// name InjectSelectBackend returned, after the backend is installed. Does
// nothing while a choice is under way. InjectShutdown (or
// InjectWaitForBackend) ends the thread. On Windows the choice never waits on
// a desktop service: it is made before this returns, and chosen is called
// on the calling thread.
void InjectSelectBackendInBackground(void (*chosen)(const char *name));
// Waits until a choice started by InjectSelectBackendInBackground is made
// and its thread has ended (at once when none is under way). Not to be
// called from chosen.
void InjectWaitForBackend();
// Whose windows the backend InjectSelectBackend chose reaches: kNowhere when
// it chose none; kWindows before a choice (also while one is under way) and
// after InjectShutdown (a backend installed with InjectSetBackend is its
// installer's business). Never waits for a choice under way.
InjectReach InjectBackendReach();
// Whether the backend InjectSelectBackend chose is the one VANTREL_INJECT
// named (false before a choice). Never waits for a choice under way.
bool InjectBackendNamed();
// The guard for keys meant for other programs' windows: while it is on and
// one of the program's own windows is the desktop's active window
// (OwnWindowActive), key presses (keybd_event without KEYEVENTF_KEYUP,
// PostKeybdMessage, SendInput) are dropped, with a trace line at the first
// of each stretch and the host's keysKept told of each, and releases still
// go out, so that nothing stays down.
// The program turns it on for a backend whose keys reach windows; off by
// default (the log, tests' recorders).
void InjectGuardOwnWindows(bool on);
// Installs a backend directly (tests, recording); it stays the caller's,
// who closes it. The table must outlive its use; nullptr goes back to no
// backend (calls are dropped).
void InjectSetBackend(const InjectOps *ops);
// The table installed now, or nullptr.
const InjectOps *InjectGetBackend();
// Ends injection by the backend InjectSelectBackend chose, through its close
// operation, and uninstalls it, after waiting for a choice still under way
// (InjectWaitForBackend). Later calls are dropped until InjectSelectBackend
// chooses again. Safe to call more than once; also run at normal process
// exit.
void InjectShutdown();
