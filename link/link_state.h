// The two steps every part of the link takes on AppGlobals: moving the
// link's state, and showing the status text of a connection attempt.
#pragma once

#include "platform/wintypes.h"

#include <cstdint>

// Moves AppGlobals.linkState from `from` to `to` unless another thread
// changed it meanwhile (the reader thread and the user interface thread race
// on it). Returns true when the move happened (and then wakes the reader
// thread, see WakeLinkReader).
bool AdvanceLinkState(int32_t from, int32_t to);

// Ends the reader thread's wait for the keyboard's next byte while typing
// (SetCommMask on the port), so that it looks at linkState again. Every
// change of linkState made from another thread is followed by it:
// AdvanceLinkState does it, and the few plain stores call it. Any thread;
// nothing happens without an open port.
void WakeLinkReader();

// Shows `text` (copied; cut to the status text's size) as the status of a
// connection attempt and tells the main window. The connect button stays
// enabled (wParam 1) so that the attempt can be cancelled.
void ShowAttemptStatus(const WCHAR *text);
