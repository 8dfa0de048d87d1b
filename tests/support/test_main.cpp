// The main of the test programs: every test must end the threads it starts.
#include "tests/support/thread_check.h"

#include <gtest/gtest.h>

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  return testsupport::RunTestsEndingTheirThreads();
}
