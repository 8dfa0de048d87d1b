// The current time of the process's clock, real or virtual (internal to the
// platform layer; see platform/clock.h).
#pragma once

#include <chrono>

std::chrono::steady_clock::time_point ClockNow();
// True while a virtual clock runs: waits for timers then have no deadline of
// their own, since only AdvanceVirtualClock can bring one due.
bool ClockIsVirtual();

namespace wincore {
// Wakes every thread waiting in GetMessageW (timers may be due now).
void WakeTimerWaits();
} // namespace wincore
