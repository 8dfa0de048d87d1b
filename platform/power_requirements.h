// The power manager's calls, the same on every platform: device power
// requirements and the watch for sleep and resume. Included by
// platform/power.h, which says what its platform does with them and what
// its manager reports (PowerManagerStatus): include that one.
#pragma once

#include "platform/wintypes.h"

typedef unsigned long ULONG;
typedef void *PVOID;

enum CEDEVICE_POWER_STATE {
  PwrDeviceUnspecified = -1,
  D0 = 0, // full on
  D1 = 1,
  D2 = 2,
  D3 = 3,
  D4 = 4, // off
};

#define POWER_NAME 0x00000001u

// Starts the power manager unless it runs. Called at start-up;
// SetPowerRequirement also calls it.
void StartPowerManager();

// Ends the power manager's thread for the end of the program (and of each
// test that started it): what it holds is let go and the thread is joined.
// Returns true when it has ended (or never started), false when it did not
// end within timeoutMs.
bool StopPowerManager(DWORD timeoutMs);

// Asks for device `device` (for example "BKL1:") to stay at least at
// `state`. Returns a handle for ReleasePowerRequirement (not for
// CloseHandle: it is the power manager's own token), or nullptr for a
// request the platform refuses. Flags and the system state are ignored.
HANDLE SetPowerRequirement(LPCWSTR device, CEDEVICE_POWER_STATE state, ULONG flags,
                           PVOID systemState, ULONG reserved);
// Returns ERROR_SUCCESS, or ERROR_INVALID_PARAMETER for a handle that is not
// a requirement of SetPowerRequirement.
DWORD ReleasePowerRequirement(HANDLE requirement);

// Watches the machine going to sleep and resuming, posted to `target` as
// `message`: wParam 1 when the machine is about to sleep and 0 when it has
// resumed (lParam 0). The caller never waits. A second call while a watch
// runs changes nothing.
void StartSleepWatch(HWND target, UINT message);
// Ends the watch for the end of the program, waiting at most timeoutMs for
// it. True when it has ended or never started.
bool StopSleepWatch(DWORD timeoutMs);
