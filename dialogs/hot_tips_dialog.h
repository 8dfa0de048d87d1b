// The hot tips page (template 133). It may be left open behind other windows
// (Alt+Esc brings it back), so a second request only shows it again.
#pragma once

#include "platform/window.h"

// When the page is open (AppGlobals.hotTipsOpen): shows it again
// (AppGlobals.openDialog) and returns at once. Otherwise runs it modally,
// owned by owner, with returnWindow as AppGlobals.hotTipsReturnWindow (the
// window shown again when the page closes; null for none), and returns when
// it has closed. Opens nothing, and leaves hotTipsOpen at 0, when the
// template is not present.
void OpenHotTipsDialog(HWND owner, HWND returnWindow);

INT_PTR HotTipsDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
