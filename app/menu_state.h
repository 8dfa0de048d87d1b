// Check and grey states of the Options menu's items, by command identifier.
// Each operation does nothing while AppGlobals.optionsMenu is 0 (no menu
// bar, or not yet known).
#pragma once

#include "platform/wintypes.h"

namespace MenuState {
void Check(UINT command);   // enables the item and sets its check mark
void Uncheck(UINT command); // clears the check mark, enabled state unchanged
void Grey(UINT command);    // greys (disables) the item
void Enable(UINT command);  // enables the item
} // namespace MenuState
