// Timers. A timer belongs to its window's thread and is not a queued
// message: when it is due and the queue holds no posted message, retrieval
// hands out one WM_TIMER and schedules the next expiry one period after the
// one just handed out (so a periodic timer keeps its rhythm), or one period
// from now when the thread is that far behind, so a slow thread never finds
// a backlog of timer messages. A thread woken for one timer also takes the
// timers that are nearly due (within a twentieth of their period, at most
// 50 ms) instead of waking again for each a moment later: timers started
// together with periods that are multiples of each other then keep waking
// their thread once. Deadlines are on the process's clock (platform/clock.h).
#include "platform/core/clock_now.h"
#include "platform/core/window_core.h"
#include "platform/threads.h"

#include <algorithm>

namespace {

constexpr UINT kMinimumPeriod = 10; // shorter periods would spin the thread
constexpr UINT kMostSlackMs = 50;

// How early a timer may go with another one that is due.
std::chrono::milliseconds Slack(const wincore::Timer &t) {
  return std::chrono::milliseconds(std::min<UINT>(t.period / 20, kMostSlackMs));
}

} // namespace

namespace wincore {

bool TakeDueTimerLocked(ThreadQueue &queue, HWND filter, bool remove, MSG *msg) {
  Clock::time_point now = ClockNow();
  Timer *best = nullptr;
  for (Timer &t : queue.timers)
    if (t.due <= now && (!filter || t.hwnd == Id(filter)) && (!best || t.due < best->due))
      best = &t;
  if (!best)
    return false;
  *msg = MSG{Handle(best->hwnd), WM_TIMER, best->id, reinterpret_cast<LPARAM>(best->proc),
             GetTickCount(), {0, 0}};
  if (remove) {
    for (Timer &t : queue.timers)
      if (&t != best && t.due > now && t.due - Slack(t) <= now &&
          (!filter || t.hwnd == Id(filter)))
        t.due = now; // handed out by the next retrieval, in this same wake
    Clock::time_point next = best->due + std::chrono::milliseconds(best->period);
    best->due = next > now ? next : now + std::chrono::milliseconds(best->period);
  }
  return true;
}

bool NextDeadlineLocked(const ThreadQueue &queue, HWND filter, Clock::time_point *due) {
  bool any = false;
  for (const Timer &t : queue.timers)
    if ((!filter || t.hwnd == Id(filter)) && (!any || t.due < *due)) {
      *due = t.due;
      any = true;
    }
  return any;
}

// With the mutex held: tells the toolkit the thread's next deadline, when
// it keeps a timer of its own for it. False when it does not (the thread
// then has to be woken to see a change). A deadline that only moved later
// is told once the one the toolkit holds is nearer than half the way to
// it: a timer restarted at every key or heartbeat then costs a re-arm now
// and then instead of one per restart, and the toolkit's timer never goes
// off before the deadline while the restarts keep coming. `always` tells
// it whatever the change (a timer killed, the toolkit starting to wait).
bool ReportTimerDueLocked(Core &core, DWORD thread, ThreadQueue &queue, bool always) {
  if (!core.hooks.timerDue)
    return false;
  Clock::time_point due;
  bool any = NextDeadlineLocked(queue, nullptr, &due);
  Clock::time_point now = ClockNow();
  if (!always && any && queue.toolkitArmed && due >= queue.toolkitDue &&
      (queue.toolkitDue - now) * 2 > due - now)
    return true; // toolkitArmed: the hook took this thread's deadline before
  int ms = -1;
  if (any) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
    ms = left < 0 ? 0 : left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
  }
  if (!core.hooks.timerDue(thread, ms, core.hooks.context))
    return false;
  queue.toolkitDue = due;
  queue.toolkitArmed = any;
  return true;
}

void WakeTimerWaits() {
  Core &core = TheCore();
  std::vector<Wake> wakes;
  {
    std::lock_guard<std::mutex> lock(core.mutex);
    for (auto &[thread, queue] : core.queues) {
      queue->cv.notify_all();
      wakes.push_back(WakeFor(core, thread));
    }
  }
  for (const Wake &wake : wakes)
    wake();
}

} // namespace wincore

using namespace wincore;

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT milliseconds, TIMERPROC proc) {
  Core &core = TheCore();
  std::unique_lock<std::mutex> lock(core.mutex);
  DWORD thread;
  if (hwnd) {
    WindowRecord *w = FindWindowLocked(core, hwnd);
    if (!w || w->destroying) {
      lock.unlock();
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    thread = w->thread;
  } else {
    thread = GetCurrentThreadId();
  }
  ThreadQueue &queue = QueueLocked(core, thread);
  UINT period = milliseconds < kMinimumPeriod ? kMinimumPeriod : milliseconds;
  Clock::time_point due = ClockNow() + std::chrono::milliseconds(period);
  Timer *existing = nullptr;
  for (Timer &t : queue.timers)
    if (t.hwnd == Id(hwnd) && t.id == id)
      existing = &t;
  bool later = false;
  if (existing) {
    // Setting a running timer again restarts it with the new period.
    later = due >= existing->due;
    existing->period = period;
    existing->due = due;
    existing->proc = proc;
  } else {
    if (!hwnd)
      id = ++core.nextThreadTimer; // a thread timer gets a fresh id
    queue.timers.push_back(Timer{Id(hwnd), id, period, due, proc});
  }
  // A toolkit that keeps the thread's timer re-arms it without a wake-up,
  // and the old deadline is gone. Without one, a restart that only moves
  // the deadline later does not wake the thread either: it wakes at the old
  // deadline at the latest, finds the timer not yet due and waits again. A
  // timer restarted at every key (the link's keep-alive timers) so costs
  // its thread no wake-up per key.
  if (ReportTimerDueLocked(core, thread, queue, false) || later)
    return id;
  queue.cv.notify_all();
  Wake wake = WakeFor(core, thread);
  lock.unlock();
  wake();
  return id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  DWORD thread;
  if (!QueueThreadOrFailLocked(core, hwnd, &thread))
    return FALSE;
  ThreadQueue &queue = QueueLocked(core, thread);
  size_t removed = std::erase_if(
      queue.timers, [&](const Timer &t) { return t.hwnd == Id(hwnd) && t.id == id; });
  if (removed)
    ReportTimerDueLocked(core, thread, queue, true); // its deadline wakes no one
  return removed ? TRUE : FALSE;
}

int NextTimerDueMs() {
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  Clock::time_point due;
  if (!NextDeadlineLocked(QueueLocked(core, GetCurrentThreadId()), nullptr, &due))
    return -1;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(due - ClockNow()).count();
  if (left < 0)
    return 0;
  return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

void ReportNextTimerDue() {
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  DWORD me = GetCurrentThreadId();
  ReportTimerDueLocked(core, me, QueueLocked(core, me), true);
}
