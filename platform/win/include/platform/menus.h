// Windows build: menus are Win32's own; LoadMenuW builds one from the
// program's menu table (platform/resource_formats.h) registered in memory.
#pragma once

#include "platform/window.h"

// A new menu bar with the table's pop-ups, owned by the caller
// (DestroyMenu); null for a table not registered.
HMENU VantrelLoadMenuW(HINSTANCE inst, LPCWSTR name);
#define LoadMenuW VantrelLoadMenuW
