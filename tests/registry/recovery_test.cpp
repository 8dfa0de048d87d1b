// Databases that cannot be used: a file that is not recognisably this
// program's database is never moved or written; a damaged one of ours is kept
// aside and a fresh one started with what could be read; a file or folder
// that cannot be written or read leaves the run in memory, says so once, and
// is never touched.
#include "common/settings_store.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "tests/registry/registry_test_support.h"
#include "tests/support/trace_lines.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

namespace {

class RecoveryTest : public RegistryTest {
protected:
  int TracesMentioning(const std::string &text) const { return traces_.CountContaining(text); }
  testtrace::TraceLines traces_;
};

// Settings still work, but only for this run.
void ExpectWorkingInMemory() {
  RegistryStatus status = RegistryGetStatus();
  EXPECT_TRUE(status.inMemory);
  EXPECT_FALSE(status.problem.empty());
  EXPECT_EQ(SettingsStore::ReadDword(u"Keyclicks", 1), 1);
  SettingsStore::WriteDword(u"Keyclicks", 0);
  EXPECT_EQ(SettingsStore::ReadDword(u"Keyclicks", 1), 0);
}

// Makes an SQLite database of another program at `path`.
void MakeOtherDatabase(const std::string &path, const char *sql) {
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

TEST_F(RecoveryTest, FilesNotRecognisablyOursAreNeverMovedOrWritten) {
  std::vector<std::string> contents = {
      std::string(8192, 'x'),
      std::string("SQLite format 3\0", 16) + std::string(4080, '\x7f'),
  };
  for (const char *sql : {"CREATE TABLE notes(t TEXT); INSERT INTO notes VALUES('mine');",
                          "CREATE TABLE keys(a); CREATE TABLE vals(b);"}) {
    TempRoot dir("reg");
    MakeOtherDatabase(dir.File("other.db"), sql);
    contents.push_back(ReadFile(dir.File("other.db")));
  }
  for (const std::string &bytes : contents) {
    TempRoot dir("reg");
    std::string db = dir.File("registry.db");
    WriteFile(db, bytes);
    std::vector<std::string> names = FilesStartingWith(dir.path(), "");

    // The program runs on from memory and says why.
    RegistryUseDatabase(db);
    std::string err = CaptureStderr(ExpectWorkingInMemory);
    EXPECT_TRUE(RegistryGetStatus().refused);
    EXPECT_NE(err.find(db), std::string::npos) << err;
    EXPECT_NE(err.find("left as it is"), std::string::npos) << err;
    RegistryUseDatabase(dir_.File("closed.db"));

    // The tool refuses every command.
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"list", "HKLM"}, {"set", "HKLM\\Software\\Vantrel", "x", "--dword", "1"}}) {
      ToolResult r = RunTool(args, db);
      EXPECT_EQ(r.status, 3) << args[0];
      EXPECT_NE(r.err.find("not a Vantrel settings database"), std::string::npos) << r.err;
    }
    EXPECT_EQ(ReadFile(db), bytes) << "the file was changed";
    EXPECT_EQ(FilesStartingWith(dir.path(), ""), names) << "files were moved or made";
  }
}

