// The three injection calls, handed to the installed backend. The backend
// pointer is atomic so that a test may install one while another thread reads
// it; the calls themselves come from the reader thread only.
#include "platform/inject.h"

#include <atomic>

namespace {
std::atomic<const InjectOps *> gOps{nullptr};
} // namespace

void InjectSetBackend(const InjectOps *ops) { gOps.store(ops, std::memory_order_release); }

const InjectOps *InjectGetBackend() { return gOps.load(std::memory_order_acquire); }

void keybd_event(BYTE vk, BYTE scan, DWORD flags, DWORD extraInfo) {
  const InjectOps *ops = InjectGetBackend();
  if (ops && ops->keybdEvent)
    ops->keybdEvent(ops->self, vk, scan, flags, extraInfo);
}

BOOL PostKeybdMessage(HWND hwnd, UINT vk, UINT keyStateFlags, UINT count, const UINT *shiftStates,
                      const UINT *chars) {
  if (count > 0 && !chars)
    return FALSE;
  const InjectOps *ops = InjectGetBackend();
  if (!ops || !ops->postKeybdMessage)
    return FALSE;
  return ops->postKeybdMessage(ops->self, hwnd, vk, keyStateFlags, count, shiftStates, chars);
}

void InjectFlush() {
  const InjectOps *ops = InjectGetBackend();
  if (ops && ops->flush)
    ops->flush(ops->self);
}

UINT SendInput(UINT count, const INPUT *inputs, int cbSize) {
  if (!inputs || count == 0)
    return 0;
  const InjectOps *ops = InjectGetBackend();
  if (!ops || !ops->sendInput)
    return 0;
  return ops->sendInput(ops->self, count, inputs, cbSize);
}

void InjectLinkChanged(bool up) {
  const InjectOps *ops = InjectGetBackend();
  if (ops && ops->linkChanged)
    ops->linkChanged(ops->self, up);
}
