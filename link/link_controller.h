// The link controller: a hidden window of class TypingWnd on the user
// interface thread. It is the link's mailbox there: menu commands, dialogs,
// the reader thread and the platform's sleep watch post it the private
// messages of common/messages.h, and its procedure turns them into command
// packets, changes of linkState and the link timers (heartbeat, status poll,
// connection time-out, and the window after a resume in which a lost link is
// connected again). Creating the window starts the reader thread.
#pragma once

#include "keys/keycode_table.h"
#include "platform/wintypes.h"

// Allocated by the shell before CreateLinkController and kept for the whole
// process. The window handle comes first, so senders on the user interface
// thread can reach TypingWnd through AppGlobals.link.
struct LinkController {
  HWND typingWnd = nullptr;
  // The reader thread's "ConnectionEvent"; invalid until the thread has
  // created it (it also publishes it in AppGlobals.connectionEvent).
  HANDLE connectionEvent = INVALID_HANDLE_VALUE;
  // The reader thread, kept so that the end of the program can wait for it;
  // nullptr until TypingWnd has started it. Owned here, never closed.
  HANDLE readerThread = nullptr;
  // Asks the person for a layout when none is chosen yet; the reader thread
  // hands it to loadKeycodeFile. Set by the shell before the controller is
  // created; nullptr (tests, headless tools) asks nobody.
  AskForLayoutFn askForLayout = nullptr;
};

// Registers the class TypingWnd and creates its window (disabled, never
// shown, owned by parent), which starts the reader thread. Stores the handle
// in link->typingWnd and AppGlobals.typingWnd. Returns 0 on success, -1 when
// the window could not be created (link untouched).
int CreateLinkController(LinkController *link, HINSTANCE instance, HWND parent);

// The window procedure of TypingWnd (exposed for tests and the shell).
LRESULT TypingWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Starts a connection attempt from the idle link, as the Connect button
// does: the connect request is noted and the reader thread woken. Either
// thread may call it.
void RequestConnection();

// Ends the link for the end of the program. The reader thread is asked to
// stop: it closes a connection as a disconnection does (DISCONNECT, the
// SuspendKiller released, the port closed), without the pauses and
// messages meant for a person, and returns. A connection's state becomes
// LINK_DISCONNECTING at once and, when a port is open and the link was not
// closing already, DISCONNECT is sent from here too, so the keyboard hears
// it even if the reader thread is held up. Returns the reader thread's handle to wait on (owned by link), or
// nullptr when no reader thread was started.
HANDLE StopLink(LinkController *link);
