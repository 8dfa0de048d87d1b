// UTF-8 decoding with the Windows-1252 fallback for stray bytes.
#include "platform/core/utf8_decode.h"

namespace vantrel_text {

uint32_t Cp1252ToUnicode(unsigned char byte) {
  static const uint16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  if (byte >= 0x80 && byte <= 0x9F)
    return kHigh[byte - 0x80];
  return byte;
}

uint32_t DecodeChar(const unsigned char *s, const unsigned char *end, size_t *length) {
  unsigned char b = s[0];
  *length = 1;
  if (b < 0x80)
    return b;
  size_t need;
  uint32_t cp, min;
  if (b >= 0xC2 && b <= 0xDF) {
    need = 1;
    cp = b & 0x1F;
    min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    need = 2;
    cp = b & 0x0F;
    min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    need = 3;
    cp = b & 0x07;
    min = 0x10000;
  } else {
    return Cp1252ToUnicode(b);
  }
  for (size_t i = 1; i <= need; ++i) {
    // A zero byte ends the text, and is not a continuation byte either, so
    // reading stops there without passing the terminator.
    if ((end && s + i >= end) || (s[i] & 0xC0) != 0x80)
      return Cp1252ToUnicode(b);
    cp = (cp << 6) | (s[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    return Cp1252ToUnicode(b);
  *length = need + 1;
  return cp;
}

} // namespace vantrel_text
