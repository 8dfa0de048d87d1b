// The process's clock: real, or virtual for tests (see platform/clock.h).
// The virtual time is kept as nanoseconds on the steady clock's scale, so
// timer deadlines mean the same on both.
#include "platform/clock.h"

#include "platform/core/clock_now.h"
#include "platform/threads.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

namespace {

using Steady = std::chrono::steady_clock;

std::atomic<VirtualClock> gMode{VirtualClock::Off};
std::atomic<int64_t> gVirtualNs{0};
// Threads sleeping on a Manual clock, by the time they wake.
std::mutex gSleepMutex;
std::condition_variable gSleepCv;
std::multiset<int64_t> gSleepers;

int64_t RealNs() { return Steady::now().time_since_epoch().count(); }

DWORD TickOf(int64_t ns) {
  // Wraps after 49.7 days, as on the handheld.
  return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::nanoseconds(ns))
                                .count());
}

// Moves the virtual time on to ns (never back) and wakes whoever waits on it.
void AdvanceTo(int64_t ns) {
  int64_t now = gVirtualNs.load();
  while (now < ns && !gVirtualNs.compare_exchange_weak(now, ns)) {
  }
  {
    // A sleeper checks the time under this lock: taking it here means none
    // can miss the notice between its check and its wait.
    std::lock_guard<std::mutex> lock(gSleepMutex);
  }
  gSleepCv.notify_all();
  wincore::WakeTimerWaits();
}

} // namespace

std::chrono::steady_clock::time_point ClockNow() {
  if (gMode.load() == VirtualClock::Off)
    return Steady::now();
  return Steady::time_point(Steady::duration(gVirtualNs.load()));
}

bool ClockIsVirtual() { return gMode.load() != VirtualClock::Off; }

void UseVirtualClock(VirtualClock mode) {
  VirtualClock was = gMode.load();
  if (was == VirtualClock::Off && mode != VirtualClock::Off)
    gVirtualNs.store(RealNs());
  {
    std::lock_guard<std::mutex> lock(gSleepMutex);
    gMode.store(mode);
  }
  // Sleepers of a Manual clock re-check how they wait; timer waits take a
  // deadline again (or drop it).
  gSleepCv.notify_all();
  wincore::WakeTimerWaits();
}

VirtualClock VirtualClockMode() { return gMode.load(); }

void AdvanceVirtualClock(DWORD ms) {
  if (gMode.load() == VirtualClock::Off)
    return;
  AdvanceTo(gVirtualNs.load() + std::chrono::nanoseconds(std::chrono::milliseconds(ms)).count());
}

bool NextSleeperWake(DWORD *tick) {
  std::lock_guard<std::mutex> lock(gSleepMutex);
  if (gSleepers.empty())
    return false;
  if (tick)
    *tick = TickOf(*gSleepers.begin());
  return true;
}

void Sleep(DWORD milliseconds) {
  const int64_t span = std::chrono::nanoseconds(std::chrono::milliseconds(milliseconds)).count();
  switch (gMode.load()) {
  case VirtualClock::Off:
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return;
  case VirtualClock::Auto:
    AdvanceTo(gVirtualNs.load() + span);
    return;
  case VirtualClock::Manual: {
    std::unique_lock<std::mutex> lock(gSleepMutex);
    const int64_t wake = gVirtualNs.load() + span;
    auto me = gSleepers.insert(wake);
    gSleepCv.wait(lock, [&] { return gVirtualNs.load() >= wake || gMode.load() != VirtualClock::Manual; });
    gSleepers.erase(me);
    return;
  }
  }
}

DWORD GetTickCount() { return TickOf(ClockNow().time_since_epoch().count()); }
