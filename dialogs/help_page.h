// The help text page (template 135): shows a text file of InstallDir.
#pragma once

#include "platform/wintypes.h"

// The file the page shows: a device path of at most 255 characters.
extern WCHAR helpPagePath[256];

// Copies path into helpPagePath (cut to 255 characters) and runs the page
// modally, owned by owner; returns when it has closed. Opens nothing when the
// template is not present.
void OpenHelpPage(HWND owner, LPCWSTR path);
