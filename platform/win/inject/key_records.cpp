#include "platform/win/inject/key_records.h"

namespace {

void AppendUnit(std::vector<INPUT> &records, WCHAR unit) {
  for (bool down : {true, false}) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wScan = unit;
    input.ki.dwFlags = KEYEVENTF_UNICODE | (down ? 0 : KEYEVENTF_KEYUP);
    records.push_back(input);
  }
}

void Tap(std::vector<INPUT> &records, BYTE vk) {
  AppendKey(records, vk, true);
  AppendKey(records, vk, false);
}

bool IsHigh(UINT c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(UINT c) { return c >= 0xDC00 && c <= 0xDFFF; }

} // namespace

void AppendKey(std::vector<INPUT> &records, BYTE vk, bool down) {
  INPUT input = {};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = vk;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
  records.push_back(input);
}

void AppendText(std::vector<INPUT> &records, const UINT *chars, UINT count,
                const KeyboardLayoutQuery &layout) {
  for (UINT i = 0; chars && i < count; ++i) {
    const UINT c = chars[i];
    if (IsHigh(c)) {
      if (i + 1 < count && IsLow(chars[i + 1])) {
        AppendUnit(records, static_cast<WCHAR>(c));
        AppendUnit(records, static_cast<WCHAR>(chars[++i]));
      }
      continue;
    }
    if (IsLow(c) || c > 0xFFFF || c == 0)
      continue;
    switch (c) {
    case 8:
      Tap(records, VK_BACK);
      continue;
    case 9:
      Tap(records, VK_TAB);
      continue;
    case 13:
      Tap(records, VK_RETURN);
      continue;
    case 27:
      Tap(records, VK_ESCAPE);
      continue;
    default:
      break;
    }
    const SHORT found = layout.vkFor ? layout.vkFor(static_cast<WCHAR>(c)) : -1;
    const BYTE vk = static_cast<BYTE>(found & 0xFF);
    const BYTE shift = static_cast<BYTE>((found >> 8) & 0xFF);
    const bool letterKey = vk >= 'A' && vk <= 'Z';
    if (found == -1 || vk == 0xFF || (shift & ~1) != 0 || (layout.capsLockOn && letterKey)) {
      AppendUnit(records, static_cast<WCHAR>(c));
      continue;
    }
    if (shift & 1)
      AppendKey(records, VK_SHIFT, true);
    Tap(records, vk);
    if (shift & 1)
      AppendKey(records, VK_SHIFT, false);
  }
}
