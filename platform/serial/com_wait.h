// Waiting on a port's descriptor within the COMMTIMEOUTS rules (internal to
// the serial backend).
#pragma once

#include "platform/serial.h"

#include <chrono>
#include <poll.h>

using ComClock = std::chrono::steady_clock;

// What the time-outs of one read of n bytes allow, decided at its start:
// - total: multiplier x n + constant from the start (none when both are 0);
// - interval: once a byte has arrived, at most ReadIntervalTimeout between
//   two bytes (0: no interval limit);
// - interval MAXDWORD with total 0: return at once with what is buffered;
// - interval and multiplier MAXDWORD, constant between: return as soon as
//   any byte is there, or after the constant.
struct ComReadPlan {
  bool hasTotal = false;
  ComClock::time_point totalDeadline{};
  bool hasInterval = false;
  std::chrono::milliseconds interval{0};
  bool returnOnFirstData = false;

  bool HasDeadline(DWORD got) const { return hasTotal || (hasInterval && got > 0); }
  // The time by which the next byte must arrive (valid when HasDeadline).
  ComClock::time_point DeadlineAfter(DWORD got, ComClock::time_point lastByte) const;
};
ComReadPlan PlanRead(const COMMTIMEOUTS &t, DWORD n);

enum class ComWaitResult { Ready, TimedOut, HungUp, Closed, Failed };
// Waits until fd reports `events`, the deadline passes (only when
// hasDeadline), the wake descriptor is signalled (the handle is being
// closed), or fd hangs up. Ready is also returned for a hang-up that comes
// with buffered data still to read (hungUp is then set).
ComWaitResult WaitForFd(int fd, short events, int wakeFd, ComClock::time_point deadline,
                        bool hasDeadline, bool *hungUp = nullptr);
