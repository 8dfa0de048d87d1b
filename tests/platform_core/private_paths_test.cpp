// Places another local user must not control: the runtime folder that holds
// the instance socket, and the files that record every key typed.
#include "platform/core/private_paths.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ios>
#include <string>
#include <sys/stat.h>
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

} // namespace
