// Windows build: keeping the machine awake with SetThreadExecutionState.
// A requirement for D0 keeps the system (not the display) awake while any
// is held; the last release lets it sleep. The state is held by one thread
// of the platform's own, so requirements may come from any thread. The
// power manager's end (StopPowerManager) releases everything, and so does
// the process's end.
#pragma once

#include "platform/wintypes.h"

enum CEDEVICE_POWER_STATE {
  PwrDeviceUnspecified = -1,
  D0 = 0,
  D1 = 1,
  D2 = 2,
  D3 = 3,
  D4 = 4,
};
#define POWER_NAME 0x00000001u
void StartPowerManager();
bool StopPowerManager(DWORD timeoutMs);
// A handle for ReleasePowerRequirement; null when state is not D0..D4.
HANDLE SetPowerRequirement(LPCWSTR device, CEDEVICE_POWER_STATE state, ULONG flags,
                           PVOID systemState, ULONG reserved);
// ERROR_SUCCESS, or ERROR_INVALID_PARAMETER for an unknown handle.
DWORD ReleasePowerRequirement(HANDLE requirement);
struct PowerManagerStatus {
  bool running;
  bool keepAwake;   // the system is being kept awake now
  unsigned requests; // SetThreadExecutionState calls made
};
PowerManagerStatus GetPowerManagerStatus();
// Sleep and resume arrive as WM_POWERBROADCAST at the program's windows:
// nothing to watch here.
void StartSleepWatch(HWND target, UINT message);
bool StopSleepWatch(DWORD timeoutMs);
