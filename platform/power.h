// Power: device power requirements and the platform's power manager.
//
// The power manager's battery time-outs live in the registry as on the
// handheld: HKEY_LOCAL_MACHINE
// "System\CurrentControlSet\Control\Power\Timeouts", REG_DWORD seconds
// "BattUserIdle", "BattSystemIdle" and "BattSuspend" (0 = never). The
// manager reads them again whenever the named event
// "PowerManager/ReloadActivityTimeouts" is set. While all three are 0,
// or while a backlight requirement (a device whose name starts with "BKL",
// state D0 or D1) is held, it keeps the desktop awake: it holds a
// systemd-logind "idle:sleep" inhibitor and the session's screensaver
// inhibit, where those services run (a trace line says when one does not;
// nothing fails). The buses are the usual ones, overridable with
// DBUS_SYSTEM_BUS_ADDRESS and DBUS_SESSION_BUS_ADDRESS. The bus calls run on
// the manager's own thread, so no caller waits for them.
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

// Creates the time-out key with default values when it is missing, and
// starts the power manager unless it runs: the reload event (once per
// process) and the thread that acts on it. Called at start-up;
// SetPowerRequirement also calls it.
void StartPowerManager();

// Ends the power manager's thread for the end of the program (and of each
// test that started it): the desktop's inhibits are let go and the thread is
// joined. Returns true when it has ended (or never started), false when it
// did not end within timeoutMs (a bus call still waiting; it is then left
// to end by itself). Requests made while it is stopped are only noted; a
// later StartPowerManager starts a fresh thread, which acts on them.
bool StopPowerManager(DWORD timeoutMs);

// Asks for device `device` (for example "BKL1:") to stay at least at
// `state`. Returns a handle for ReleasePowerRequirement (not for
// CloseHandle: it is the power manager's own token), or nullptr for a null
// device name. Only backlight requirements have an effect; flags and the
// system state are ignored.
HANDLE SetPowerRequirement(LPCWSTR device, CEDEVICE_POWER_STATE state, ULONG flags,
                           PVOID systemState, ULONG reserved);
// Returns ERROR_SUCCESS, or ERROR_INVALID_PARAMETER for a handle that is not
// a held requirement.
DWORD ReleasePowerRequirement(HANDLE requirement);

// What the power manager holds, for traces and tests.
struct PowerManagerStatus {
  bool running;          // StartPowerManager has run
  bool keepAwake;        // the last evaluation wanted the machine kept awake
  bool logindInhibitor;  // a logind inhibitor file descriptor is held
  bool screensaverInhibit; // a screensaver cookie is held
  unsigned evaluations;  // how many times the state has been worked out
};
PowerManagerStatus GetPowerManagerStatus();
// Waits until the manager has worked out the state after every request made
// so far (up to timeoutMs). Returns false on time-out. For tests.
bool WaitForPowerManager(DWORD timeoutMs);

// Watches the machine going to sleep and resuming: logind's PrepareForSleep
// signal on the system bus is posted to `target` as `message`, wParam 1 when
// the machine is about to sleep and 0 when it has resumed (lParam 0). A
// thread of its own connects and listens, so the caller never waits for the
// bus; once it listens it traces "power: watching logind for sleep and
// resume". Without a system bus or without logind on it, one trace line says
// so and nothing else happens. A second call while a watch runs changes
// nothing.
void StartSleepWatch(HWND target, UINT message);
// Ends the watch for the end of the program, waiting at most timeoutMs for
// its thread. True when it has ended or never started.
bool StopSleepWatch(DWORD timeoutMs);
