// SuspendKiller keeps the machine awake while a keyboard is connected. When
// engaged it saves the power manager's three battery time-outs (registry
// values under HKEY_LOCAL_MACHINE
// "\System\CurrentControlSet\Control\Power\Timeouts"), sets them to 0
// (never), holds the backlight "BKL1:" at full power and tells the power
// manager to reload its time-outs; released, it writes the saved time-outs
// back and drops the backlight requirement.
//
// The reader thread creates one when the keyboard's heartbeat arrives, keeps
// it in AppGlobals.suspendKiller, engages it, and at disconnection releases
// and deletes it. At most one exists at a time; only the reader thread
// touches it.
#pragma once

#include "platform/wintypes.h"

class SuspendKiller {
public:
  SuspendKiller();
  // Releases first when still engaged.
  virtual ~SuspendKiller();
  SuspendKiller(const SuspendKiller &) = delete;
  SuspendKiller &operator=(const SuspendKiller &) = delete;

  // on = true engages, false releases. Returns 1 on success, 0 when the
  // time-out key cannot be opened (then nothing changes, in particular no
  // backlight requirement is taken).
  int Engage(bool on);

  // The steps of Engage; `key` must be open.
  // Reads the three time-outs into savedTimeouts; a value that cannot be read
  // keeps its entry. Sets saved.
  void SaveTimeouts();
  // on: writes 0 to the three values, takes the backlight requirement, sets
  // engaged; returns 1. off: returns 0 and changes nothing unless saved or
  // engaged; else writes savedTimeouts back, releases the requirement,
  // clears both flags and returns 1.
  int Apply(bool on);
  // Sets the event "PowerManager/ReloadActivityTimeouts". Returns 1, or 0
  // when the power manager has not created it.
  int NotifyPowerManager();

  DWORD engaged;           // 1 between an engage and the next release
  DWORD saved;             // 1 while savedTimeouts holds the values read
  LPCWSTR valueNames[3];   // "BattUserIdle", "BattSystemIdle", "BattSuspend"
  LPCWSTR keyPath;         // the power time-out key
  HKEY key;                // open only during an engage or release
  HANDLE powerRequirement; // the backlight requirement while engaged
  DWORD savedTimeouts[3];  // in the order of valueNames; 120, 180, 240 at first
};
