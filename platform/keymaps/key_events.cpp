// The input events that type keys and characters (see key_events.h).
#include "platform/keymaps/key_events.h"

#include <cerrno>
#include <cstring>
#include <linux/input.h>
#include <unistd.h>

namespace {

// Virtual key -> US key position. Letters and digits are filled in by code.
struct VkKey {
  BYTE vk;
  uint16_t key;
};
constexpr VkKey kVkKeys[] = {
    {0x08, KEY_BACKSPACE}, {0x09, KEY_TAB},       {0x0C, KEY_CLEAR},      {0x0D, KEY_ENTER},
    {0x10, KEY_LEFTSHIFT}, {0x11, KEY_LEFTCTRL},  {0x12, KEY_LEFTALT},    {0x13, KEY_PAUSE},
    {0x14, KEY_CAPSLOCK},  {0x1B, KEY_ESC},       {0x20, KEY_SPACE},      {0x21, KEY_PAGEUP},
    {0x22, KEY_PAGEDOWN},  {0x23, KEY_END},       {0x24, KEY_HOME},       {0x25, KEY_LEFT},
    {0x26, KEY_UP},        {0x27, KEY_RIGHT},     {0x28, KEY_DOWN},       {0x29, KEY_SELECT},
    {0x2A, KEY_PRINT},     {0x2C, KEY_SYSRQ},     {0x2D, KEY_INSERT},     {0x2E, KEY_DELETE},
    {0x2F, KEY_HELP},      {0x5B, KEY_LEFTMETA},  {0x5C, KEY_RIGHTMETA},  {0x5D, KEY_COMPOSE},
    {0x5F, KEY_SLEEP},     {0x60, KEY_KP0},       {0x61, KEY_KP1},        {0x62, KEY_KP2},
    {0x63, KEY_KP3},       {0x64, KEY_KP4},       {0x65, KEY_KP5},        {0x66, KEY_KP6},
    {0x67, KEY_KP7},       {0x68, KEY_KP8},       {0x69, KEY_KP9},        {0x6A, KEY_KPASTERISK},
    {0x6B, KEY_KPPLUS},    {0x6C, KEY_KPCOMMA},   {0x6D, KEY_KPMINUS},    {0x6E, KEY_KPDOT},
    {0x6F, KEY_KPSLASH},   {0x90, KEY_NUMLOCK},   {0x91, KEY_SCROLLLOCK}, {0xA0, KEY_LEFTSHIFT},
    {0xA1, KEY_RIGHTSHIFT}, {0xA2, KEY_LEFTCTRL}, {0xA3, KEY_RIGHTCTRL},  {0xA4, KEY_LEFTALT},
    {0xA5, KEY_RIGHTALT},  {0xBA, KEY_SEMICOLON}, {0xBB, KEY_EQUAL},      {0xBC, KEY_COMMA},
    {0xBD, KEY_MINUS},     {0xBE, KEY_DOT},       {0xBF, KEY_SLASH},      {0xC0, KEY_GRAVE},
    {0xDB, KEY_LEFTBRACE}, {0xDC, KEY_BACKSLASH}, {0xDD, KEY_RIGHTBRACE}, {0xDE, KEY_APOSTROPHE},
    {0xE2, KEY_102ND},
};

constexpr uint16_t kLetterKeys[26] = {
    KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I, KEY_J, KEY_K, KEY_L, KEY_M,
    KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R, KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z};
constexpr uint16_t kDigitKeys[10] = {KEY_0, KEY_1, KEY_2, KEY_3, KEY_4,
                                     KEY_5, KEY_6, KEY_7, KEY_8, KEY_9};
constexpr uint16_t kFunctionKeys[24] = {
    KEY_F1,  KEY_F2,  KEY_F3,  KEY_F4,  KEY_F5,  KEY_F6,  KEY_F7,  KEY_F8,
    KEY_F9,  KEY_F10, KEY_F11, KEY_F12, KEY_F13, KEY_F14, KEY_F15, KEY_F16,
    KEY_F17, KEY_F18, KEY_F19, KEY_F20, KEY_F21, KEY_F22, KEY_F23, KEY_F24};

// Printable ASCII punctuation on a US keyboard: the key and whether it needs Shift.
struct CharKey {
  char c;
  uint16_t key;
  bool shift;
};
constexpr CharKey kPunctuation[] = {
    {' ', KEY_SPACE, false},      {'!', KEY_1, true},           {'"', KEY_APOSTROPHE, true},
    {'#', KEY_3, true},           {'$', KEY_4, true},           {'%', KEY_5, true},
    {'&', KEY_7, true},           {'\'', KEY_APOSTROPHE, false}, {'(', KEY_9, true},
    {')', KEY_0, true},           {'*', KEY_8, true},           {'+', KEY_EQUAL, true},
    {',', KEY_COMMA, false},      {'-', KEY_MINUS, false},      {'.', KEY_DOT, false},
    {'/', KEY_SLASH, false},      {':', KEY_SEMICOLON, true},   {';', KEY_SEMICOLON, false},
    {'<', KEY_COMMA, true},       {'=', KEY_EQUAL, false},      {'>', KEY_DOT, true},
    {'?', KEY_SLASH, true},       {'@', KEY_2, true},           {'[', KEY_LEFTBRACE, false},
    {'\\', KEY_BACKSLASH, false}, {']', KEY_RIGHTBRACE, false}, {'^', KEY_6, true},
    {'_', KEY_MINUS, true},       {'`', KEY_GRAVE, false},      {'{', KEY_LEFTBRACE, true},
    {'|', KEY_BACKSLASH, true},   {'}', KEY_RIGHTBRACE, true},  {'~', KEY_GRAVE, true},
};

void Syn(std::vector<KeyInputEvent> &out) { out.push_back({EV_SYN, SYN_REPORT, 0}); }

} // namespace

