// UTF-16 string helpers with the C runtime's names, overloaded for WCHAR
// (char16_t) so that code written for the handheld's wide strings reads the
// same here. wchar_t is 32-bit on Linux, so the C library's own wide
// functions cannot be used on WCHAR text.
// On Windows, WCHAR is char16_t too, and these stand beside the C library's
// wchar_t ones.
//
// The C runtime's helpers behave as there: arguments must be valid
// terminated strings (null is not checked), destinations are the caller's
// and must be large enough; they return dst, a pointer into the caller's
// string, or nullptr for "not found". The functions below them say their own
// limits.
#pragma once

#include "platform/wintypes.h"

#include <cstdarg>
#include <string>

size_t wcslen(const WCHAR *s);
WCHAR *wcscpy(WCHAR *dst, const WCHAR *src);
// Copies at most n units; like the C runtime, pads with zeros and does not
// terminate when src has n or more units.
WCHAR *wcsncpy(WCHAR *dst, const WCHAR *src, size_t n);
WCHAR *wcscat(WCHAR *dst, const WCHAR *src);
int wcscmp(const WCHAR *a, const WCHAR *b);
int wcsncmp(const WCHAR *a, const WCHAR *b, size_t n);
// Case-insensitive compare (ASCII letters and Latin-1 letters folded; other
// letters compare as they are, unlike Win32, which folds all).
int _wcsicmp(const WCHAR *a, const WCHAR *b);
const WCHAR *wcschr(const WCHAR *s, WCHAR c);
const WCHAR *wcsstr(const WCHAR *haystack, const WCHAR *needle);
const WCHAR *wcsrchr(const WCHAR *s, WCHAR c);
// Leading blanks, a sign and decimal digits; 0 when there are none.
// Overflow wraps around instead of being undefined.
int _wtoi(const WCHAR *s);

// Bounded copy: copies at most cch-1 units and always terminates (cch > 0;
// with cch 0 nothing is written). Returns dst.
WCHAR *WStrCopyN(WCHAR *dst, size_t cch, const WCHAR *src);

// wsprintfW as on the handheld: %s (WCHAR*), %d, %u, %x, %X, %c, %%, with the
// flags '-' and '0' and a width. Writes at most 1024 units including the
// terminator, as the original does (so dst must hold 1024 units unless the
// result is known to be shorter); returns the number of units written
// without the terminator. A null %s prints "(null)"; a null dst or format
// writes nothing and returns 0.
// On Windows <windows.h> declares these two, as Win32's own.
#ifndef _WIN32
int wsprintfW(WCHAR *dst, const WCHAR *fmt, ...);
int wvsprintfW(WCHAR *dst, const WCHAR *fmt, va_list ap);
#endif
// The same with an explicit capacity in units (including the terminator);
// output is cut to fit and always terminated when cch > 0.
int wnsprintfW(WCHAR *dst, size_t cch, const WCHAR *fmt, ...);
int wvnsprintfW(WCHAR *dst, size_t cch, const WCHAR *fmt, va_list ap);

// Multibyte-to-wide conversion of the data files: UTF-8, where a byte that is
// not part of a valid UTF-8 sequence is read as Windows-1252. Converts src up
// to its terminator or until n units have been written to dst; writes the
// terminator when room is left. Characters above U+FFFF become U+FFFD.
// Returns the number of units written without the terminator.
size_t mbstowcs(WCHAR *dst, const char *src, size_t n);

// Conversions for the platform layer and tools (not used by the logic).
// They return new strings; a byte that is not valid UTF-8 reads as
// Windows-1252, characters above U+FFFF stay surrogate pairs, a lone
// surrogate becomes U+FFFD in UTF-8, and a null pointer gives "".
std::u16string Utf8ToUtf16(const std::string &s);
std::string Utf16ToUtf8(const WCHAR *s);
std::string Utf16ToUtf8(const std::u16string &s);
// Appends the UTF-8 form of the code point cp (at most U+10FFFF; surrogates
// are the caller's to avoid) to out.
void AppendUtf8(std::string &out, char32_t cp);
