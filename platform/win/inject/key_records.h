// The SendInput records for what the key logic types, worked out apart
// from the system so that tests can check them: a character goes as the
// virtual key the foreground layout has for it (with Shift when the layout
// needs it), else as the character itself (KEYEVENTF_UNICODE). Every key
// that goes down in one call comes up in it, so nothing stays held.
#pragma once

#include "platform/wintypes.h"

#include <functional>
#include <vector>

struct KeyboardLayoutQuery {
  // VkKeyScanExW for the foreground thread's layout: low byte the virtual
  // key, high byte the shift state (1 Shift, 2 Ctrl, 4 Alt); -1 for none.
  std::function<SHORT(WCHAR)> vkFor;
  // Caps Lock is on: a letter's key would give the other case.
  bool capsLockOn = false;
};

// One key record: vk down (down true) or up.
void AppendKey(std::vector<INPUT> &records, BYTE vk, bool down);
// The records that type chars[0..count) (UTF-16 units; a surrogate pair is
// one character, a lone surrogate is skipped). 8, 9, 13 and 27 are the
// Backspace, Tab, Enter and Esc keys. A character the layout reaches only
// with Ctrl or Alt (AltGr) goes as itself: pressing those would reach the
// window's shortcuts instead.
void AppendText(std::vector<INPUT> &records, const UINT *chars, UINT count,
                const KeyboardLayoutQuery &layout);
