// The help text page (template 135): shows a text file of InstallDir.
#pragma once

#include "platform/window.h"

// Copies path into AppGlobals.helpPagePath (cut to 255 characters) and runs
// the page modally, owned by owner; returns when it has closed. Opens nothing
// when the template is not present.
void OpenHelpPage(HWND owner, LPCWSTR path);

INT_PTR HelpPageProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
