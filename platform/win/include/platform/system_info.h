// Windows build: system information is Win32's; the handheld's platform
// type is answered as the desktop's.
#pragma once

#include "platform/wintypes.h"

#define SPI_GETPLATFORMTYPE 257
// SPI_GETPLATFORMTYPE gives u"Desktop"; other actions are Win32's.
BOOL VantrelSystemParametersInfoW(UINT action, UINT uiParam, LPVOID pv, UINT winIni);
#define SystemParametersInfoW VantrelSystemParametersInfoW
// Win32's, with the version the system tells (RtlGetVersion), not the one
// it lets an unmarked program see.
BOOL VantrelGetVersionExW(OSVERSIONINFOW *info);
#define GetVersionExW VantrelGetVersionExW
#define VER_PLATFORM_WIN32_CE 3
