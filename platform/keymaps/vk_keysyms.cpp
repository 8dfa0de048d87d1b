// Virtual keys as X keysyms (see vk_keysyms.h).
#include "platform/keymaps/vk_keysyms.h"

#include <X11/keysym.h>

namespace {

struct Entry {
  BYTE vk;
  unsigned long base, shifted;
  bool modifier;
};

constexpr Entry kTable[] = {
    {0x08, XK_BackSpace, 0, false},      {0x09, XK_Tab, 0, false},
    {0x0C, XK_Clear, 0, false},          {0x0D, XK_Return, 0, false},
    {0x10, XK_Shift_L, 0, true},         {0x11, XK_Control_L, 0, true},
    {0x12, XK_Alt_L, 0, true},           {0x13, XK_Pause, 0, false},
    {0x14, XK_Caps_Lock, 0, true},       {0x1B, XK_Escape, 0, false},
    {0x20, XK_space, XK_space, false},   {0x21, XK_Prior, 0, false},
    {0x22, XK_Next, 0, false},           {0x23, XK_End, 0, false},
    {0x24, XK_Home, 0, false},           {0x25, XK_Left, 0, false},
    {0x26, XK_Up, 0, false},             {0x27, XK_Right, 0, false},
    {0x28, XK_Down, 0, false},           {0x29, XK_Select, 0, false},
    {0x2A, XK_Print, 0, false},          {0x2B, XK_Execute, 0, false},
    {0x2C, XK_Print, 0, false},          {0x2D, XK_Insert, 0, false},
    {0x2E, XK_Delete, 0, false},         {0x2F, XK_Help, 0, false},
    {0x5B, XK_Super_L, 0, true},         {0x5C, XK_Super_R, 0, true},
    {0x5D, XK_Menu, 0, false},           {0x6A, XK_KP_Multiply, 0, false},
    {0x6B, XK_KP_Add, 0, false},         {0x6C, XK_KP_Separator, 0, false},
    {0x6D, XK_KP_Subtract, 0, false},    {0x6E, XK_KP_Decimal, 0, false},
    {0x6F, XK_KP_Divide, 0, false},      {0x90, XK_Num_Lock, 0, true},
    {0x91, XK_Scroll_Lock, 0, true},     {0xA0, XK_Shift_L, 0, true},
    {0xA1, XK_Shift_R, 0, true},         {0xA2, XK_Control_L, 0, true},
    {0xA3, XK_Control_R, 0, true},       {0xA4, XK_Alt_L, 0, true},
    {0xA5, XK_Alt_R, 0, true},           {0xBA, XK_semicolon, XK_colon, false},
    {0xBB, XK_equal, XK_plus, false},    {0xBC, XK_comma, XK_less, false},
    {0xBD, XK_minus, XK_underscore, false}, {0xBE, XK_period, XK_greater, false},
    {0xBF, XK_slash, XK_question, false}, {0xC0, XK_grave, XK_asciitilde, false},
    {0xDB, XK_bracketleft, XK_braceleft, false}, {0xDC, XK_backslash, XK_bar, false},
    {0xDD, XK_bracketright, XK_braceright, false}, {0xDE, XK_apostrophe, XK_quotedbl, false},
    {0xE2, XK_less, XK_greater, false},
};

// The shifted characters of the digit keys on a US keyboard, '0' first.
constexpr unsigned long kShiftedDigits[10] = {
    XK_parenright, XK_exclam,      XK_at,       XK_numbersign, XK_dollar,
    XK_percent,    XK_asciicircum, XK_ampersand, XK_asterisk,  XK_parenleft};

} // namespace

VkKeysyms VkToKeysyms(BYTE vk) {
  if (vk >= 'A' && vk <= 'Z')
    return {static_cast<unsigned long>(XK_a + (vk - 'A')),
            static_cast<unsigned long>(XK_A + (vk - 'A')), false};
  if (vk >= '0' && vk <= '9')
    return {static_cast<unsigned long>(XK_0 + (vk - '0')), kShiftedDigits[vk - '0'], false};
  if (vk >= 0x60 && vk <= 0x69)
    return {static_cast<unsigned long>(XK_KP_0 + (vk - 0x60)), 0, false};
  if (vk >= 0x70 && vk <= 0x87)
    return {static_cast<unsigned long>(XK_F1 + (vk - 0x70)), 0, false};
  for (const Entry &e : kTable)
    if (e.vk == vk)
      return {e.base, e.shifted, e.modifier};
  return {0, 0, false};
}
