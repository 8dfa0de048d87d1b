// The platform's threads are counted from their start until their routine
// returns, so that PlatformThreadsRunning (platform/threads.h) can tell a
// test whether every thread it started has ended (internal to the platform
// layer).
#pragma once

#include <thread>
#include <utility>

// CountThreadStarting: called by the creating thread before the thread is
// created (so a thread that has not yet run is counted too);
// CountThreadEnded: called once by the thread as its routine returns, or by
// the creator when the thread could not be created.
void CountThreadStarting();
void CountThreadEnded();

// Starts body() on a std::thread that is counted as running until body
// returns. The caller owns the std::thread and joins it, as with any other.
// Throws what std::thread throws when no thread can be made (the count is
// then left as it was).
template <typename Body> std::thread StartCountedThread(Body body) {
  struct EndsCount {
    ~EndsCount() { CountThreadEnded(); }
  };
  CountThreadStarting();
  try {
    return std::thread([body = std::move(body)]() mutable {
      EndsCount ends;
      body();
    });
  } catch (...) {
    CountThreadEnded();
    throw;
  }
}
