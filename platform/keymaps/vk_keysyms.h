// Virtual keys as X keysyms: the keysym a key carries unshifted (which finds
// the key in the host's keymap) and, for keys that type characters, the
// keysym it carries with Shift on a US keyboard (used when the host's keymap
// has no such key and one is lent for it, so that Shift still acts on it).
#pragma once

#include "platform/wintypes.h"

struct VkKeysyms {
  unsigned long base;    // 0 when the virtual key has no keysym
  unsigned long shifted; // 0 when the key has no shifted character
  bool modifier;         // a modifier or lock key: never lent a spare key
};

// The keysyms of virtual key vk; base is 0 for keys this backend does not know.
VkKeysyms VkToKeysyms(BYTE vk);
