// Keeping the machine awake on Windows. SetThreadExecutionState holds for
// the thread that calls it until that thread changes it or ends, so one
// thread of the platform's own holds it for every requirement, wherever
// they come from; its end (StopPowerManager, or the process's) lets the
// machine sleep again.
#include "platform/power.h"

#include "platform/registry.h"
#include "platform/trace.h"

#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

namespace {

std::mutex gMutex;
std::condition_variable gChanged;
std::thread gThread;
bool gRunning = false;
bool gStopping = false;
std::set<uintptr_t> gHeld; // the requirements' handles
uintptr_t gNext = 1;
bool gAwake = false;       // what the thread last told the system
unsigned gRequests = 0;

void Holder() {
  std::unique_lock<std::mutex> lock(gMutex);
  for (;;) {
    const bool want = !gStopping && !gHeld.empty();
    if (want != gAwake) {
      SetThreadExecutionState(want ? (ES_CONTINUOUS | ES_SYSTEM_REQUIRED) : ES_CONTINUOUS);
      gAwake = want;
      ++gRequests;
      PlatformTrace("power: %s", want ? "the system is kept awake" : "the system may sleep");
    }
    if (gStopping)
      return;
    gChanged.wait(lock);
  }
}

} // namespace

// The handheld's time-out key, which the link saves and zeroes while
// connected, is the power manager's own: a first run finds it missing.
void CreateTimeoutKey() {
  static const WCHAR *const kNames[3] = {u"BattUserIdle", u"BattSystemIdle", u"BattSuspend"};
  static const DWORD kDefaults[3] = {60, 180, 300};
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"System\\CurrentControlSet\\Control\\Power\\Timeouts", 0,
                      nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition) != ERROR_SUCCESS)
    return;
  if (disposition == REG_CREATED_NEW_KEY)
    for (int i = 0; i < 3; ++i)
      RegSetValueExW(key, kNames[i], 0, REG_DWORD, reinterpret_cast<const BYTE *>(&kDefaults[i]),
                     sizeof(DWORD));
  RegCloseKey(key);
}

void StartPowerManager() {
  std::lock_guard<std::mutex> lock(gMutex);
  if (gRunning)
    return;
  CreateTimeoutKey();
  gStopping = false;
  gRunning = true;
  gThread = std::thread(Holder);
}

bool StopPowerManager(DWORD) {
  {
    std::lock_guard<std::mutex> lock(gMutex);
    if (!gRunning)
      return true;
    gStopping = true;
    gHeld.clear();
  }
  gChanged.notify_all();
  gThread.join();
  std::lock_guard<std::mutex> lock(gMutex);
  gRunning = false;
  return true;
}

HANDLE SetPowerRequirement(LPCWSTR, CEDEVICE_POWER_STATE state, ULONG, PVOID, ULONG) {
  if (state < D0 || state > D4)
    return nullptr;
  StartPowerManager();
  std::lock_guard<std::mutex> lock(gMutex);
  uintptr_t handle = gNext++;
  if (state == D0)
    gHeld.insert(handle);
  gChanged.notify_all();
  return reinterpret_cast<HANDLE>(handle);
}

DWORD ReleasePowerRequirement(HANDLE requirement) {
  std::lock_guard<std::mutex> lock(gMutex);
  const uintptr_t handle = reinterpret_cast<uintptr_t>(requirement);
  if (!handle || handle >= gNext)
    return ERROR_INVALID_PARAMETER;
  gHeld.erase(handle);
  gChanged.notify_all();
  return ERROR_SUCCESS;
}

PowerManagerStatus GetPowerManagerStatus() {
  std::lock_guard<std::mutex> lock(gMutex);
  return PowerManagerStatus{gRunning, gAwake, gRequests};
}

void StartSleepWatch(HWND, UINT) {}
bool StopSleepWatch(DWORD) { return true; }
