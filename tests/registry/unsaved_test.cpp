// Changes the file cannot take now (a full disk, another process holding the
// database) are kept in memory and seen by this run's reads, written back in
// order once the file takes them again, and told to the person once each
// time; the tool never reports such a change as done. Opening and reading
// never wait for another process.
#include "common/settings_store.h"
#include "platform/window.h"
#include "tests/registry/registry_test_support.h"
#include "tests/support/scripted_message_boxes.h"

#include "platform/text.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <unistd.h>

namespace {

const std::string kToolKey = "HKLM\\Software\\Vantrel";

// Keeper role: while another process holds the database, make 30 changes
// (kept in memory) and say 'k' on the pipe; say 'n' whenever the person
// would be told of the kept changes, and 's' once they are all written
// back; then wait to be killed. Runs before the test framework starts.
int gKeeperOut = -1;
[[maybe_unused]] const int kKeeperRole = [] {
  const char *db = getenv("VANTREL_TEST_KEEPER_DB");
  const char *fd = getenv("VANTREL_TEST_KEEPER_FD");
  if (!db || !fd)
    return 0;
  gKeeperOut = atoi(fd);
  RegistryUseDatabase(db);
  RegistrySetUnsavedNotifier([](const char *) {
    if (write(gKeeperOut, "n", 1) != 1)
      _exit(3);
  });
  // Through the registry itself: the settings store would put its own
  // notifier in place.
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Vantrel", 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    _exit(4);
  for (DWORD i = 0; i < 30; ++i) {
    std::u16string name = Utf8ToUtf16("k" + std::to_string(i));
    if (RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&i),
                       sizeof i) != ERROR_SUCCESS)
      _exit(4);
  }
  if (write(gKeeperOut, "k", 1) != 1)
    _exit(3);
  while (RegistryGetStatus().unsavedChanges != 0)
    usleep(2000);
  if (write(gKeeperOut, "s", 1) != 1)
    _exit(3);
  for (;;)
    pause();
}();

// Reads `fd` until the byte `want` comes (true), the other end is closed or
// `ms` have passed.
bool AwaitByte(int fd, char want, int ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    struct pollfd p = {fd, POLLIN, 0};
    if (left.count() < 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0)
      return false;
    char c;
    if (read(fd, &c, 1) != 1)
      return false;
    if (c == want)
      return true;
  }
}

// While it lives, no file of this process (or of a child started meanwhile)
// grows past the size the largest of `files` has now: to the database, as
// good as a full disk.
class DiskFull {
public:
  explicit DiskFull(const std::vector<std::string> &files) {
    off_t largest = 0;
    for (const std::string &f : files) {
      struct stat st;
      if (stat(f.c_str(), &st) == 0)
        largest = std::max(largest, st.st_size);
    }
    getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = saved_;
    limit.rlim_cur = static_cast<rlim_t>(largest);
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~DiskFull() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, oldHandler_);
  }

private:
  struct rlimit saved_;
  sighandler_t oldHandler_;
};

class UnsavedTest : public RegistryTest {
protected:
  void SetUp() override {
    RegistryTest::SetUp();
    // Reading a setting from inside a box proves the box is not asked for
    // while the registry is locked.
    boxes_.DuringEach([this](size_t) { readInBox_ = SettingsStore::ReadDword(u"Keyclicks", -1); });
  }
  int Boxes() const { return static_cast<int>(boxes_.Count()); }
  // What another process finds in the file.
  std::string FileHas(const std::string &name) {
    ToolResult r = RunTool({"get", kToolKey, name}, DbPath());
    return r.status == 0 ? r.out : "exit " + std::to_string(r.status);
  }
  DiskFull Full() { return DiskFull({DbPath(), DbPath() + "-wal"}); }
  testsupport::ScriptedMessageBoxes boxes_;
  std::atomic<int> readInBox_{0};
};

