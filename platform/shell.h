// The shell's part of the window system: the soft-key menu bar, dialog
// set-up, the on-screen keyboard preference (platform/handheld_shell.h), and
// the resource loaders.
#pragma once

#include "platform/menus.h"
#include "platform/resource_formats.h"
#include "platform/window.h"

#include "platform/handheld_shell.h"

// Copies string table entry id into buffer (at most max - 1 units and a
// terminator); returns the units copied, 0 when the entry does not exist.
// max 0 is refused (0).
int LoadStringW(HINSTANCE inst, UINT id, LPWSTR buffer, int max);
// An icon from an RT_ICON (or RT_GROUP_ICON) IMAGERESOURCE; null when absent
// or unreadable. Icons are cached and never released: no DestroyIcon needed.
HICON LoadIconW(HINSTANCE inst, LPCWSTR name);
#define IDC_ARROW MAKEINTRESOURCEW(32512)
#define IDC_WAIT MAKEINTRESOURCEW(32514)
// System cursors only (inst null); a token the window system understands.
HCURSOR LoadCursorW(HINSTANCE inst, LPCWSTR name);
// The program defines no accelerators: LoadAcceleratorsW returns null unless
// an RT_ACCELERATOR resource is registered, and TranslateAcceleratorW never
// translates (returns 0).
HACCEL LoadAcceleratorsW(HINSTANCE inst, LPCWSTR name);
int TranslateAcceleratorW(HWND hwnd, HACCEL accel, MSG *msg);
