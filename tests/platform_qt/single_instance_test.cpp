// One instance per user: a stale socket file is taken over, and a second
// process hands its request to the first and ends.
#include "platform/single_instance.h"
#include "tests/platform_qt/qt_test_support.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

std::string gRequest;

TEST(SingleInstance, StaleSocketIsTakenOverAndSecondLaunchHandsOver) {
  QTemporaryDir dir;
  std::string path = dir.filePath("instance").toStdString();
  // A crashed first instance leaves its socket file behind.
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  close(fd);

  SetSingleInstanceHandler([](const char *request, void *) { gRequest = request; }, nullptr);
  ASSERT_TRUE(SingleInstanceClaimNamed(path.c_str(), SINGLE_INSTANCE_SHOW));

  QProcess second;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("VANTREL_SI_HELPER", QString::fromStdString(path));
  second.setProcessEnvironment(env);
  second.start(QCoreApplication::applicationFilePath(), {});
  ASSERT_TRUE(second.waitForStarted(5000));
  for (int i = 0; i < 500 && second.state() != QProcess::NotRunning; ++i)
    Spin(10); // the first instance answers from its event loop
  EXPECT_EQ(second.exitCode(), 0) << "the second launch did not hand over";
  for (int i = 0; i < 100 && gRequest.empty(); ++i)
    Spin(10);
  EXPECT_EQ(gRequest, SINGLE_INSTANCE_CONNECT);

  SingleInstanceRelease();
  SetSingleInstanceHandler(nullptr, nullptr);
}

} // namespace
