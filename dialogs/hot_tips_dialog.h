// The hot tips page (template 133). It may be left open behind other windows
// (Alt+Esc brings it back), so a second request only shows it again.
#pragma once

#include "platform/wintypes.h"

#include <cstdint>

// 1 while the page is open (set here, cleared by the page when it closes).
extern uint8_t hotTipsOpen;
// The window to show again when the page closes; null for none.
extern HWND hotTipsReturnWindow;

// When the page is open: shows it again (AppGlobals.openDialog) and returns
// at once. Otherwise runs it modally, owned by owner, with returnWindow as
// hotTipsReturnWindow, and returns when it has closed. Opens nothing, and
// leaves hotTipsOpen at 0, when the template is not present.
void OpenHotTipsDialog(HWND owner, HWND returnWindow);
