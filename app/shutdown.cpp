#include "app/shutdown.h"

#include "app/instance.h"
#include "app/options_menu.h"
#include "app/startup.h"
#include "common/globals.h"
#include "link/link_controller.h"
#include "link/suspend_killer.h"
#include "platform/inject.h"
#include "platform/power.h"
#include "platform/qt_app.h"
#include "platform/registry.h"
#include "platform/serial.h"
#include "platform/sound.h"
#include "platform/system.h"
#include "platform/threads.h"
#include "platform/trace.h"
#include "platform/window.h"

#include <atomic>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr DWORD kWaitSliceMs = 20;

std::atomic<HWND> gQuitTarget{nullptr};
std::atomic<bool> gQuitAsked{false};
std::atomic<bool> gQuitSignalled{false};
std::atomic<DWORD> gProgramThread{0};
bool gRestartRequested = false;

// Both sides take the request with an exchange, so exactly one of them
// posts it, whichever order the signal and the main window come in.
void PostQuitRequest() {
  HWND main = gQuitTarget.load();
  if (main && gQuitAsked.exchange(false))
    PostMessageW(main, WM_COMMAND, kCommandQuit, 0);
}

void OnQuitSignal(int, void *) {
  gQuitSignalled.store(true);
  gQuitAsked.store(true);
  // Before the main window there is no Quit to ask for, but a message box
  // of the start-up may be waiting for an answer nobody gives (at logout):
  // the quit message ends its modal loop, and the start-up stops at its next
  // step. The request above stays for a main window made meanwhile.
  if (!gQuitTarget.load())
    if (DWORD thread = gProgramThread.load())
      PostThreadMessageW(thread, WM_QUIT, 0, 0);
  PostQuitRequest();
}

// Waits for a thread, running meanwhile the calls it may be waiting for on
// this thread. Returns false when it has not ended within timeoutMs.
bool WaitServingCalls(HANDLE thread, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (WaitForSingleObject(thread, kWaitSliceMs) != WAIT_OBJECT_0) {
    if (GetTickCount() - start >= timeoutMs)
      return false;
    ServeWaitingCalls();
  }
  return true;
}

} // namespace

void WatchQuitSignals() {
  gProgramThread.store(GetCurrentThreadId());
  StartQuitSignalWatch(OnQuitSignal, nullptr);
}

bool QuitSignalled() { return gQuitSignalled.load(); }

void DirectQuitSignalsTo(HWND mainWindow) {
  gQuitTarget.store(mainWindow);
  PostQuitRequest();
}

void RequestRestart() { gRestartRequested = true; }

bool RestartRequested() { return gRestartRequested; }

bool ShutDownProgram() {
  EndUserInterface();
  gQuitTarget.store(nullptr);
  bool ended = true;
  if (HANDLE reader = StopLink(AppGlobals.link)) {
    if (!WaitServingCalls(reader, kLinkStopTimeoutMs)) {
      NKDbgPrintfW(u"The reader thread did not end within %u ms\r\n", kLinkStopTimeoutMs);
      // The machine must not stay awake because the link is held up.
      RestoreAbandonedTimeouts();
      ended = false;
    }
  }
  StopQuitSignalWatch();
  if (ended)
    InjectShutdown(); // nothing injects any more; this also ends its threads
  ended = StopSleepWatch(kPlatformStopTimeoutMs) && ended;
  ended = StopPowerManager(kPlatformStopTimeoutMs) && ended;
  ended = StopSerialStreams(kPlatformStopTimeoutMs) && ended;
  ended = StopSoundOutput(kPlatformStopTimeoutMs) && ended;
  NKDbgPrintfW(ended ? u"Every thread has ended\r\n" : u"Some threads did not end\r\n");
  return ended;
}

int RunVantrel(HINSTANCE instance, int showCommand) {
  const int code = VantrelStartup(instance, showCommand);
  const bool ended = ShutDownProgram();
  // Settings changes the file could not take yet are written before the
  // process ends or restarts (what still cannot be written is said on
  // stderr).
  RegistryFlush(2000);
  if (gRestartRequested) {
    // The fresh start must find the instance free, or it would hand itself
    // over to this one and end.
    ReleaseInstance();
    if (!KernelIoControl(IOCTL_HAL_REBOOT, nullptr, 0, nullptr, 0, nullptr))
      NKDbgPrintfW(u"The restart failed; Vantrel ends\r\n");
  }
  if (!ended) {
    fflush(nullptr);
    _exit(code);
  }
  return code;
}
