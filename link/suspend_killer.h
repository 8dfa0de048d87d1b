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
//
// What it holds survives the process in HKEY_LOCAL_MACHINE
// "Software\Vantrel\SuspendKiller" (kRememberedKey): the values it will
// restore, under the time-outs' own names (REG_DWORD), and "Engaged"
// (REG_DWORD), 1 from just before the time-outs are set to 0 until they have
// been written back. A time-out read as 0 is never taken as a value to
// restore (it is the zero an earlier run left behind): the remembered value,
// else the constructor's default, is restored instead. A run that ended
// while engaged (killed, crashed) leaves "Engaged" = 1, and the next start
// puts the time-outs back with RestoreAbandonedTimeouts.
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
  // keeps its entry, a value read as 0 takes the remembered one (or keeps
  // its entry when none is remembered). Sets saved, then remembers the
  // entries with "Engaged" = 1.
  void SaveTimeouts();
  // on: writes 0 to the three values, takes the backlight requirement, sets
  // engaged; returns 1. off: returns 0 and changes nothing unless saved or
  // engaged; else writes savedTimeouts back, clears the remembered
  // "Engaged", releases the requirement, clears both flags and returns 1.
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

// The key under HKEY_LOCAL_MACHINE where SuspendKiller remembers its values.
inline constexpr WCHAR kRememberedKey[] = u"Software\\Vantrel\\SuspendKiller";

// Puts back the time-outs that a run which ended while engaged left at 0:
// when the remembered "Engaged" is 1, every time-out that still reads 0 gets
// its remembered value (the constructor's default when none is remembered;
// a time-out changed since is left alone), "Engaged" is cleared and the power
// manager told. Returns true when "Engaged" was found set. Run by the reader
// thread at its start, before any connection, and by the program's end when
// the reader thread did not end in time.
bool RestoreAbandonedTimeouts();
