// Key and value names: their UTF-8 form in the database, the case-folded
// form they are compared by, and key paths.
#include "platform/registry/registry_db.h"
#include "platform/text.h"

namespace registry {

namespace {

// ASCII A-Z and the Latin-1 capitals (U+00C0..U+00DE except U+00D7, the
// multiplication sign) fold to their small letters.
inline char32_t FoldUnit(char32_t c) {
  if (c >= u'A' && c <= u'Z')
    return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
    return c + 32;
  return c;
}

} // namespace

std::string EncodeName(const WCHAR *name, size_t units, bool fold) {
  std::string out;
  out.reserve(units + 4);
  for (size_t i = 0; i < units; ++i) {
    char32_t c = name[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units && name[i + 1] >= 0xDC00 &&
        name[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (name[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(out, fold ? FoldUnit(c) : c);
  }
  return out;
}

std::u16string DecodeName(const unsigned char *s, size_t n) {
  std::u16string out;
  out.reserve(n);
  size_t i = 0;
  while (i < n) {
    unsigned char b = s[i];
    char32_t c;
    size_t len;
    if (b < 0x80) {
      c = b;
      len = 1;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F;
      len = 2;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F;
      len = 3;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07;
      len = 4;
    } else {
      // Not written by EncodeName (the file was edited by hand): keep the
      // byte as its Latin-1 character rather than lose it.
      out += static_cast<char16_t>(b);
      ++i;
      continue;
    }
    if (i + len > n) {
      out += static_cast<char16_t>(b);
      ++i;
      continue;
    }
    bool ok = true;
    for (size_t k = 1; k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (s[i + k] & 0x3F);
    }
    if (!ok) {
      out += static_cast<char16_t>(b);
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += len;
  }
  return out;
}

bool SplitKeyPath(const WCHAR *subKey, std::vector<PathPart> *parts) {
  parts->clear();
  if (!subKey)
    return true;
  const WCHAR *p = subKey;
  while (*p) {
    while (*p == u'\\')
      ++p;
    const WCHAR *start = p;
    while (*p && *p != u'\\')
      ++p;
    size_t units = static_cast<size_t>(p - start);
    if (units == 0)
      continue;
    if (units > kMaxKeyNameUnits)
      return false;
    parts->push_back(PathPart{EncodeName(start, units, false), EncodeName(start, units, true)});
  }
  return true;
}

std::string JoinPath(const std::string &parentPath, const std::string &fold) {
  if (parentPath.empty())
    return fold;
  std::string out;
  out.reserve(parentPath.size() + 1 + fold.size());
  out += parentPath;
  out += '\\';
  out += fold;
  return out;
}

} // namespace registry
