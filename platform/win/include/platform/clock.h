// The clock that Sleep, GetTickCount and the window timers (SetTimer) run
// on. The program always runs on the real (monotonic) clock. A test can put
// its process on a virtual clock instead, so that pauses and timers of
// seconds take no real time: the virtual clock stands still until the test
// moves it on (AdvanceVirtualClock), and then timers due by the new time
// are handed out and sleeping threads whose time has come wake up.
//
// What stays on the real clock: the serial port's time-outs (a read waits
// for a real device), WaitForSingleObject time-outs, and the toolkit's own
// event loop.
#pragma once

#include "platform/wintypes.h"

enum class VirtualClock {
  Off,    // the real clock (the program)
  Manual, // Sleep waits until AdvanceVirtualClock has moved the clock far enough
  Auto,   // Sleep moves the clock on to its own end and returns at once: time
          // passes only in pauses and when the test advances it
};

// Switches the process's clock. Turning a virtual clock on starts it at the
// real time of the call (a second call keeps the virtual time); turning it
// off wakes every sleeping thread. Meant for the start of a test, while no
// timer is running and no thread sleeps.
void UseVirtualClock(VirtualClock mode);
VirtualClock VirtualClockMode();

// Moves the virtual clock on by ms (nothing when it is off): wakes sleepers
// whose end has come and every thread waiting in GetMessageW, which then
// hands out the timers now due. Returns at once; the woken threads run on
// their own.
void AdvanceVirtualClock(DWORD ms);

// The GetTickCount value at which the earliest thread sleeping on a Manual
// clock wakes; false when no thread sleeps on it.
bool NextSleeperWake(DWORD *tick);

// Puts the process on a virtual clock for a scope (a test case) and back on
// the real one at its end.
class VirtualClockScope {
public:
  explicit VirtualClockScope(VirtualClock mode) { UseVirtualClock(mode); }
  ~VirtualClockScope() { UseVirtualClock(VirtualClock::Off); }
  VirtualClockScope(const VirtualClockScope &) = delete;
  VirtualClockScope &operator=(const VirtualClockScope &) = delete;
};
