// Windows build: keeping the machine awake with SetThreadExecutionState.
// A requirement for D0 keeps the system (not the display) awake while any
// is held; the last release lets it sleep. The state is held by one thread
// of the platform's own, so requirements may come from any thread. The
// power manager's end (StopPowerManager) releases everything, and so does
// the process's end.
#pragma once

#include "platform/power_requirements.h"

// SetPowerRequirement refuses a state outside D0..D4.

struct PowerManagerStatus {
  bool running;
  bool keepAwake;   // the system is being kept awake now
  unsigned requests; // SetThreadExecutionState calls made
};
PowerManagerStatus GetPowerManagerStatus();
// Sleep and resume arrive as WM_POWERBROADCAST at the program's windows:
// the sleep watch has nothing to watch here.