TEST_F(RecoveryTest, ADamagedDatabaseIsKeptAsideAndWhatIsReadableCopied) {
  // A database with values in two keys, closed (so all is in the main file).
  RegistryUseDatabase(DbPath());
  for (int i = 0; i < 30; ++i)
    SettingsStore::WriteDword(Utf8ToUtf16("v" + std::to_string(i)).c_str(), i);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Vantrel\\Sub", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const BYTE raw[] = {1, 2, 3};
  ASSERT_EQ(RegSetValueExW(key, u"Raw", 0, REG_BINARY, raw, 3), ERROR_SUCCESS);
  RegCloseKey(key);
  RegistryUseDatabase(dir_.File("closed.db"));

  // Wreck the page of the index over the values: the values themselves
  // can still be read.
  int page = 0, pageSize = 0;
  {
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(DbPath().c_str(), &db), SQLITE_OK);
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(db, "SELECT rootpage FROM sqlite_master WHERE name = 'vals_key'", -1, &st,
                       nullptr);
    if (sqlite3_step(st) == SQLITE_ROW)
      page = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    sqlite3_prepare_v2(db, "PRAGMA page_size", -1, &st, nullptr);
    if (sqlite3_step(st) == SQLITE_ROW)
      pageSize = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    sqlite3_close(db);
  }
  ASSERT_GT(page, 1);
  ASSERT_GT(pageSize, 0);
  std::string bytes = ReadFile(DbPath());
  ASSERT_GE(bytes.size(), static_cast<size_t>(page) * pageSize);
  std::fill_n(bytes.begin() + (page - 1) * pageSize, pageSize, '\xa5');
  WriteFile(DbPath(), bytes);

  // Even a command that only reads keeps it aside, says so, and shows
  // what was copied into the fresh database.
  ToolResult list = RunTool({"list", "HKLM\\Software\\Vantrel"}, DbPath());
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.err.find("damaged"), std::string::npos) << list.err;
  EXPECT_NE(list.err.find("kept it aside"), std::string::npos) << list.err;
  for (int i = 0; i < 30; ++i)
    EXPECT_NE(list.out.find("v" + std::to_string(i) + "\tREG_DWORD\t" + std::to_string(i) + "\n"),
              std::string::npos)
        << i;
  EXPECT_NE(list.out.find("KEY\tSub\n"), std::string::npos);

  std::string kept;
  for (const std::string &name : FilesStartingWith(dir_.path(), "registry.db.damaged-"))
    if (name.find("-wal") == std::string::npos && name.find("-shm") == std::string::npos)
      kept = name;
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(ReadFile(dir_.File(kept)), bytes) << "the damaged file was changed";

  RegistryUseDatabase(DbPath());
  EXPECT_FALSE(RegistryGetStatus().inMemory);
  EXPECT_EQ(ReadStored(u"Software\\Vantrel\\Sub", u"Raw").bytes, (std::vector<BYTE>{1, 2, 3}));
  EXPECT_EQ(SettingsStore::ReadDword(u"v29", -1), 29);
}

TEST_F(RecoveryTest, FolderThatCannotBeMadeMeansMemoryAndOneMessage) {
  WriteFile(dir_.File("plain"), "a file, not a folder");
  std::string db = dir_.File("plain/vantrel/registry.db");
  RegistryUseDatabase(db);
  std::string err = CaptureStderr([] {
    ExpectWorkingInMemory();
    SettingsStore::WriteString(u"language", u"English.lang");
  });
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_NE(err.find(db), std::string::npos) << err;
  EXPECT_EQ(TracesMentioning(db), 1);
  EXPECT_EQ(ReadFile(dir_.File("plain")), "a file, not a folder");
}

TEST_F(RecoveryTest, SomethingElseAtThePathIsLeftAlone) {
  ASSERT_EQ(mkdir(DbPath().c_str(), 0700), 0);
  WriteFile(DbPath() + "/inside", "kept");
  RegistryUseDatabase(DbPath());
  CaptureStderr(ExpectWorkingInMemory);
  EXPECT_EQ(ReadFile(DbPath() + "/inside"), "kept");
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
  WriteFile(unreadable, "private");
  chmod(unreadable.c_str(), 0);
  chmod(DbPath().c_str(), 0444);
  chmod(dir_.path().c_str(), 0555);
  std::string before = ReadFile(DbPath());
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
  EXPECT_EQ(ReadFile(DbPath()), before);
  EXPECT_EQ(FilesStartingWith(dir_.path(), ""), namesBefore);
  chmod(dir_.path().c_str(), 0700);
  chmod(unreadable.c_str(), 0600);
  EXPECT_EQ(ReadFile(unreadable), "private");
}

} // namespace
