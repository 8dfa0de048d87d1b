// Windows build: Win32's wsprintfW and wvsprintfW (with the program's own
// formatting, platform/core/wsprintf.cpp), and the C library's wide string
// calls for char16_t text, as overloads beside the wchar_t ones. What they
// return is as in the other build's platform/text.h.
#pragma once

#include "platform/wintypes.h"

#include <cstdarg>
#include <string>

size_t wcslen(const WCHAR *s);
WCHAR *wcscpy(WCHAR *dst, const WCHAR *src);
WCHAR *wcsncpy(WCHAR *dst, const WCHAR *src, size_t n);
WCHAR *wcscat(WCHAR *dst, const WCHAR *src);
int wcscmp(const WCHAR *a, const WCHAR *b);
int wcsncmp(const WCHAR *a, const WCHAR *b, size_t n);
int _wcsicmp(const WCHAR *a, const WCHAR *b);
const WCHAR *wcschr(const WCHAR *s, WCHAR c);
const WCHAR *wcsstr(const WCHAR *haystack, const WCHAR *needle);
const WCHAR *wcsrchr(const WCHAR *s, WCHAR c);
int _wtoi(const WCHAR *s);
// Copies at most cch - 1 units and a terminator; returns dst.
WCHAR *WStrCopyN(WCHAR *dst, size_t cch, const WCHAR *src);
// Bounded formatting into cch units (terminator included); returns the
// units written without the terminator.
int wnsprintfW(WCHAR *dst, size_t cch, const WCHAR *fmt, ...);
int wvnsprintfW(WCHAR *dst, size_t cch, const WCHAR *fmt, va_list ap);
size_t mbstowcs(WCHAR *dst, const char *src, size_t n);
std::u16string Utf8ToUtf16(const std::string &s);
std::string Utf16ToUtf8(const WCHAR *s);
std::string Utf16ToUtf8(const std::u16string &s);
void AppendUtf8(std::string &out, char32_t cp);
