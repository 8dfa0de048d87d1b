// The monotonic clock in microseconds, for the injectors' timing of spare
// keys (how long ago a key was lent or typed). Unaffected by changes of the
// wall clock; the origin is arbitrary, so only differences mean anything.
#pragma once

#include <chrono>
#include <cstdint>

inline int64_t MonotonicMicroseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