unsigned UinputKeyForVk(BYTE vk) {
  if (vk >= 'A' && vk <= 'Z')
    return kLetterKeys[vk - 'A'];
  if (vk >= '0' && vk <= '9')
    return kDigitKeys[vk - '0'];
  if (vk >= 0x70 && vk <= 0x87)
    return kFunctionKeys[vk - 0x70];
  for (const VkKey &e : kVkKeys)
    if (e.vk == vk)
      return e.key;
  return 0;
}

void AppendKeyEvent(std::vector<KeyInputEvent> &out, unsigned key, bool down) {
  out.push_back({EV_KEY, static_cast<uint16_t>(key), down ? 1 : 0});
  Syn(out);
}

void AppendKeyTap(std::vector<KeyInputEvent> &out, unsigned key, bool shifted) {
  if (shifted)
    AppendKeyEvent(out, KEY_LEFTSHIFT, true);
  AppendKeyEvent(out, key, true);
  AppendKeyEvent(out, key, false);
  if (shifted)
    AppendKeyEvent(out, KEY_LEFTSHIFT, false);
}

bool AppendCharacter(std::vector<KeyInputEvent> &out, uint32_t cp) {
  if (cp >= 'a' && cp <= 'z') {
    AppendKeyTap(out, kLetterKeys[cp - 'a'], false);
    return true;
  }
  if (cp >= 'A' && cp <= 'Z') {
    AppendKeyTap(out, kLetterKeys[cp - 'A'], true);
    return true;
  }
  if (cp >= '0' && cp <= '9') {
    AppendKeyTap(out, kDigitKeys[cp - '0'], false);
    return true;
  }
  switch (cp) {
  case 8: AppendKeyTap(out, KEY_BACKSPACE, false); return true;
  case 9: AppendKeyTap(out, KEY_TAB, false); return true;
  case 10:
  case 13: AppendKeyTap(out, KEY_ENTER, false); return true;
  case 27: AppendKeyTap(out, KEY_ESC, false); return true;
  case 127: AppendKeyTap(out, KEY_DELETE, false); return true;
  default: break;
  }
  for (const CharKey &e : kPunctuation) {
    if (static_cast<uint32_t>(static_cast<unsigned char>(e.c)) == cp) {
      AppendKeyTap(out, e.key, e.shift);
      return true;
    }
  }
  if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || (cp >= 0xD800 && cp < 0xE000) || cp >= 0x110000)
    return false;
  // Ctrl+Shift+U starts hexadecimal entry; the digits follow with the
  // modifiers released, and Space ends the entry.
  AppendKeyEvent(out, KEY_LEFTCTRL, true);
  AppendKeyEvent(out, KEY_LEFTSHIFT, true);
  AppendKeyTap(out, KEY_U, false);
  AppendKeyEvent(out, KEY_LEFTSHIFT, false);
  AppendKeyEvent(out, KEY_LEFTCTRL, false);
  char hex[9];
  int n = 0;
  for (int shift = 20; shift >= 0; shift -= 4) {
    unsigned digit = (cp >> shift) & 0xF;
    if (digit || n || shift == 0)
      hex[n++] = "0123456789abcdef"[digit];
  }
  for (int i = 0; i < n; ++i) {
    char h = hex[i];
    AppendKeyTap(out, h <= '9' ? kDigitKeys[h - '0'] : kLetterKeys[h - 'a'], false);
  }
  AppendKeyTap(out, KEY_SPACE, false);
  return true;
}

bool WriteKeyEvents(int fd, const std::vector<KeyInputEvent> &events) {
  for (const KeyInputEvent &e : events) {
    struct input_event ev;
    memset(&ev, 0, sizeof ev);
    ev.type = e.type;
    ev.code = e.code;
    ev.value = e.value;
    const char *p = reinterpret_cast<const char *>(&ev);
    size_t left = sizeof ev;
    while (left > 0) {
      ssize_t n = write(fd, p, left);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        return false;
      p += n;
      left -= static_cast<size_t>(n);
    }
  }
  return true;
}
