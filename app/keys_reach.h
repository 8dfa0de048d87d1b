// Telling the person when the keys Vantrel types cannot reach their windows
// (the injector chosen types into the log, or through X11 in a Wayland
// session where only Xwayland's programs hear it, or the desktop refused
// the leave to type): while connected, the main
// window's status says so, and at the first connection of the run a message
// box says what to do. An injector the person named on purpose for the log
// (VANTREL_INJECT=log or log:PATH) is not warned about.
#pragma once

#include "platform/inject.h"
#include "platform/window.h"

// What to tell for an injector of the given reach, chosen by name or by
// default: nullptr when there is nothing to tell, else the status line (at
// most 99 characters). When message is not null it receives the message
// box's text (a static string).
const WCHAR *KeysReachStatus(InjectReach reach, bool named, const WCHAR **message = nullptr);

// The link's phase changed (phase 2: connected). Keeps whether the status
// shows. Returns the status line to show instead of the usual one while
// connected, or nullptr; *tell becomes true at the first connection of the
// run where there is something to tell (then call TellKeysCannotReach).
const WCHAR *KeysReachOnLinkPhase(long phase, bool *tell);

// Traces what keeps the keys from the windows and shows the message box that
// says what to do, over hwnd (modal: call it last in a message's handling).
void TellKeysCannotReach(HWND hwnd);

// The status line to paint now: while connected and there is something to
// tell, else nullptr.
const WCHAR *KeysReachShownStatus();

// The desktop refused or ended the leave to type (the portal's answer,
// posted as WM_KEYS_NOT_ALLOWED): until the link's next phase other than
// connected, KeysReachShownStatus says so.
void MarkKeysNotAllowed();
// Shows the message box over hwnd that says what happened and what to do
// (modal: call it last in a message's handling).
void TellKeysNotAllowed(HWND hwnd);
// The text of that message box (a string kept until the next message).
const WCHAR *KeysNotAllowedMessage();

// Keys typed while one of the program's own windows is active are dropped
// (kept true) or go out again (false): while connected, KeysReachShownStatus
// says so, before anything else it has to say, until keys go out again or
// the link's phase changes (KeysReachOnLinkPhase).
void MarkKeysKeptFromOwnWindows(bool kept);

// Whether the last phase KeysReachOnLinkPhase heard was connected.
bool KeysReachConnected();

// Tests: forget that the message box was shown.
void ResetKeysReach();
