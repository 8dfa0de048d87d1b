// The C runtime's wide-string helpers for WCHAR (char16_t) text.
#include "platform/text.h"

size_t wcslen(const WCHAR *s) {
  const WCHAR *p = s;
  while (*p)
    ++p;
  return static_cast<size_t>(p - s);
}

WCHAR *wcscpy(WCHAR *dst, const WCHAR *src) {
  WCHAR *d = dst;
  while ((*d++ = *src++) != 0) {
  }
  return dst;
}

WCHAR *wcsncpy(WCHAR *dst, const WCHAR *src, size_t n) {
  size_t i = 0;
  for (; i < n && src[i]; ++i)
    dst[i] = src[i];
  for (; i < n; ++i)
    dst[i] = 0;
  return dst;
}

WCHAR *wcscat(WCHAR *dst, const WCHAR *src) {
  wcscpy(dst + wcslen(dst), src);
  return dst;
}

int wcscmp(const WCHAR *a, const WCHAR *b) {
  while (*a && *a == *b) {
    ++a;
    ++b;
  }
  return (*a > *b) - (*a < *b);
}

int wcsncmp(const WCHAR *a, const WCHAR *b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i])
      return (a[i] > b[i]) - (a[i] < b[i]);
    if (!a[i])
      return 0;
  }
  return 0;
}

// Lower case for ASCII and the Latin-1 letters (not the multiplication and
// division signs, which sit among them).
static WCHAR FoldCase(WCHAR c) {
  if (c >= u'A' && c <= u'Z')
    return static_cast<WCHAR>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
    return static_cast<WCHAR>(c + 32);
  return c;
}

int _wcsicmp(const WCHAR *a, const WCHAR *b) {
  for (;; ++a, ++b) {
    WCHAR x = FoldCase(*a), y = FoldCase(*b);
    if (x != y || !x)
      return (x > y) - (x < y);
  }
}

const WCHAR *wcschr(const WCHAR *s, WCHAR c) {
  for (;; ++s) {
    if (*s == c)
      return s;
    if (!*s)
      return nullptr;
  }
}

const WCHAR *wcsrchr(const WCHAR *s, WCHAR c) {
  const WCHAR *found = nullptr;
  for (;; ++s) {
    if (*s == c)
      found = s;
    if (!*s)
      return found;
  }
}

const WCHAR *wcsstr(const WCHAR *haystack, const WCHAR *needle) {
  if (!*needle)
    return haystack;
  size_t n = wcslen(needle);
  for (; *haystack; ++haystack)
    if (*haystack == *needle && wcsncmp(haystack, needle, n) == 0)
      return haystack;
  return nullptr;
}

// Like the C runtime: leading blanks, an optional sign, decimal digits; stops
// at the first other character. Overflow wraps instead of being undefined.
int _wtoi(const WCHAR *s) {
  while (*s == u' ' || (*s >= u'\t' && *s <= u'\r'))
    ++s;
  bool negative = false;
  if (*s == u'-' || *s == u'+')
    negative = *s++ == u'-';
  uint32_t value = 0;
  for (; *s >= u'0' && *s <= u'9'; ++s)
    value = value * 10u + static_cast<uint32_t>(*s - u'0');
  return static_cast<int>(negative ? 0u - value : value);
}

WCHAR *WStrCopyN(WCHAR *dst, size_t cch, const WCHAR *src) {
  if (cch == 0)
    return dst;
  size_t i = 0;
  for (; i + 1 < cch && src[i]; ++i)
    dst[i] = src[i];
  dst[i] = 0;
  return dst;
}
