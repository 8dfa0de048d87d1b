// The SendInput backend (see send_input.h): each call becomes the records
// of key_records.h, sent at once; nothing is held back.
#include "platform/win/inject/send_input.h"

#include "platform/trace.h"
#include "platform/win/inject/key_records.h"

#include <vector>

#include "platform/win/core/real_calls.h"

namespace {

UINT Send(const std::vector<INPUT> &records) {
  if (records.empty())
    return 0;
  UINT sent = ::SendInput(static_cast<UINT>(records.size()), const_cast<INPUT *>(records.data()),
                          sizeof(INPUT));
  if (sent != records.size())
    PlatformTrace("inject: SendInput took %u of %u records (error %lu)", sent,
                  static_cast<unsigned>(records.size()), GetLastError());
  return sent;
}

KeyboardLayoutQuery ForegroundLayout() {
  HWND foreground = GetForegroundWindow();
  DWORD thread = foreground ? GetWindowThreadProcessId(foreground, nullptr) : 0;
  HKL layout = GetKeyboardLayout(thread);
  KeyboardLayoutQuery query;
  query.vkFor = [layout](WCHAR c) -> SHORT { return VkKeyScanExW(c, layout); };
  query.capsLockOn = (GetKeyState(VK_CAPITAL) & 1) != 0;
  return query;
}

// Only KEYEVENTF_KEYUP is read: the logic's KEYEVENTF_SILENT (the
// handheld's "no click") has the bit of Win32's KEYEVENTF_UNICODE, and the
// key goes as its virtual key whatever that bit says.
void SiKeybd(void *, BYTE vk, BYTE, DWORD flags, DWORD) {
  std::vector<INPUT> records;
  AppendKey(records, vk, (flags & KEYEVENTF_KEYUP) == 0);
  Send(records);
}

BOOL SiPost(void *, HWND, UINT, UINT, UINT count, const UINT *, const UINT *chars) {
  std::vector<INPUT> records;
  AppendText(records, chars, count, ForegroundLayout());
  return Send(records) == records.size();
}

UINT SiSendInput(void *, UINT count, const INPUT *inputs, int) {
  std::vector<INPUT> records;
  UINT taken = 0;
  for (UINT i = 0; i < count; ++i) {
    if (inputs[i].type != INPUT_KEYBOARD)
      continue;
    ++taken;
    if (inputs[i].ki.dwFlags & KEYEVENTF_KEYUP)
      continue;
    AppendKey(records, static_cast<BYTE>(inputs[i].ki.wVk), true);
    AppendKey(records, static_cast<BYTE>(inputs[i].ki.wVk), false);
  }
  Send(records);
  return taken;
}

const InjectOps kSendInputOps = {"sendinput", SiKeybd, SiPost, SiSendInput, nullptr,
                                 nullptr,     nullptr, nullptr};

} // namespace

const InjectOps *SendInputBackend() { return &kSendInputOps; }
