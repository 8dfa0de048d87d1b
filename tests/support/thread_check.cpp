#include "tests/support/thread_check.h"

#include "platform/threads.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace testsupport {
namespace {

// Waits up to kThreadEndGraceMs for the count to fall to `most`; returns the
// count then.
int RunningAfterGrace(int most) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kThreadEndGraceMs);
  int running = PlatformThreadsRunning();
  while (running > most && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    running = PlatformThreadsRunning();
  }
  return running;
}

class ThreadCheck : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo &) override { before_ = PlatformThreadsRunning(); }
  // Listeners' OnTestEnd run before the result printer's, with the test
  // still current: the failure is the test's own.
  void OnTestEnd(const testing::TestInfo &) override {
    const int running = RunningAfterGrace(before_);
    if (running > before_)
      ADD_FAILURE() << running - before_ << " thread(s) of the program still running "
                    << kThreadEndGraceMs << " ms after the test ended (" << before_
                    << " before it): stop and join every thread the test starts";
  }

  int before_ = 0;
};

} // namespace

int RunTestsEndingTheirThreads() {
  testing::UnitTest::GetInstance()->listeners().Append(new ThreadCheck);
  const int result = RUN_ALL_TESTS();
  const int running = RunningAfterGrace(0);
  if (running > 0) {
    std::fprintf(stderr, "%d thread(s) of the program still running after the last test\n", running);
    return 1;
  }
  return result;
}

} // namespace testsupport
