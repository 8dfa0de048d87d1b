// The soft-key bar under a window: the main window's and each dialog
// page's. Kept with the dialogs, which the shell uses too, so a dialog never
// needs the main window's code.
#pragma once

#include "platform/wintypes.h"

// Builds the soft-key bar of menu bar resource barId for window. Returns the
// bar window (owned by window, destroyed with it), or nullptr after a
// "SHCreateMenuBar Failed" message box.
HWND CreateMenuBar(HWND window, UINT barId);
