// The three injection calls expressed through a KeySink (see key_sink.h).
#include "platform/inject/key_sink.h"

namespace {

void SinkKeybdEvent(void *self, BYTE vk, BYTE, DWORD flags, DWORD) {
  static_cast<KeySink *>(self)->Key(vk, (flags & KEYEVENTF_KEYUP) == 0);
}

BOOL SinkPostKeybdMessage(void *self, HWND, UINT, UINT, UINT count, const UINT *,
                          const UINT *chars) {
  // Reused by every call of the injecting thread: no allocation per key.
  thread_local std::vector<uint32_t> cps;
  AppendCodePoints(chars, count, cps);
  if (cps.empty())
    return count == 0 ? TRUE : FALSE;
  return static_cast<KeySink *>(self)->Type(cps) ? TRUE : FALSE;
}

UINT SinkSendInput(void *self, UINT count, const INPUT *inputs, int) {
  UINT taken = 0;
  for (UINT i = 0; i < count; ++i) {
    const INPUT &in = inputs[i];
    if (in.type != INPUT_KEYBOARD)
      continue;
    ++taken;
    // A key-down is typed as a whole press: no key-up follows from the
    // caller, and a key held on the host would repeat. A key-up therefore
    // has nothing left to release.
    if ((in.ki.dwFlags & KEYEVENTF_KEYUP) || (in.ki.wVk & 0xFF) == 0)
      continue;
    BYTE vk = static_cast<BYTE>(in.ki.wVk & 0xFF);
    auto *sink = static_cast<KeySink *>(self);
    sink->Key(vk, true);
    sink->Key(vk, false);
  }
  return taken;
}

void SinkClose(void *self) { static_cast<KeySink *>(self)->Close(); }

void SinkFlush(void *self) { static_cast<KeySink *>(self)->SendHeldBack(); }

void SinkLinkChanged(void *self, bool up) { static_cast<KeySink *>(self)->LinkChanged(up); }

} // namespace

void MakeKeySinkOps(InjectOps &ops, const char *name, KeySink *sink) {
  ops = InjectOps{name, SinkKeybdEvent, SinkPostKeybdMessage, SinkSendInput, sink, SinkClose,
                  SinkFlush, SinkLinkChanged};
}

std::vector<uint32_t> CodePointsFromUnits(const UINT *units, UINT count) {
  std::vector<uint32_t> out;
  AppendCodePoints(units, count, out);
  return out;
}

void AppendCodePoints(const UINT *units, UINT count, std::vector<uint32_t> &out) {
  out.clear();
  if (!units)
    return;
  out.reserve(count);
  for (UINT i = 0; i < count; ++i) {
    uint32_t u = units[i];
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < count && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000) {
      out.push_back(0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
      continue;
    }
    if (u == 0 || (u >= 0xD800 && u < 0xE000) || u >= 0x110000)
      continue;
    out.push_back(u);
  }
}
