// The two steps every part of the link takes on AppGlobals: moving the
// link's state, and showing the status text of a connection attempt.
#pragma once

#include "platform/wintypes.h"

#include <cstdint>

// Moves AppGlobals.linkState from `from` to `to` unless another thread
// changed it meanwhile (the reader thread and the user interface thread race
// on it). Returns true when the move happened.
bool AdvanceLinkState(int32_t from, int32_t to);

// Shows `text` (copied; cut to the status text's size) as the status of a
// connection attempt and tells the main window. The connect button stays
// enabled (wParam 1) so that the attempt can be cancelled.
void ShowAttemptStatus(const WCHAR *text);