TEST_F(UnsavedTest, AFullDiskKeepsChangesUntilItHasRoomAndTellsOncePerStretch) {
  SettingsStore::WriteDword(u"Keyclicks", 1);
  SettingsStore::WriteString(u"COMPORT", u"COM1:");
  {
    DiskFull full = Full();
    SettingsStore::WriteDword(u"Keyclicks", 0);
    SettingsStore::WriteString(u"COMPORT", u"COM5:");
    SettingsStore::WriteDword(u"Serial No", 77);
    // This run sees its changes; the file does not have them yet.
    EXPECT_EQ(SettingsStore::ReadDword(u"Keyclicks", 1), 0);
    WCHAR text[kSettingTextUnits];
    EXPECT_EQ(SettingsStore::ReadString(u"COMPORT", text), 1);
    EXPECT_EQ(std::u16string(text), u"COM5:");
    RegistryStatus status = RegistryGetStatus();
    EXPECT_TRUE(status.inMemory);
    EXPECT_EQ(status.unsavedChanges, 3u);
    EXPECT_EQ(Boxes(), 1);
    EXPECT_EQ(readInBox_.load(), 0);
    EXPECT_EQ(FileHas("Keyclicks"), "Keyclicks\tREG_DWORD\t1\n");

    // The tool fails rather than report a change it could not make.
    ToolResult set = RunTool({"set", kToolKey, "Build No", "--dword", "5"}, DbPath());
    EXPECT_EQ(set.status, 3);
    EXPECT_NE(set.err.find("not saved"), std::string::npos) << set.err;
  }
  // Room again: the next change writes everything kept, in order.
  SettingsStore::WriteDword(u"Build No", 9);
  EXPECT_FALSE(RegistryGetStatus().inMemory);
  EXPECT_EQ(FileHas("Keyclicks"), "Keyclicks\tREG_DWORD\t0\n");
  EXPECT_EQ(FileHas("COMPORT"), "COMPORT\tREG_SZ\tCOM5:\n");
  EXPECT_EQ(FileHas("Serial No"), "Serial No\tREG_DWORD\t77\n");
  EXPECT_EQ(FileHas("Build No"), "Build No\tREG_DWORD\t9\n");
  EXPECT_EQ(Boxes(), 1);

  // A new stretch is told again; a flush ends it without another write.
  {
    DiskFull full = Full();
    SettingsStore::WriteDword(u"Keyclicks", 1);
    SettingsStore::WriteDword(u"Keyclicks", 0);
    EXPECT_FALSE(RegistryFlush(0));
  }
  EXPECT_EQ(Boxes(), 2);
  EXPECT_TRUE(RegistryFlush(1000));
  EXPECT_EQ(FileHas("Keyclicks"), "Keyclicks\tREG_DWORD\t0\n");
  EXPECT_EQ(RegistryGetStatus().unsavedChanges, 0u);
}

TEST_F(UnsavedTest, AnotherProcessHoldingTheDatabaseStallsNeitherOpeningNorReading) {
  SettingsStore::WriteDword(u"Keyclicks", 1);
  SettingsStore::WriteDword(u"Gone", 3);
  RegistryUseDatabase(DbPath()); // opened again below, as at start-up
  HeldDatabase held(DbPath());
  ASSERT_TRUE(held.holding());

  std::string err = CaptureStderr([] {
    EXPECT_EQ(SettingsStore::ReadDword(u"Keyclicks", 5), 1);
    EXPECT_FALSE(RegistryGetStatus().inMemory);
  });
  EXPECT_EQ(err, "");
  ToolResult get = RunTool({"get", kToolKey, "Keyclicks"}, DbPath());
  EXPECT_EQ(get.status, 0);
  EXPECT_EQ(get.out, "Keyclicks\tREG_DWORD\t1\n");
  EXPECT_EQ(get.err, "");

  // Changes are kept, in order, and this run reads them back.
  err = CaptureStderr([] {
    SettingsStore::WriteDword(u"Keyclicks", 0);
    SettingsStore::WriteDword(u"Keyclicks", 2);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Vantrel", 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, u"Gone"), ERROR_SUCCESS);
    RegCloseKey(key);
    SettingsStore::WriteString(u"COMPORT", u"COM3:");
  });
  EXPECT_NE(err.find("held by another process"), std::string::npos) << err;
  EXPECT_EQ(SettingsStore::ReadDword(u"Keyclicks", 5), 2);
  EXPECT_EQ(ReadStored(u"Software\\Vantrel", u"Gone").rc, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ReadStored(u"Software\\Vantrel", u"COMPORT").bytes, TextBytes(u"COM3:"));
  EXPECT_EQ(RegistryGetStatus().unsavedChanges, 4u);
  EXPECT_EQ(FileHas("Keyclicks"), "Keyclicks\tREG_DWORD\t1\n");

  held.Release();
  EXPECT_TRUE(RegistryFlush(2000)) << RegistryGetStatus().problem;
  EXPECT_FALSE(RegistryGetStatus().inMemory);
  EXPECT_EQ(FileHas("Keyclicks"), "Keyclicks\tREG_DWORD\t2\n");
  EXPECT_EQ(FileHas("Gone"), "exit 1");
  EXPECT_EQ(FileHas("COMPORT"), "COMPORT\tREG_SZ\tCOM3:\n");
}

