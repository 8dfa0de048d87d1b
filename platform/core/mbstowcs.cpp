// The multibyte-to-wide conversion of the data files.
#include "platform/core/utf8_decode.h"
#include "platform/text.h"

size_t mbstowcs(WCHAR *dst, const char *src, size_t n) {
  if (!src)
    return 0;
  const unsigned char *s = reinterpret_cast<const unsigned char *>(src);
  size_t written = 0;
  // Without a destination only the length is wanted, as in the C runtime.
  while (*s && (!dst || written < n)) {
    size_t len;
    uint32_t cp = vantrel_text::DecodeChar(s, nullptr, &len);
    s += len;
    if (dst)
      dst[written] = static_cast<WCHAR>(cp > 0xFFFF ? 0xFFFD : cp);
    ++written;
  }
  if (dst && written < n)
    dst[written] = 0;
  return written;
}
