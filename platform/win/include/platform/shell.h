// Windows build: the handheld shell's calls the program uses, made of
// Win32's: a menu bar is the window's own menu (the program's bar table
// made into a Win32 menu), SHInitDialog sizes nothing, and the strings and
// the icon come from the program's tables in memory.
#pragma once

#include "platform/menus.h"
#include "platform/resource_formats.h"
#include "platform/window.h"

#include "platform/handheld_shell.h"

// The string table entry id from the program's table (then the
// executable's); as Win32's LoadStringW otherwise.
int VantrelLoadStringW(HINSTANCE inst, UINT id, LPWSTR buffer, int max);
// The program's icon (RT_ICON, a .ico image) when registered; else
// Win32's.
HICON VantrelLoadIconW(HINSTANCE inst, LPCWSTR name);
#define LoadStringW VantrelLoadStringW
#define LoadIconW VantrelLoadIconW
