// Text to key presses on the keyboard's scancodes: letters 65-90, digits
// 48-57, the punctuation keys at the code of their unshifted character, and
// Backspace, Tab, Enter, Esc, Space at 8, 9, 13, 27, 32.
#include "typing.h"

#include <cstdlib>
#include <cstring>

namespace {

// US arrangement: the shifted symbol and the key that carries it.
struct ShiftedKey {
  char symbol;
  char key;
};
constexpr ShiftedKey kShifted[] = {
    {'!', '1'}, {'@', '2'}, {'$', '4'}, {'%', '5'}, {'^', '6'}, {'&', '7'}, {'*', '8'},
    {'(', '9'}, {')', '0'}, {'_', '-'}, {'+', '='}, {'{', '['}, {'}', ']'}, {'|', '\\'},
    {':', ';'}, {'"', '\''}, {'<', ','}, {'>', '.'}, {'?', '/'}, {'~', '`'},
};

// The punctuation keys, each at the code of its own character.
constexpr char kPunctuationKeys[] = "#',-./;=[\\]`";

int UnshiftedKey(char c) {
  if (c >= 'a' && c <= 'z')
    return c - 'a' + 'A';
  if (c >= '0' && c <= '9')
    return c;
  if (c == ' ')
    return 32;
  if (c == '\n')
    return 13;
  if (c == '\t')
    return 9;
  if (c == '\b')
    return 8;
  if (c == 27)
    return 27;
  if (c != 0 && strchr(kPunctuationKeys, c))
    return static_cast<unsigned char>(c);
  return -1;
}

} // namespace

bool TextToScancodes(const std::string &text, std::vector<uint8_t> &keys, std::string &error) {
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    int key = UnshiftedKey(c);
    if (key >= 0) {
      keys.push_back(static_cast<uint8_t>(key));
      continue;
    }
    if (c >= 'A' && c <= 'Z') {
      keys.push_back(kKeyShift);
      keys.push_back(static_cast<uint8_t>(c));
      continue;
    }
    bool found = false;
    for (const ShiftedKey &s : kShifted) {
      if (s.symbol == c) {
        keys.push_back(kKeyShift);
        keys.push_back(static_cast<uint8_t>(UnshiftedKey(s.key)));
        found = true;
        break;
      }
    }
    if (!found) {
      // Show the whole UTF-8 character, not just its first byte.
      size_t len = 1;
      while (i + len < text.size() && (static_cast<unsigned char>(text[i + len]) & 0xC0) == 0x80)
        ++len;
      error = "no key of the keyboard types '" + text.substr(i, len) + "' (character " +
              std::to_string(i + 1) + ")";
      return false;
    }
  }
  return true;
}

bool ParseByteList(const std::string &list, std::vector<uint8_t> &bytes, std::string &error) {
  size_t i = 0;
  while (i < list.size()) {
    if (list[i] == ',' || list[i] == ' ') {
      ++i;
      continue;
    }
    size_t end = list.find_first_of(", ", i);
    std::string item = list.substr(i, end == std::string::npos ? std::string::npos : end - i);
    char *stop = nullptr;
    long v = strtol(item.c_str(), &stop, 0);
    if (item.empty() || *stop || v < 0 || v > 255) {
      error = "'" + item + "' is not a byte value (0..255, decimal or 0x hex)";
      return false;
    }
    bytes.push_back(static_cast<uint8_t>(v));
    i = end == std::string::npos ? list.size() : end;
  }
  return true;
}
