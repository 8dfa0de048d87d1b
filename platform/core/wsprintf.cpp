// wsprintfW and its bounded forms. One formatter writes into a buffer of a
// known capacity; wsprintfW gives it the 1024 units the handheld's version
// is limited to, wnsprintfW the caller's capacity.
#include "platform/text.h"

#include <type_traits>

namespace {

constexpr size_t kWsprintfLimit = 1024;

// Collects output into dst[0..cap-1), always leaving room for the terminator.
struct Sink {
  WCHAR *dst;
  size_t cap;
  size_t pos = 0;
  void Put(WCHAR c) {
    if (pos + 1 < cap)
      dst[pos++] = c;
  }
  void Pad(WCHAR c, int count) {
    for (int i = 0; i < count; ++i)
      Put(c);
  }
};

struct FieldFormat {
  bool left = false;
  bool zero = false;
  int width = 0;
  int precision = -1;
};

// Writes digits (already in text, most significant first) with sign, zero
// padding and width.
void PutNumber(Sink &out, const FieldFormat &field, bool negative, const char *digits, int ndigits) {
  int zeros = field.precision > ndigits ? field.precision - ndigits : 0;
  int len = ndigits + zeros + (negative ? 1 : 0);
  int pad = field.width > len ? field.width - len : 0;
  if (!field.left && !(field.zero && field.precision < 0))
    out.Pad(u' ', pad);
  if (negative)
    out.Put(u'-');
  if (!field.left && field.zero && field.precision < 0)
    out.Pad(u'0', pad);
  out.Pad(u'0', zeros);
  for (int i = 0; i < ndigits; ++i)
    out.Put(static_cast<WCHAR>(digits[i]));
  if (field.left)
    out.Pad(u' ', pad);
}

void PutUnsigned(Sink &out, const FieldFormat &field, bool negative, uint64_t value, unsigned base,
                 bool upper) {
  char text[24];
  char *end = text + sizeof text;
  char *p = end;
  const char *set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  do {
    *--p = set[value % base];
    value /= base;
  } while (value);
  PutNumber(out, field, negative, p, static_cast<int>(end - p));
}

template <typename Unit> size_t BoundedLength(const Unit *s, int precision) {
  size_t n = 0;
  while (s[n] && (precision < 0 || n < static_cast<size_t>(precision)))
    ++n;
  return n;
}

template <typename Unit> void PutString(Sink &out, const FieldFormat &field, const Unit *s) {
  static const Unit kNull[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
  if (!s)
    s = kNull;
  size_t n = BoundedLength(s, field.precision);
  int pad = field.width > static_cast<int>(n) ? field.width - static_cast<int>(n) : 0;
  if (!field.left)
    out.Pad(field.zero ? u'0' : u' ', pad);
  for (size_t i = 0; i < n; ++i)
    out.Put(static_cast<WCHAR>(static_cast<std::make_unsigned_t<Unit>>(s[i])));
  if (field.left)
    out.Pad(u' ', pad);
}

int Format(WCHAR *dst, size_t cap, const WCHAR *fmt, va_list ap) {
  if (!dst || cap == 0)
    return 0;
  Sink out{dst, cap};
  if (!fmt) {
    dst[0] = 0;
    return 0;
  }
  while (*fmt) {
    if (*fmt != u'%') {
      out.Put(*fmt++);
      continue;
    }
    ++fmt;
    FieldFormat field;
    for (;; ++fmt) {
      if (*fmt == u'-')
        field.left = true;
      else if (*fmt == u'0')
        field.zero = true;
      else if (*fmt != u'+' && *fmt != u' ' && *fmt != u'#')
        break;
    }
    if (*fmt == u'*') {
      field.width = va_arg(ap, int);
      if (field.width < 0) {
        field.left = true;
        field.width = -field.width;
      }
      ++fmt;
    }
    for (; *fmt >= u'0' && *fmt <= u'9'; ++fmt)
      if (field.width < 100000)
        field.width = field.width * 10 + (*fmt - u'0');
    if (*fmt == u'.') {
      ++fmt;
      field.precision = 0;
      for (; *fmt >= u'0' && *fmt <= u'9'; ++fmt)
        if (field.precision < 100000)
          field.precision = field.precision * 10 + (*fmt - u'0');
    }
    // Size prefixes: 'l' and 'h' choose the string/character width as on the
    // handheld, where long is 32 bits, so %ld and %lu read a 32-bit value.
    bool narrow = false, wide = false;
    if (*fmt == u'l') {
      wide = true;
      ++fmt;
    } else if (*fmt == u'h') {
      narrow = true;
      ++fmt;
    }
    WCHAR conv = *fmt;
    if (!conv)
      break;
    ++fmt;
    switch (conv) {
    case u'd':
    case u'i': {
      int v = va_arg(ap, int);
      uint64_t magnitude = v < 0 ? 0u - static_cast<uint64_t>(static_cast<int64_t>(v))
                                 : static_cast<uint64_t>(v);
      PutUnsigned(out, field, v < 0, magnitude, 10, false);
      break;
    }
    case u'u':
      PutUnsigned(out, field, false, va_arg(ap, unsigned), 10, false);
      break;
    case u'x':
    case u'X':
      PutUnsigned(out, field, false, va_arg(ap, unsigned), 16, conv == u'X');
      break;
    case u'p':
      PutUnsigned(out, field, false, reinterpret_cast<uintptr_t>(va_arg(ap, void *)), 16, true);
      break;
    case u'c':
    case u'C': {
      int c = va_arg(ap, int);
      WCHAR unit = (narrow || (conv == u'C' && !wide))
                       ? static_cast<WCHAR>(static_cast<unsigned char>(c))
                       : static_cast<WCHAR>(c);
      WCHAR text[2] = {unit, 0};
      FieldFormat one = field;
      one.precision = -1;
      // A zero character would end the text early; it writes nothing.
      if (unit)
        PutString(out, one, text);
      break;
    }
    case u's':
    case u'S':
      if (narrow || (conv == u'S' && !wide))
        PutString(out, field, va_arg(ap, const char *));
      else
        PutString(out, field, va_arg(ap, const WCHAR *));
      break;
    default:
      // '%%' and unknown conversions: the character itself.
      out.Put(conv);
      break;
    }
  }
  dst[out.pos] = 0;
  return static_cast<int>(out.pos);
}

} // namespace

int wvsprintfW(WCHAR *dst, const WCHAR *fmt, va_list ap) {
  return Format(dst, kWsprintfLimit, fmt, ap);
}

int wsprintfW(WCHAR *dst, const WCHAR *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = Format(dst, kWsprintfLimit, fmt, ap);
  va_end(ap);
  return n;
}

int wvnsprintfW(WCHAR *dst, size_t cch, const WCHAR *fmt, va_list ap) {
  return Format(dst, cch, fmt, ap);
}

int wnsprintfW(WCHAR *dst, size_t cch, const WCHAR *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = Format(dst, cch, fmt, ap);
  va_end(ap);
  return n;
}
