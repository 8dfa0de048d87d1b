// One instance per user: a stale socket file is taken over, a second
// process hands its request to the first and ends, and a socket in a folder
// another user could have written to is never talked to.
#include "platform/single_instance.h"
#include "tests/support/temp_root.h"
#include "tests/support/toolkit.h"

#include <QCoreApplication>
#include <QProcess>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace testsupport;

namespace {

std::string gRequest;

TEST(SingleInstance, StaleSocketIsTakenOverAndSecondLaunchHandsOver) {
  TempRoot dir("instance");
  std::string path = dir.File("instance");
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

// A listening socket at `path`, not accepting: what another user plants.
int PlantListener(const std::string &path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  EXPECT_EQ(listen(fd, 4), 0);
  return fd;
}

TEST(SingleInstance, LaunchRunsAloneRatherThanTalkToAListenerOthersCouldPlant) {
  TempRoot dir("instance");
  ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
  const std::string path = dir.File("instance");
  const int planted = PlantListener(path);
  EXPECT_TRUE(SingleInstanceClaimNamed(path.c_str(), SINGLE_INSTANCE_CONNECT));
  // Nobody knocked: the request went nowhere.
  EXPECT_LT(accept(planted, nullptr, nullptr), 0);
  EXPECT_EQ(errno, EAGAIN);
  close(planted);
  SingleInstanceRelease();
}

TEST(SingleInstance, SocketIsNotMadeInARuntimeFolderOthersCanEnter) {
  TempRoot dir("instance");
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  const char *saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string savedValue = saved ? saved : "";
  setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
  EXPECT_TRUE(SingleInstanceClaim(SINGLE_INSTANCE_SHOW));
  struct stat st;
  EXPECT_NE(lstat(dir.File("vantrel-instance").c_str(), &st), 0);
  SingleInstanceRelease();
  if (saved)
    setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
  else
    unsetenv("XDG_RUNTIME_DIR");
}

} // namespace
