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

#include "platform/power_requirements.h"

// Here StartPowerManager also creates the time-out key with default values
// when it is missing and the reload event (once per process). Its end lets
// go of the desktop's inhibits; it may fail to end in time while a bus call
// still waits (the thread is then left to end by itself). Requests made
// while it is stopped are only noted; a later StartPowerManager starts a
// fresh thread, which acts on them. SetPowerRequirement refuses only a null
// device name, and only backlight requirements have an effect.

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

// The sleep watch listens to logind's PrepareForSleep signal on the system
// bus, on a thread of its own; once it listens it traces "power: watching
// logind for sleep and resume". Without a system bus or without logind on
// it, one trace line says so and nothing else happens.
