// The platform's power manager: works out whether the desktop must be kept
// awake (all three battery time-outs 0, or a backlight requirement held)
// each time the reload event is set or a requirement changes, and takes or
// drops the desktop's inhibits to match. It runs on a thread of its own, so
// slow or missing bus services never hold up the program.
#include "platform/power.h"

#include "platform/core/counted_thread.h"
#include "platform/power/power_internal.h"
#include "platform/registry.h"
#include "platform/threads.h"
#include "platform/trace.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

constexpr WCHAR kTimeoutsKey[] = u"System\\CurrentControlSet\\Control\\Power\\Timeouts";
constexpr WCHAR kReloadEvent[] = u"PowerManager/ReloadActivityTimeouts";
const WCHAR *const kTimeoutNames[3] = {u"BattUserIdle", u"BattSystemIdle", u"BattSuspend"};
// Seconds, as a handheld ships them; on the desktop only "all 0" has a meaning.
constexpr DWORD kDefaultTimeouts[3] = {60, 180, 300};

std::once_flag gEventOnce;
HANDLE gReloadEvent = nullptr; // kept open for the whole process

// Never destroyed: a manager's thread that did not end in time may still be
// running when the process's static objects are destroyed at exit.
std::mutex &gPowerMutex = *new std::mutex;
std::condition_variable &gDone = *new std::condition_variable;
std::thread *gThread = nullptr; // under gPowerMutex; deleted once joined by StopPowerManager
bool gStopping = false;         // under gPowerMutex
bool gEnded = false;            // under gPowerMutex: Run has returned
uint64_t gRequested = 0; // evaluations asked for
uint64_t gFinished = 0;  // evaluations done
PowerManagerStatus gStatus{};

// The time-out key is the power manager's own: a first run finds it missing.
void CreateTimeoutKey() {
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTimeoutsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      &disposition) != ERROR_SUCCESS)
    return;
  if (disposition == REG_CREATED_NEW_KEY)
    for (int i = 0; i < 3; ++i)
      RegSetValueExW(key, kTimeoutNames[i], 0, REG_DWORD,
                     reinterpret_cast<const BYTE *>(&kDefaultTimeouts[i]), sizeof(DWORD));
  RegCloseKey(key);
}

bool TimeoutsAllZero() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTimeoutsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  bool allZero = true;
  for (const WCHAR *name : kTimeoutNames) {
    DWORD value = 1, type = 0, size = sizeof value;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE *>(&value), &size) !=
            ERROR_SUCCESS ||
        size != sizeof value || value != 0)
      allZero = false; // a missing value is the manager's default, not "never"
  }
  RegCloseKey(key);
  return allZero;
}

void Evaluate() {
  bool keepAwake = TimeoutsAllZero() || HeldBacklightRequirements() > 0;
  bool logind, screensaver;
  {
    std::lock_guard<std::mutex> lock(gPowerMutex);
    logind = gStatus.logindInhibitor;
    screensaver = gStatus.screensaverInhibit;
  }
  // Each service is tried once per change of mind, not on every reload.
  bool wasAwake;
  {
    std::lock_guard<std::mutex> lock(gPowerMutex);
    wasAwake = gStatus.keepAwake;
  }
  if (keepAwake && !wasAwake) {
    PlatformTrace("power: keeping the machine awake");
    logind = AcquireLogindInhibitor();
    screensaver = AcquireScreensaverInhibit();
  } else if (!keepAwake && wasAwake) {
    PlatformTrace("power: the machine may sleep again");
    if (logind)
      ReleaseLogindInhibitor();
    if (screensaver)
      ReleaseScreensaverInhibit();
    logind = screensaver = false;
  }
  std::lock_guard<std::mutex> lock(gPowerMutex);
  gStatus.keepAwake = keepAwake;
  gStatus.logindInhibitor = logind;
  gStatus.screensaverInhibit = screensaver;
  ++gStatus.evaluations;
}

void Run() {
  for (;;) {
    WaitForSingleObject(gReloadEvent, INFINITE);
    uint64_t upTo;
    {
      std::lock_guard<std::mutex> lock(gPowerMutex);
      if (gStopping)
        break;
      upTo = gRequested;
    }
    Evaluate();
    {
      std::lock_guard<std::mutex> lock(gPowerMutex);
      if (upTo > gFinished)
        gFinished = upTo;
    }
    gDone.notify_all();
  }
  // The program is ending: what is held goes now, not with the process.
  ReleaseLogindInhibitor();
  ReleaseScreensaverInhibit();
  std::lock_guard<std::mutex> lock(gPowerMutex);
  gStatus.running = false;
  gStatus.keepAwake = gStatus.logindInhibitor = gStatus.screensaverInhibit = false;
  gEnded = true;
  gDone.notify_all();
}

} // namespace

void StartPowerManager() {
  // The key is looked at on every call: the settings database may have been
  // replaced (tools and tests do) since the manager started.
  CreateTimeoutKey();
  std::call_once(gEventOnce, [] {
    gReloadEvent = CreateEventW(nullptr, FALSE, FALSE, kReloadEvent);
    if (!gReloadEvent)
      PlatformWarning("power: the reload event could not be created; the power manager is off");
  });
  if (!gReloadEvent)
    return;
  std::lock_guard<std::mutex> lock(gPowerMutex);
  if (gThread)
    return; // running, or being stopped (StopPowerManager holds it until it has ended)
  gStopping = gEnded = false;
  gStatus.running = true;
  gThread = new std::thread(StartCountedThread(Run));
}

bool StopPowerManager(DWORD timeoutMs) {
  std::unique_lock<std::mutex> lock(gPowerMutex);
  if (!gThread)
    return true;
  gStopping = true;
  SetEvent(gReloadEvent);
  if (!gDone.wait_for(lock, std::chrono::milliseconds(timeoutMs), [] { return gEnded; })) {
    PlatformTrace("power: the power manager did not end in %u ms", static_cast<unsigned>(timeoutMs));
    return false;
  }
  // It has returned from Run: only its own end is left, which takes no lock.
  gThread->join();
  delete gThread;
  gThread = nullptr;
  return true;
}

void PowerManagerReevaluate() {
  {
    std::lock_guard<std::mutex> lock(gPowerMutex);
    ++gRequested;
  }
  if (gReloadEvent)
    SetEvent(gReloadEvent);
}

PowerManagerStatus GetPowerManagerStatus() {
  std::lock_guard<std::mutex> lock(gPowerMutex);
  return gStatus;
}

bool WaitForPowerManager(DWORD timeoutMs) {
  StartPowerManager();
  uint64_t target;
  {
    std::lock_guard<std::mutex> lock(gPowerMutex);
    if (!gStatus.running)
      return false;
    target = ++gRequested;
  }
  SetEvent(gReloadEvent);
  std::unique_lock<std::mutex> lock(gPowerMutex);
  return gDone.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [&] { return gFinished >= target; });
}
