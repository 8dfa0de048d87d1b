// The three injection calls, handed to the installed backend. The backend
// pointer is atomic so that a test may install one while another thread reads
// it; the calls themselves come from the reader thread only.
#include "platform/inject.h"
#include "platform/inject/chosen.h"
#include "platform/trace.h"
#include "platform/window.h"

#include <atomic>
#include <mutex>

namespace {
std::atomic<const InjectOps *> gOps{nullptr};
std::atomic<bool> gGuardOwnWindows{false};
std::atomic<bool> gDropping{false};
// A choice of the backend is under way (no backend yet), and whether a
// press has been dropped meanwhile.
std::atomic<bool> gChoosing{false};
std::atomic<bool> gDroppedWhileChoosing{false};
// Whether the link is up, so that a backend installed later hears of it.
// The mutex keeps the link's changes and an installation in one order.
std::mutex gLinkMutex;
bool gLinkUp = false;

void TellKeysKept(bool kept) {
  const InjectHost host = InjectGetHost();
  if (host.keysKept)
    host.keysKept(kept);
}

// True when a key press is to be dropped: the guard is on and one of the
// program's own windows is active, where the key would act on the program
// itself. The first press of each such stretch leaves a trace line; the
// host hears of every press dropped and of the first that goes out after.
bool DropPress() {
  if (!gGuardOwnWindows.load(std::memory_order_relaxed) || !OwnWindowActive()) {
    if (gDropping.exchange(false, std::memory_order_relaxed))
      TellKeysKept(false);
    return false;
  }
  if (!gDropping.exchange(true, std::memory_order_relaxed))
    PlatformTrace("Keys dropped: Vantrel's own window is active; click the window to type in");
  TellKeysKept(true);
  return true;
}

// A press with no backend to take it. While the backend is being chosen,
// the first such press says why it went nowhere.
void NoBackendForPress() {
  if (gChoosing.load(std::memory_order_relaxed) &&
      !gDroppedWhileChoosing.exchange(true, std::memory_order_relaxed))
    PlatformTrace("Keys dropped: the way to type them is still being chosen");
}
} // namespace

void InjectGuardOwnWindows(bool on) { gGuardOwnWindows.store(on); }

void InjectSetBackend(const InjectOps *ops) { gOps.store(ops, std::memory_order_release); }

const InjectOps *InjectGetBackend() { return gOps.load(std::memory_order_acquire); }

void InjectNoteChoosing(bool choosing) {
  gDroppedWhileChoosing.store(false);
  gChoosing.store(choosing);
}

void InjectInstallChosen(const InjectOps *ops) {
  std::lock_guard<std::mutex> lock(gLinkMutex);
  InjectSetBackend(ops);
  if (ops && gLinkUp && ops->linkChanged) {
    PlatformTrace("inject: %s chosen while the link is up", ops->name);
    ops->linkChanged(ops->self, true);
  }
}

void InjectCloseChosen(const InjectOps *ops) {
  if (!ops)
    return;
  if (InjectGetBackend() == ops)
    InjectSetBackend(nullptr);
  if (ops->close)
    ops->close(ops->self);
}

void keybd_event(BYTE vk, BYTE scan, DWORD flags, DWORD extraInfo) {
  const InjectOps *ops = InjectGetBackend();
  const bool press = !(flags & KEYEVENTF_KEYUP);
  if (!ops) {
    if (press)
      NoBackendForPress();
    return;
  }
  // A release always goes out, so that no key stays down.
  if (press && DropPress())
    return;
  if (ops->keybdEvent)
    ops->keybdEvent(ops->self, vk, scan, flags, extraInfo);
}

BOOL PostKeybdMessage(HWND hwnd, UINT vk, UINT keyStateFlags, UINT count, const UINT *shiftStates,
                      const UINT *chars) {
  if (count > 0 && !chars)
    return FALSE;
  const InjectOps *ops = InjectGetBackend();
  if (!ops)
    NoBackendForPress();
  if (!ops || !ops->postKeybdMessage)
    return FALSE;
  if (DropPress())
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
  if (!ops)
    NoBackendForPress();
  if (!ops || !ops->sendInput)
    return 0;
  if (DropPress())
    return 0;
  return ops->sendInput(ops->self, count, inputs, cbSize);
}

void InjectLinkChanged(bool up) {
  std::lock_guard<std::mutex> lock(gLinkMutex);
  gLinkUp = up;
  const InjectOps *ops = InjectGetBackend();
  if (ops && ops->linkChanged)
    ops->linkChanged(ops->self, up);
}
