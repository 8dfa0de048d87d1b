// What the program asks of the system about itself: screen size, platform
// type, version and language. None of these needs the desktop toolkit.
#pragma once

#include "platform/wintypes.h"

typedef WORD LANGID;
typedef DWORD LCID;
typedef DWORD LCTYPE;

#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
// The size of a default top-level window (480 x 640); other indices 0.
int GetSystemMetrics(int index);

// SPI_GETPLATFORMTYPE: writes "PocketPC", or "Smartphone" when
// VANTREL_PLATFORM says Smartphone (compared without regard to case), into
// pv, a buffer of uiParam bytes. FALSE (and ERROR_INSUFFICIENT_BUFFER) when
// it does not fit; FALSE for other actions.
#define SPI_GETPLATFORMTYPE 257
#define ERROR_INSUFFICIENT_BUFFER 122L
BOOL SystemParametersInfoW(UINT action, UINT uiParam, LPVOID pv, UINT winIni);

struct OSVERSIONINFOW {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  WCHAR szCSDVersion[128];
};
#define VER_PLATFORM_WIN32_CE 3
// Version 5.2, platform CE. FALSE for a null pointer.
BOOL GetVersionExW(OSVERSIONINFOW *info);

// Language identifiers: primary language in the low 10 bits, sub-language
// above. Both queries read the POSIX locale (LC_ALL, LC_MESSAGES, LANG in
// that order); "C", "POSIX" or an unknown language answer US English 0x0409.
LANGID GetSystemDefaultLangID();
LANGID GetUserDefaultLangID();
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))
#define PRIMARYLANGID(l) ((WORD)(l) & 0x3ff)
#define SUBLANGID(l) ((WORD)(l) >> 10)
#define SORT_DEFAULT 0x0
#define MAKELCID(l, s) ((DWORD)((((DWORD)((WORD)(s))) << 16) | ((DWORD)((WORD)(l)))))
#define LOCALE_SYSTEM_DEFAULT 0x0800
#define LOCALE_USER_DEFAULT 0x0400

// LOCALE_SLANGUAGE: the language's name in that language ("English",
// "Deutsch", "Français", "Español", ...). Returns the units written including
// the terminator; with max 0 the units needed; 0 when it does not fit or
// the type is unknown.
#define LOCALE_SLANGUAGE 0x00000002
#define LOCALE_SENGLANGUAGE 0x00001001
int GetLocaleInfoW(LCID locale, LCTYPE type, LPWSTR buffer, int max);
