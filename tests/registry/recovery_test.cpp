// Databases that cannot be used: a damaged file is kept aside and a fresh one
// started; a file or folder that cannot be written or read leaves the run in
// memory, says so once, and is never touched.
#include "app/settings_store.h"
#include "platform/trace.h"
#include "tests/registry/registry_test_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

namespace {

class RecoveryTest : public RegistryTest {
protected:
  void SetUp() override {
    RegistryTest::SetUp();
    traces_.clear();
    SetTraceSink([](const char *line, void *self) {
      static_cast<std::vector<std::string> *>(self)->push_back(line);
    }, &traces_);
  }
  void TearDown() override {
    SetTraceSink(nullptr, nullptr);
    RegistryTest::TearDown();
  }
  int TracesMentioning(const std::string &text) const {
    int n = 0;
    for (const auto &line : traces_)
      n += line.find(text) != std::string::npos;
    return n;
  }
  std::vector<std::string> traces_;
};

// Runs fn with stderr going to a file; returns what it printed there.
std::string CaptureStderr(const std::function<void()> &fn) {
  TempDir scratch;
  std::string path = scratch.File("stderr");
  fflush(stderr);
  int saved = dup(2);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(fd, 2);
  close(fd);
  fn();
  fflush(stderr);
  dup2(saved, 2);
  close(saved);
  return ReadWholeFile(path);
}

// Settings still work, but only for this run.
void ExpectWorkingInMemory() {
  RegistryStatus status = RegistryGetStatus();
  EXPECT_TRUE(status.inMemory);
  EXPECT_FALSE(status.problem.empty());
  EXPECT_EQ(SettingsStore::ReadDword(u"Keyclicks", 1), 1);
  SettingsStore::WriteDword(u"Keyclicks", 0);
  EXPECT_EQ(SettingsStore::ReadDword(u"Keyclicks", 1), 0);
}

TEST_F(RecoveryTest, DamagedFilesAreKeptAsideAndAFreshOneStarted) {
  const std::string garbage[] = {
      std::string(8192, 'x'),
      std::string("SQLite format 3\0", 16) + std::string(4080, '\x7f'),
  };
  for (const std::string &bytes : garbage) {
    TempDir dir;
    std::string db = dir.File("registry.db");
    WriteWholeFile(db, bytes);
    WriteWholeFile(db + "-wal", "not a log");
    RegistryUseDatabase(db);
    RegistryStatus status = RegistryGetStatus();
    EXPECT_FALSE(status.inMemory) << status.problem;
    SettingsStore::WriteDword(u"Keyclicks", 0);
    EXPECT_EQ(SettingsStore::ReadDword(u"Keyclicks", 1), 0);

    std::vector<std::string> aside = FilesStartingWith(dir.path(), "registry.db.damaged-");
    std::string kept;
    for (const auto &name : aside)
      if (name.find("-wal") == std::string::npos && name.find("-shm") == std::string::npos)
        kept = name;
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(ReadWholeFile(dir.File(kept)), bytes) << "the damaged file was changed";
    EXPECT_EQ(ReadWholeFile(dir.File(kept + "-wal")), "not a log");
    EXPECT_EQ(TracesMentioning("damaged"), 1);
    traces_.clear();

    // The fresh file holds what was written, for the next start.
    RegistryUseDatabase(db);
    EXPECT_EQ(SettingsStore::ReadDword(u"Keyclicks", 1), 0);
    EXPECT_EQ(FilesStartingWith(dir.path(), "registry.db.damaged-").size(), aside.size());
    RegistryUseDatabase(dir_.File("closed.db"));
  }
}

TEST_F(RecoveryTest, FolderThatCannotBeMadeMeansMemoryAndOneMessage) {
  WriteWholeFile(dir_.File("plain"), "a file, not a folder");
  std::string db = dir_.File("plain/vantrel/registry.db");
  RegistryUseDatabase(db);
  std::string err = CaptureStderr([] {
    ExpectWorkingInMemory();
    SettingsStore::WriteString(u"language", u"English.lang");
  });
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_NE(err.find(db), std::string::npos) << err;
  EXPECT_EQ(TracesMentioning(db), 1);
  EXPECT_EQ(ReadWholeFile(dir_.File("plain")), "a file, not a folder");
}

TEST_F(RecoveryTest, SomethingElseAtThePathIsLeftAlone) {
  ASSERT_EQ(mkdir(DbPath().c_str(), 0700), 0);
  WriteWholeFile(DbPath() + "/inside", "kept");
  RegistryUseDatabase(DbPath());
  CaptureStderr(ExpectWorkingInMemory);
  EXPECT_EQ(ReadWholeFile(DbPath() + "/inside"), "kept");
  EXPECT_TRUE(FilesStartingWith(dir_.path(), "registry.db.damaged").empty());
}

// Runs fn in a child process without root's powers over file permissions;
// returns its exit status (0 when every check held).
int RunUnprivileged(const std::function<int()> &fn) {
  pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
      _exit(77);
    _exit(fn());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(RecoveryTest, FilesThatCannotBeWrittenOrReadAreNeverTouched) {
  // A database with one setting, then made read-only, in a read-only folder.
  RegistryUseDatabase(DbPath());
  SettingsStore::WriteDword(u"Keyclicks", 0);
  RegistryUseDatabase(dir_.File("closed.db")); // closes and checkpoints the file
  std::string unreadable = dir_.File("unreadable.db");
  WriteWholeFile(unreadable, "private");
  chmod(unreadable.c_str(), 0);
  chmod(DbPath().c_str(), 0444);
  chmod(dir_.path().c_str(), 0555);
  std::string before = ReadWholeFile(DbPath());
  std::vector<std::string> namesBefore = FilesStartingWith(dir_.path(), "");

  int status = RunUnprivileged([&]() -> int {
    // Read-only: the stored setting is still seen; changes live in memory.
    RegistryUseDatabase(DbPath());
    if (!RegistryGetStatus().inMemory)
      return 1;
    if (SettingsStore::ReadDword(u"Keyclicks", 1) != 0)
      return 2;
    SettingsStore::WriteDword(u"Keyclicks", 1);
    if (SettingsStore::ReadDword(u"Keyclicks", 0) != 1)
      return 3;
    // Unreadable: left alone, run in memory.
    RegistryUseDatabase(unreadable);
    if (!RegistryGetStatus().inMemory)
      return 4;
    return SettingsStore::ReadDword(u"Keyclicks", 1) == 1 ? 0 : 5;
  });
  if (status == 77)
    GTEST_SKIP() << "cannot drop root's powers here";
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadWholeFile(DbPath()), before);
  EXPECT_EQ(FilesStartingWith(dir_.path(), ""), namesBefore);
  chmod(dir_.path().c_str(), 0700);
  chmod(unreadable.c_str(), 0600);
  EXPECT_EQ(ReadWholeFile(unreadable), "private");
}

} // namespace
