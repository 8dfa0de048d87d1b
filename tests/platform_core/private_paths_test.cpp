// Places another local user must not control: the runtime folder that holds
// the instance socket, and the files that record every key typed.
#include "platform/core/private_paths.h"
#include "platform/serial/com_devices.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ios>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class PrivatePaths : public ::testing::Test {
protected:
  void SetUp() override {
    const char *run = getenv("XDG_RUNTIME_DIR");
    savedRuntime_ = run ? run : "";
    hadRuntime_ = run != nullptr;
  }
  void TearDown() override {
    if (hadRuntime_)
      setenv("XDG_RUNTIME_DIR", savedRuntime_.c_str(), 1);
    else
      unsetenv("XDG_RUNTIME_DIR");
  }
  static std::string Read(const std::string &path) { return testsupport::ReadFile(path); }
  static void Append(int fd, const char *text) {
    ASSERT_EQ(write(fd, text, strlen(text)), static_cast<ssize_t>(strlen(text)));
    close(fd);
  }
  testsupport::TempRoot tmp_{"private"};
  const std::string dir_ = tmp_.path();
  std::string savedRuntime_;
  bool hadRuntime_ = false;
};

TEST_F(PrivatePaths, AppendFileIsTheUsersAloneAndNeverReachedThroughALink) {
  const std::string path = dir_ + "/trace.log";
  std::string why;
  const mode_t savedMask = umask(022);
  int fd = OpenPrivateAppend(path.c_str(), &why);
  umask(savedMask);
  ASSERT_GE(fd, 0) << why;
  Append(fd, "a");
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // An existing file of the user's is appended to; one that others could
  // read is closed to them before anything is written.
  for (mode_t mode : {0644, 0640, 0666, 0600}) {
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
    fd = OpenPrivateAppend(path.c_str(), &why);
    ASSERT_GE(fd, 0) << why;
    ASSERT_EQ(fstat(fd, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << std::oct << mode;
    close(fd);
  }
  fd = OpenPrivateAppend(path.c_str(), &why);
  ASSERT_GE(fd, 0) << why;
  Append(fd, "b");
  EXPECT_EQ(Read(path), "ab");

  // What is not a regular file is refused, a FIFO without waiting for a
  // reader.
  const std::string fifo = dir_ + "/fifo.log";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  for (const std::string &odd : {fifo, dir_}) {
    EXPECT_EQ(OpenPrivateAppend(odd.c_str(), &why), -1) << odd;
    EXPECT_NE(why.find("not a regular file"), std::string::npos) << odd << ": " << why;
  }
  ASSERT_EQ(stat(fifo.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u) << "a refused file is left as it is";

  // A link planted at the path is not followed: the file it names is left
  // alone.
  const std::string link = dir_ + "/planted.log";
  ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
  EXPECT_EQ(OpenPrivateAppend(link.c_str(), &why), -1);
  EXPECT_NE(why.find("symbolic link"), std::string::npos) << why;
  EXPECT_EQ(Read(path), "ab");

  if (geteuid() != 0)
    GTEST_SKIP() << "needs root to give the file to another user";
  // Another user's file (made first in a shared folder) would hand them
  // every key written to it.
  ASSERT_EQ(chown(path.c_str(), 65534, -1), 0);
  EXPECT_EQ(OpenPrivateAppend(path.c_str(), &why), -1);
  EXPECT_NE(why.find("belongs to another user (uid 65534)"), std::string::npos) << why;
  EXPECT_EQ(Read(path), "ab");
}

TEST_F(PrivatePaths, RuntimeFolderMustBeTheUsersOwnPrivateFolder) {
  std::string why;
  setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  EXPECT_EQ(UserRuntimeFolder(&why), dir_) << why;

  ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
  EXPECT_EQ(UserRuntimeFolder(&why), "");
  EXPECT_NE(why.find("it must be private (0700)"), std::string::npos) << why;
  ASSERT_EQ(chmod(dir_.c_str(), 0700), 0);

  // A link, even to a private folder of the user's, is not taken.
  const std::string link = dir_ + "-link";
  ASSERT_EQ(symlink(dir_.c_str(), link.c_str()), 0);
  setenv("XDG_RUNTIME_DIR", link.c_str(), 1);
  EXPECT_EQ(UserRuntimeFolder(&why), "");
  EXPECT_NE(why.find("symbolic link"), std::string::npos) << why;
  unlink(link.c_str());

  if (geteuid() != 0)
    GTEST_SKIP() << "needs root to give the folder to another user";
  ASSERT_EQ(chown(dir_.c_str(), 65534, -1), 0);
  setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  EXPECT_EQ(UserRuntimeFolder(&why), "");
  EXPECT_NE(why.find("belongs to another user (uid 65534)"), std::string::npos) << why;
}

// Another user who makes /tmp/vantrel-<uid> first (XDG_RUNTIME_DIR unset),
// or leaves it open, must not turn off the single-instance check or hide
// the ports: that folder is passed over for a private one below the home
// folder, and its planted COM3 link is not even looked at (/dev/rfcomm3 is).
// The user is a forked child with a uid of its own.
TEST_F(PrivatePaths, PlantedSharedFolderIsPassedOverForOneBelowHome) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root to act as two users";
  constexpr uid_t kUser = 61234, kOther = 61235; // no accounts needed
  const std::string shared = "/tmp/vantrel-" + std::to_string(kUser);
  struct Removed {
    const std::string &path;
    ~Removed() { std::filesystem::remove_all(path); }
  } removed{shared};
  const std::string cache = dir_ + "/cache";
  ASSERT_EQ(chmod(dir_.c_str(), 0711), 0);
  ASSERT_EQ(mkdir(cache.c_str(), 0700), 0);
  ASSERT_EQ(chown(cache.c_str(), kUser, kUser), 0);
  struct Planted {
    const char *what;
    uid_t owner;
    mode_t mode;
  } planted[] = {{"another user's", kOther, 0755}, {"the user's but open", kUser, 0777}};
  for (const Planted &p : planted) {
    SCOPED_TRACE(p.what);
    std::filesystem::remove_all(shared);
    ASSERT_EQ(mkdir(shared.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((shared + "/devices").c_str(), 0755), 0);
    ASSERT_EQ(symlink("/dev/null", (shared + "/devices/COM3").c_str()), 0);
    ASSERT_EQ(lchown((shared + "/devices/COM3").c_str(), p.owner, p.owner), 0);
    ASSERT_EQ(chown((shared + "/devices").c_str(), p.owner, p.owner), 0);
    ASSERT_EQ(chown(shared.c_str(), p.owner, p.owner), 0);
    ASSERT_EQ(chmod(shared.c_str(), p.mode), 0);

    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    if (child == 0) {
      close(out[0]);
      if (setresgid(kUser, kUser, kUser) != 0 || setresuid(kUser, kUser, kUser) != 0)
        _exit(126);
      unsetenv("XDG_RUNTIME_DIR");
      unsetenv("VANTREL_DEVICES");
      setenv("XDG_CACHE_HOME", cache.c_str(), 1);
      std::string why, port;
      FolderNeed need;
      const std::string run = UserRuntimeFolder(&why);
      const std::string devices = ComDevicesFolder(&need);
      const int fd = OpenComDevice(3, O_RDWR | O_NOCTTY | O_NONBLOCK, &port);
      const std::string report = run + "|" + devices + "|" + port + "|" +
                                 (ComLinkOffered(3) ? "offered" : "-") + "|" +
                                 (fd >= 0 ? "opened" : "-");
      _exit(write(out[1], report.data(), report.size()) == ssize_t(report.size()) ? 0 : 1);
    }
    close(out[1]);
    std::string report;
    char buffer[1024];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
      report.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::string run = cache + "/vantrel/run";
    EXPECT_EQ(report, run + "|" + run + "/devices|/dev/rfcomm3|-|-");
    struct stat st;
    ASSERT_EQ(lstat(run.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(st.st_uid, kUser);
  }
}

} // namespace
