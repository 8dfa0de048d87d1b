// Output formats of vantrel-reg.
#include "tools/vantrel-reg/value_format.h"

#include "platform/registry.h"
#include "platform/text.h"

#include <cstdio>
#include <cstring>

std::string PrintableText(const std::u16string &text) {
  std::u16string clean;
  std::string out;
  // Control characters are escaped before conversion, so the converter only
  // sees printable text.
  for (char16_t c : text) {
    if (c < 0x20 || c == 0x7F) {
      if (!clean.empty()) {
        out += Utf16ToUtf8(clean);
        clean.clear();
      }
      char esc[8];
      snprintf(esc, sizeof esc, "\\x%02X", static_cast<unsigned>(c));
      out += esc;
    } else {
      clean += c;
    }
  }
  if (!clean.empty())
    out += Utf16ToUtf8(clean);
  return out;
}

std::string TypeName(DWORD type) {
  switch (type) {
  case REG_NONE:
    return "REG_NONE";
  case REG_SZ:
    return "REG_SZ";
  case REG_EXPAND_SZ:
    return "REG_EXPAND_SZ";
  case REG_BINARY:
    return "REG_BINARY";
  case REG_DWORD:
    return "REG_DWORD";
  case REG_MULTI_SZ:
    return "REG_MULTI_SZ";
  default:
    return "REG_TYPE_" + std::to_string(type);
  }
}

std::string ValueText(DWORD type, const std::vector<BYTE> &data) {
  if (type == REG_DWORD && data.size() == 4) {
    DWORD v = 0;
    memcpy(&v, data.data(), 4);
    return std::to_string(v);
  }
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    std::u16string text;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
      char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
      if (c == 0)
        break;
      text += c;
    }
    return PrintableText(text);
  }
  std::string out;
  char hex[4];
  for (size_t i = 0; i < data.size(); ++i) {
    snprintf(hex, sizeof hex, i ? " %02x" : "%02x", data[i]);
    out += hex;
  }
  return out;
}
