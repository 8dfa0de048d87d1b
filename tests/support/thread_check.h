// Every test ends the program's threads it started.
//
// A thread of the program left running after its test goes on using the
// test's objects, and at the end of the process the static objects that are
// being destroyed. The check counts the threads the platform layer has
// started and not yet ended (PlatformThreadsRunning) before and after each
// test, and fails a test that ends with more of them than it began with.
#pragma once

namespace testsupport {

// How long a test's end waits for threads that are already leaving (one
// that has been told to stop but not yet returned) before it fails the test.
constexpr unsigned kThreadEndGraceMs = 5000;

// Runs the tests (call after testing::InitGoogleTest) with the check on
// every test. Returns what RUN_ALL_TESTS returns, or 1 when threads of the
// program are still running after the last test (started outside any test,
// for example by a suite's set-up, and never ended).
int RunTestsEndingTheirThreads();

} // namespace testsupport
