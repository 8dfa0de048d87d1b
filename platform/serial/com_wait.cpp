// The read time-out rules of COMMTIMEOUTS and the one place that waits on a
// port. ppoll() takes the remaining time in nanoseconds, so a deadline is
// kept to well under a millisecond and a byte ends the wait as it arrives.
#include "platform/serial/com_wait.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace {
constexpr DWORD kMax = 0xFFFFFFFFu;
}

ComReadPlan PlanRead(const COMMTIMEOUTS &t, DWORD n) {
  ComReadPlan plan;
  ComClock::time_point start = ComClock::now();
  uint64_t totalMs = 0;
  if (t.ReadIntervalTimeout == kMax && t.ReadTotalTimeoutMultiplier == 0 &&
      t.ReadTotalTimeoutConstant == 0) {
    plan.hasTotal = true; // deadline now: only what is already buffered
  } else if (t.ReadIntervalTimeout == kMax && t.ReadTotalTimeoutMultiplier == kMax &&
             t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != kMax) {
    plan.hasTotal = true;
    plan.returnOnFirstData = true;
    totalMs = t.ReadTotalTimeoutConstant;
  } else {
    totalMs = uint64_t(t.ReadTotalTimeoutMultiplier) * n + t.ReadTotalTimeoutConstant;
    plan.hasTotal = totalMs != 0;
    if (t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != kMax) {
      plan.hasInterval = true;
      plan.interval = std::chrono::milliseconds(t.ReadIntervalTimeout);
    }
  }
  plan.totalDeadline = start + std::chrono::milliseconds(totalMs);
  return plan;
}

ComClock::time_point ComReadPlan::DeadlineAfter(DWORD got, ComClock::time_point lastByte) const {
  if (hasInterval && got > 0) {
    ComClock::time_point gap = lastByte + interval;
    return hasTotal ? std::min(gap, totalDeadline) : gap;
  }
  return totalDeadline;
}

ComWaitResult WaitForFd(int fd, short events, int wakeFd, ComClock::time_point deadline,
                        bool hasDeadline, bool *hungUp) {
  if (hungUp)
    *hungUp = false;
  for (;;) {
    timespec ts{};
    timespec *timeout = nullptr;
    if (hasDeadline) {
      auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - ComClock::now());
      if (left.count() <= 0)
        return ComWaitResult::TimedOut;
      ts.tv_sec = static_cast<time_t>(left.count() / 1000000000);
      ts.tv_nsec = static_cast<long>(left.count() % 1000000000);
      timeout = &ts;
    }
    pollfd fds[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
    int r = ppoll(fds, 2, timeout, nullptr);
    if (r < 0) {
      if (errno == EINTR)
        continue;
      return ComWaitResult::Failed;
    }
    if (r == 0)
      continue; // the deadline check above decides
    if (fds[1].revents)
      return ComWaitResult::Closed;
    short got = fds[0].revents;
    bool hup = got & (POLLHUP | POLLERR | POLLNVAL);
    if (got & events) {
      if (hungUp)
        *hungUp = hup;
      return ComWaitResult::Ready;
    }
    if (hup)
      return ComWaitResult::HungUp;
  }
}
