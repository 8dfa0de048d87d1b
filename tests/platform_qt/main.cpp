// The Qt window system tests run on the offscreen platform. Started with
// VANTREL_SI_HELPER=name the binary is instead a second launch for the
// single-instance test: exit 0 when it handed its request over, 3 when it
// became the first instance itself.
#include "platform/single_instance.h"
#include "tests/support/thread_check.h"
#include "tests/support/toolkit.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char **argv) {
  if (const char *name = std::getenv("VANTREL_SI_HELPER")) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QCoreApplication app(argc, argv);
    return SingleInstanceClaimNamed(name, SINGLE_INSTANCE_CONNECT) ? 3 : 0;
  }
  if (!testsupport::StartToolkitOnce(&argc, argv))
    return 1;
  testing::InitGoogleTest(&argc, argv);
  return testsupport::RunTestsEndingTheirThreads();
}