// Polls `done` for up to `seconds`; true once it holds.
bool Eventually(const std::function<bool()> &done, int seconds) {
  for (int i = 0; i < seconds * 20; ++i) {
    if (done())
      return true;
    usleep(50000);
  }
  return done();
}

TEST_F(UnsavedTest, ALockHeldLongIsToldOnceAndTheRetryWritesBackByItself) {
  SettingsStore::WriteDword(u"Keyclicks", 1);
  HeldDatabase held(DbPath());
  ASSERT_TRUE(held.holding());
  SettingsStore::WriteDword(u"Keyclicks", 0);
  SettingsStore::WriteDword(u"Serial No", 5);
  // A moment's lock is not worth a box; one held for seconds is, once.
  EXPECT_EQ(Boxes(), 0);
  EXPECT_TRUE(Eventually([this] { return Boxes() > 0; }, 20));
  EXPECT_EQ(readInBox_.load(), 0);
  held.Release();
  EXPECT_TRUE(Eventually([] { return RegistryGetStatus().unsavedChanges == 0; }, 20));
  EXPECT_EQ(FileHas("Keyclicks"), "Keyclicks\tREG_DWORD\t0\n");
  EXPECT_EQ(FileHas("Serial No"), "Serial No\tREG_DWORD\t5\n");
  EXPECT_EQ(Boxes(), 1);
}

TEST_F(UnsavedTest, KeptChangesReachTheFileAsSoonAsTheLockIsLetGo) {
  // Kept changes live in the writer's memory: a kill takes them with it.
  // Once the lock is let go they must reach the file before a kill that
  // comes soon after. The writer is this program started again.
  SettingsStore::WriteDword(u"Keyclicks", 1);
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  exe[n] = 0;
  HeldDatabase held(DbPath());
  ASSERT_TRUE(held.holding());
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  std::string db = DbPath(), fdText = std::to_string(fds[1]);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("VANTREL_TEST_KEEPER_DB", db.c_str(), 1);
    setenv("VANTREL_TEST_KEEPER_FD", fdText.c_str(), 1);
    fcntl(fds[1], F_SETFD, 0);
    int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, 2);
    char *argv[] = {exe, const_cast<char *>("--gtest_list_tests"), nullptr};
    execv(exe, argv);
    _exit(127);
  }
  close(fds[1]);
  // The lock is let go right after a try that met it (the one that tells
  // the person, some seconds on): a retry once a second would come about
  // a second later, far past the bound below, which leaves room for a
  // loaded machine.
  bool kept = AwaitByte(fds[0], 'k', 60000);
  bool told = kept && AwaitByte(fds[0], 'n', 60000);
  held.Release();
  bool written = told && AwaitByte(fds[0], 's', 700);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  close(fds[0]);
  ASSERT_TRUE(told) << "the writer did not keep its changes";
  EXPECT_TRUE(written) << "kept changes not written back within 700 ms of the lock's release";
  for (int i = 0; i < 30; ++i) {
    std::string name = "k" + std::to_string(i);
    StoredValue v = ReadStored(u"Software\\Vantrel", Utf8ToUtf16(name).c_str());
    EXPECT_EQ(v.rc, ERROR_SUCCESS) << name << " lost with the kill";
  }
}

TEST_F(UnsavedTest, TheToolSaysWhyItWaitsAndFailsWhenTheDatabaseStaysHeld) {
  ASSERT_EQ(RunTool({"set", kToolKey, "Keyclicks", "--dword", "1"}, DbPath()).status, 0);
  HeldDatabase held(DbPath());
  ASSERT_TRUE(held.holding());
  ToolResult set = RunTool({"--wait", "0.5", "set", kToolKey, "Keyclicks", "--dword", "0"}, DbPath());
  EXPECT_EQ(set.status, 3);
  EXPECT_NE(set.err.find("waiting for the settings database"), std::string::npos) << set.err;
  EXPECT_NE(set.err.find("not saved"), std::string::npos) << set.err;
  ToolResult gone = RunTool({"--wait", "0", "delete", kToolKey, "Keyclicks"}, DbPath());
  EXPECT_EQ(gone.status, 3);
  held.Release();
  EXPECT_EQ(FileHas("Keyclicks"), "Keyclicks\tREG_DWORD\t1\n");
}

} // namespace
