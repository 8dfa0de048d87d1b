#include "keys/key_output.h"

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
} // namespace

void pressKey(int32_t vk) { keybd_event(lowByte(vk), 0, KEYEVENTF_SILENT, 1); }

void releaseKey(int32_t vk) {
  keybd_event(lowByte(vk), 0, KEYEVENTF_KEYUP | KEYEVENTF_SILENT, 0xC0000001u);
}

void tapKey(int32_t vk) {
  pressKey(vk);
  releaseKey(vk);
}

void shiftedTapKey(int32_t vk) {
  pressKey(VK_SHIFT);
  tapKey(vk);
  releaseKey(VK_SHIFT);
}

void capsTapKey(int32_t vk) {
  tapKey(VK_CAPITAL);
  tapKey(vk);
  tapKey(VK_CAPITAL);
}

void postCharacter(uint32_t c) { postKeybd(c, 1, c); }

void sendKeyDown(int32_t vk) {
  INPUT input = {};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = lowByte(vk);
  input.ki.wScan = 0;
  input.ki.dwFlags = KEYEVENTF_SILENT;
  input.ki.time = 0;
  input.ki.dwExtraInfo = 0;
  SendInput(1, &input, kInputRecordSize);
}

void postBackspace() { postKeybd(VK_BACK, kBackspaceFlags, VK_BACK); }

void postEuroSign() { postKeybd(kEuroSign, kEuroFlags, kEuroSign); }
