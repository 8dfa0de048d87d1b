#include "keys/key_output.h"

#include "common/globals.h"
#include "common/messages.h"
#include "platform/win32.h"

namespace {
// The window with the keyboard focus, as PostKeybdMessage names it.
const HWND kFocusWindow = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));
// The record size the handheld's SendInput expects, whatever the size of the
// structure here.
constexpr int kInputRecordSize = 28;
constexpr UINT kBackspaceFlags = 0x20000080u;
constexpr UINT kEuroFlags = 0x80u;
constexpr UINT kEuroSign = 8364;

BYTE lowByte(int32_t value) { return static_cast<BYTE>(value & 0xFF); }

void postKeybd(UINT vk, UINT flags, UINT c) {
  const UINT shiftState[1] = {flags};
  const UINT chars[1] = {c};
  PostKeybdMessage(kFocusWindow, vk, flags, 1, shiftState, chars);
}

// While the key test is open, a typed key goes to it and not to the desktop
// (where its Enter or Escape would also act on the test's own window): the
// test hears the key's code, the virtual key without Shift or caps lock, or
// the character for keys that post one. Returns true when the test took it.
bool toKeyTest(uint32_t code) {
  const HWND test = AppGlobals.keyTestDialog.load();
  if (test == nullptr)
    return false;
  PostMessageW(test, WM_KEY_TEST_CHAR, 0, static_cast<LPARAM>(code));
  return true;
}

void tap(int32_t vk) {
  pressKey(vk);
  releaseKey(vk);
}
} // namespace

void pressKey(int32_t vk) { keybd_event(lowByte(vk), 0, KEYEVENTF_SILENT, 1); }

void releaseKey(int32_t vk) {
  keybd_event(lowByte(vk), 0, KEYEVENTF_KEYUP | KEYEVENTF_SILENT, 0xC0000001u);
}

void tapKey(int32_t vk) {
  if (!toKeyTest(lowByte(vk)))
    tap(vk);
}

void shiftedTapKey(int32_t vk) {
  if (toKeyTest(lowByte(vk)))
    return;
  pressKey(VK_SHIFT);
  tap(vk);
  releaseKey(VK_SHIFT);
}

void capsTapKey(int32_t vk) {
  if (toKeyTest(lowByte(vk)))
    return;
  tap(VK_CAPITAL);
  tap(vk);
  tap(VK_CAPITAL);
}

void postCharacter(uint32_t c) {
  if (!toKeyTest(c))
    postKeybd(c, 1, c);
}

void sendKeyDown(int32_t vk) {
  if (toKeyTest(lowByte(vk)))
    return;
  INPUT input = {};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = lowByte(vk);
  input.ki.wScan = 0;
  input.ki.dwFlags = KEYEVENTF_SILENT;
  input.ki.time = 0;
  input.ki.dwExtraInfo = 0;
  SendInput(1, &input, kInputRecordSize);
}

void postBackspace() {
  // What it would erase went to the key test, not to the desktop.
  if (AppGlobals.keyTestDialog.load() == nullptr)
    postKeybd(VK_BACK, kBackspaceFlags, VK_BACK);
}

void postEuroSign() {
  if (!toKeyTest(kEuroSign))
    postKeybd(kEuroSign, kEuroFlags, kEuroSign);
}
