// Key injection: the three calls the key logic uses, and the table of
// operations that a backend provides. The backend is chosen once at start-up
// (VANTREL_INJECT: "wayland", "portal", "uinput", "xtest", "log",
// "log:PATH"; by default the first that works of wayland -> portal -> uinput
// -> xtest -> log, portal and xtest by default only in Wayland and X11
// sessions respectively; see inject/select_chain.h), each
// candidate checking that it can work, with a trace line for every choice and
// failure. Tests install a recording backend of their own.
//
// What the calls mean here:
// - keybd_event: a press (no KEYEVENTF_KEYUP) or release of virtual key vk.
//   Modifier and lock keys (VK_SHIFT, VK_CONTROL, VK_CAPITAL, ...) act on the
//   keys that follow, as on a real keyboard.
// - PostKeybdMessage: types chars[0..count) (UTF-16 code units; a surrogate
//   pair within one call is one character, a lone surrogate is skipped) into
//   the focused window; 8, 9, 13 and 27 type Backspace, Tab, Enter and Esc.
//   vk, keyStateFlags and shiftStates are not needed to type the text.
// - SendInput: each INPUT_KEYBOARD record without KEYEVENTF_KEYUP is a whole
//   key press (down and up): the caller sends no key-up, and a key left down
//   on the host would repeat and stay stuck. A record with KEYEVENTF_KEYUP
//   therefore does nothing. Records of other types are skipped.
#pragma once

#include "platform/wintypes.h"

#include <string>

#define KEYEVENTF_EXTENDEDKEY 0x0001
#define KEYEVENTF_KEYUP 0x0002
#define KEYEVENTF_SILENT 0x0004
#define KEYEVENTF_UNICODE 0x0004

#define INPUT_MOUSE 0
#define INPUT_KEYBOARD 1

#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_CAPITAL 0x14
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_PRIOR 0x21
#define VK_NEXT 0x22
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_INSERT 0x2D
#define VK_DELETE 0x2E
#define VK_LWIN 0x5B
#define VK_F1 0x70
#define VK_F2 0x71
#define VK_F6 0x75
#define VK_F7 0x76
#define VK_OEM_1 0xBA
#define VK_OEM_PLUS 0xBB
#define VK_OEM_COMMA 0xBC
#define VK_OEM_MINUS 0xBD
#define VK_OEM_PERIOD 0xBE
#define VK_OEM_2 0xBF
#define VK_OEM_3 0xC0
#define VK_OEM_4 0xDB
#define VK_OEM_5 0xDC
#define VK_OEM_6 0xDD
#define VK_OEM_7 0xDE

struct KEYBDINPUT {
  WORD wVk;
  WORD wScan;
  DWORD dwFlags;
  DWORD time;
  uintptr_t dwExtraInfo;
};

struct INPUT {
  DWORD type;
  KEYBDINPUT ki;
};

// keybd_event: virtual key vk (low 8 bits), scan code, flags (KEYEVENTF_*),
// extra information.
void keybd_event(BYTE vk, BYTE scan, DWORD flags, DWORD extraInfo);
// PostKeybdMessage: posts characters to window hwnd (-1: the window with the
// keyboard focus). chars holds count characters; shiftStates holds their key
// state flags (may be null). Returns TRUE when posted; FALSE when chars is
// null with count > 0, no backend is installed or the keys were dropped
// (InjectGuardOwnWindows).
BOOL PostKeybdMessage(HWND hwnd, UINT vk, UINT keyStateFlags, UINT count, const UINT *shiftStates,
                      const UINT *chars);
// SendInput: cbSize is the record size the caller passes (28 on the handheld).
// Returns the number of records taken (0 when inputs is null or no backend
// is installed).
UINT SendInput(UINT count, const INPUT *inputs, int cbSize);
// Sends what the installed backend holds back (see InjectOps::flush). The
// thread that injects calls it before it waits for input; cheap when there
// is nothing to send.
void InjectFlush();

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
  kXwaylandOnly,  // X11 programs under Xwayland only (xtest in a Wayland session)
  kNowhere,       // no window at all (the log, or no backend)
};

// Chooses the backend from VANTREL_INJECT as described above and installs
// it. Returns the name of the backend chosen (a static string), "none" when
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
// InjectWaitForBackend) ends the thread.
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
