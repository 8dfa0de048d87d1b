// A write that returned success survives the writer being killed at any
// moment. The writer is this test program started again in a child role.
#include "common/settings_store.h"
#include "platform/text.h"
#include "tests/registry/registry_test_support.h"

#include <csignal>
#include <cstring>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Child role: write values in a loop and report each acknowledged one on
// the pipe, until killed. Runs before the test framework starts.
[[maybe_unused]] const int kChildRole = [] {
  const char *db = getenv("VANTREL_TEST_WRITER_DB");
  const char *fd = getenv("VANTREL_TEST_WRITER_FD");
  const char *prefix = getenv("VANTREL_TEST_WRITER_PREFIX");
  if (!db || !fd || !prefix)
    return 0;
  RegistryUseDatabase(db);
  int out = atoi(fd);
  for (int32_t i = 0;; ++i) {
    std::u16string name = Utf8ToUtf16(std::string(prefix) + std::to_string(i));
    SettingsStore::WriteDword(name.c_str(), i);
    if (write(out, &i, sizeof i) != sizeof i)
      _exit(3);
  }
}();

class DurabilityTest : public RegistryTest {};

TEST_F(DurabilityTest, AcknowledgedWritesSurviveSigkill) {
  std::mt19937 rng(std::random_device{}());
  std::string self = "/proc/self/exe";
  char exe[4096];
  ssize_t n = readlink(self.c_str(), exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  exe[n] = 0;
  std::vector<std::pair<std::string, int32_t>> acknowledged;
  for (int round = 0; round < 4; ++round) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string prefix = "r" + std::to_string(round) + "_";
    std::string fdText = std::to_string(fds[1]);
    std::string db = DbPath();
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      setenv("VANTREL_TEST_WRITER_DB", db.c_str(), 1);
      setenv("VANTREL_TEST_WRITER_FD", fdText.c_str(), 1);
      setenv("VANTREL_TEST_WRITER_PREFIX", prefix.c_str(), 1);
      char *argv[] = {exe, const_cast<char *>("--gtest_list_tests"), nullptr};
      execv(exe, argv);
      _exit(127);
    }
    close(fds[1]);
    // Once it writes (start-up time varies a lot under sanitizers), let it
    // go on for a random while, then kill it without warning.
    int32_t i;
    int count = 0;
    if (read(fds[0], &i, sizeof i) == sizeof i) {
      acknowledged.emplace_back(prefix + std::to_string(i), i);
      ++count;
    }
    usleep(std::uniform_int_distribution<int>(1000, 250000)(rng));
    kill(pid, SIGKILL);
    while (read(fds[0], &i, sizeof i) == sizeof i) {
      acknowledged.emplace_back(prefix + std::to_string(i), i);
      ++count;
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself";
    EXPECT_GT(count, 0) << "round " << round << " acknowledged nothing";

    // A fresh open (as at the next start) must see every acknowledged value.
    RegistryUseDatabase(DbPath());
    RegistryStatus status2 = RegistryGetStatus();
    EXPECT_FALSE(status2.inMemory) << status2.problem;
    for (const auto &[name, value] : acknowledged) {
      StoredValue v = ReadStored(u"Software\\Vantrel", Utf8ToUtf16(name).c_str());
      ASSERT_EQ(v.rc, ERROR_SUCCESS) << name << " lost after round " << round;
      ASSERT_EQ(v.bytes.size(), 4u);
      int32_t stored;
      memcpy(&stored, v.bytes.data(), 4);
      EXPECT_EQ(stored, value);
    }
  }
  EXPECT_TRUE(FilesStartingWith(dir_.path(), "registry.db.damaged").empty());
}

} // namespace
