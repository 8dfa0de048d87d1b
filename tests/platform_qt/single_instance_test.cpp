// One instance per user: a stale socket file is taken over, a second
// process hands its request to the first and ends (also to a first instance
// still starting), a client that misbehaves neither blocks nor reaches the
// instance, and a socket in a folder another user could have written to is
// never talked to.
#include "platform/single_instance.h"
#include "tests/support/temp_root.h"
#include "tests/support/toolkit.h"

#include <QCoreApplication>
#include <QProcess>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
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
  struct stat st;
  ASSERT_EQ(lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0077, 0u) << "others may connect";

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
  EXPECT_NE(lstat(path.c_str(), &st), 0) << "the socket outlived its release";
}

sockaddr_un AddressOf(const std::string &path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  return addr;
}

int ConnectTo(const std::string &path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr = AddressOf(path);
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  return fd;
}

// What the instance says on `fd` within 5 s while its loop runs: "" when it
// closed the connection, "?" when it said nothing.
std::string AnswerOn(int fd) {
  for (int i = 0; i < 500; ++i) {
    Spin(10);
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) == 1) {
      char buf[64];
      ssize_t n = read(fd, buf, sizeof buf);
      return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
    }
  }
  return "?";
}

TEST(SingleInstance, ClientsThatMisbehaveAreDroppedAndOthersStillServed) {
  TempRoot dir("instance");
  const std::string path = dir.File("instance");
  gRequest.clear();
  SetSingleInstanceHandler([](const char *request, void *) { gRequest += request; }, nullptr);
  ASSERT_TRUE(SingleInstanceClaimNamed(path.c_str(), SINGLE_INSTANCE_SHOW));

  // One launch connects and says nothing; another sends an endless line.
  const int silent = ConnectTo(path);
  const int flooding = ConnectTo(path);
  const std::string flood(4096, 'x');
  ASSERT_GT(send(flooding, flood.data(), flood.size(), MSG_NOSIGNAL), 0);
  EXPECT_EQ(AnswerOn(flooding), "") << "a line without end was kept";
  // Meanwhile a proper launch is answered and delivered.
  const int proper = ConnectTo(path);
  const std::string line = "  connect \r\n";
  ASSERT_EQ(send(proper, line.data(), line.size(), MSG_NOSIGNAL), static_cast<ssize_t>(line.size()));
  EXPECT_EQ(AnswerOn(proper), "ok\n");
  EXPECT_EQ(gRequest, SINGLE_INSTANCE_CONNECT);
  // The silent one is let go after a while.
  EXPECT_EQ(AnswerOn(silent), "");
  for (int fd : {silent, flooding, proper})
    close(fd);

  SingleInstanceRelease();
  SetSingleInstanceHandler(nullptr, nullptr);
}

TEST(SingleInstance, LaunchWaitsForAnInstanceThatIsStillStarting) {
  TempRoot dir("instance");
  const std::string path = dir.File("instance");
  // Another instance holds the lock and only listens a moment later; it
  // exits 0 when it received the launch's request.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    int lock = open((path + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
    if (lock < 0 || flock(lock, LOCK_EX) != 0 || write(ready[1], "r", 1) != 1)
      _exit(2);
    usleep(300000);
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr = AddressOf(path);
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(fd, 1) != 0)
      _exit(3);
    int client = accept(fd, nullptr, nullptr);
    char buf[64] = {};
    ssize_t n = read(client, buf, sizeof buf - 1);
    (void)!write(client, "ok\n", 3);
    _exit(n > 0 && std::string(buf) == "show\n" ? 0 : 4);
  }
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  close(ready[0]);
  close(ready[1]);
  EXPECT_FALSE(SingleInstanceClaimNamed(path.c_str(), SINGLE_INSTANCE_SHOW))
      << "the launch did not wait for the starting instance";
  int status = -1;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  SingleInstanceRelease();
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
