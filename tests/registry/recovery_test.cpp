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
#include <map>
#include <set>

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

uint32_t BigEndian(const std::string &b, size_t at, size_t n) {
  uint32_t v = 0;
  for (size_t i = 0; i < n; ++i)
    v = (v << 8) | static_cast<uint8_t>(b[at + i]);
  return v;
}

// An SQLite varint at `at` of `b`; *at moves past it.
uint64_t Varint(const std::string &b, size_t *at) {
  uint64_t v = 0;
  for (int i = 0; i < 9; ++i) {
    uint8_t c = static_cast<uint8_t>(b[(*at)++]);
    if (i == 8)
      return (v << 8) | c;
    v = (v << 7) | (c & 0x7f);
    if (!(c & 0x80))
      break;
  }
  return v;
}

// From the file's bytes: the page of a table's rows that stands in the
// middle of its tree (the root an interior page over leaves), and the rowids
// that leaf holds. 0 when the table is not laid out so.
int MiddleLeaf(const std::string &file, int pageSize, int root, std::vector<int64_t> *rowids) {
  size_t page = static_cast<size_t>(root - 1) * pageSize;
  if (static_cast<uint8_t>(file[page]) != 0x05)
    return 0;
  uint32_t cells = BigEndian(file, page + 3, 2);
  size_t cell = page + BigEndian(file, page + 12 + 2 * (cells / 2), 2);
  int leaf = static_cast<int>(BigEndian(file, cell, 4));
  size_t at = static_cast<size_t>(leaf - 1) * pageSize;
  if (static_cast<uint8_t>(file[at]) != 0x0d)
    return 0;
  for (uint32_t i = 0, n = BigEndian(file, at + 3, 2); i < n; ++i) {
    size_t c = at + BigEndian(file, at + 8 + 2 * i, 2);
    Varint(file, &c); // the row's size
    rowids->push_back(static_cast<int64_t>(Varint(file, &c)));
  }
  return leaf;
}

TEST_F(RecoveryTest, ADamagedDatabaseIsOnlyReadByListAndEveryReadableRowIsKept) {
  // 60 values large enough to fill a few pages, and a value in a subkey;
  // closed, so all is in the main file.
  auto text = [](int i) { return "value " + std::to_string(i) + " " + std::string(120, 'x'); };
  RegistryUseDatabase(DbPath());
  for (int i = 0; i < 60; ++i)
    SettingsStore::WriteString(Utf8ToUtf16("v" + std::to_string(i)).c_str(),
                               Utf8ToUtf16(text(i)).c_str());
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Vantrel\\Sub", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const BYTE raw[] = {1, 2, 3};
  ASSERT_EQ(RegSetValueExW(key, u"Raw", 0, REG_BINARY, raw, 3), ERROR_SUCCESS);
  RegCloseKey(key);
  RegistryUseDatabase(dir_.File("closed.db"));

  int pageSize = 0, indexPage = 0, valsRoot = 0;
  std::map<int64_t, std::string> nameOfRow;
  {
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(DbPath().c_str(), &db), SQLITE_OK);
    auto number = [&](const char *sql) {
      sqlite3_stmt *st = nullptr;
      int v = 0;
      if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
        v = sqlite3_column_int(st, 0);
      sqlite3_finalize(st);
      return v;
    };
    pageSize = number("PRAGMA page_size");
    indexPage = number("SELECT rootpage FROM sqlite_master WHERE name = 'vals_key'");
    valsRoot = number("SELECT rootpage FROM sqlite_master WHERE name = 'vals'");
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(db, "SELECT rowid, name FROM vals", -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW)
      nameOfRow[sqlite3_column_int64(st, 0)] =
          reinterpret_cast<const char *>(sqlite3_column_text(st, 1));
    sqlite3_finalize(st);
    sqlite3_close(db);
  }
  const std::string healthy = ReadFile(DbPath());
  std::vector<int64_t> onLeaf;
  int leaf = MiddleLeaf(healthy, pageSize, valsRoot, &onLeaf);
  ASSERT_GT(leaf, 0) << "the values do not fill several pages";
  ASSERT_GT(indexPage, 1);

  struct Damage {
    const char *what;
    int page;
    std::set<std::string> lost; // values whose row is on the page
  };
  std::set<std::string> onLeafNames;
  for (int64_t rowid : onLeaf)
    onLeafNames.insert(nameOfRow[rowid]);
  ASSERT_FALSE(onLeafNames.empty());
  ASSERT_LT(onLeafNames.size(), 30u);
  for (const Damage &d : {Damage{"the index over the values", indexPage, {}},
                          Damage{"a page of values", leaf, onLeafNames}}) {
    SCOPED_TRACE(d.what);
    RegistryUseDatabase(dir_.File("closed.db"));
    for (const std::string &name : FilesStartingWith(dir_.path(), "registry.db"))
      unlink(dir_.File(name).c_str());
    std::string bytes = healthy;
    std::fill_n(bytes.begin() + static_cast<long>(d.page - 1) * pageSize, pageSize, '\xa5');
    WriteFile(DbPath(), bytes);
    const std::vector<std::string> names = FilesStartingWith(dir_.path(), "");

    // A command that only reads leaves the file as it is, where it is,
    // says it is damaged and shows every value outside the damaged page.
    ToolResult list = RunTool({"list", "HKLM\\Software\\Vantrel"}, DbPath());
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.err.find("damaged"), std::string::npos) << list.err;
    EXPECT_EQ(ReadFile(DbPath()), bytes) << "the damaged file was changed";
    EXPECT_EQ(FilesStartingWith(dir_.path(), ""), names) << "files were moved or made";
    EXPECT_NE(list.out.find("KEY\tSub\n"), std::string::npos);

    // The program keeps it aside and starts afresh with the same rows.
    RegistryUseDatabase(DbPath());
    std::string err = CaptureStderr([] { EXPECT_FALSE(RegistryGetStatus().inMemory); });
    EXPECT_NE(err.find("kept it aside"), std::string::npos) << err;
    EXPECT_EQ(ReadStored(u"Software\\Vantrel\\Sub", u"Raw").bytes, (std::vector<BYTE>{1, 2, 3}));
    for (int i = 0; i < 60; ++i) {
      std::string name = "v" + std::to_string(i);
      bool lost = d.lost.count(name) > 0;
      bool listed = list.out.find(name + "\tREG_SZ\t" + text(i) + "\n") != std::string::npos;
      StoredValue v = ReadStored(u"Software\\Vantrel", Utf8ToUtf16(name).c_str());
      EXPECT_EQ(listed, !lost) << name;
      EXPECT_EQ(v.rc == ERROR_SUCCESS, !lost) << name;
      if (!lost) {
        EXPECT_EQ(v.bytes, TextBytes(Utf8ToUtf16(text(i)))) << name;
      }
    }
    std::string kept;
    for (const std::string &name : FilesStartingWith(dir_.path(), "registry.db.damaged-"))
      if (name.find("-wal") == std::string::npos && name.find("-shm") == std::string::npos)
        kept = name;
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(ReadFile(dir_.File(kept)), bytes) << "the damaged file was changed";
    RegistryUseDatabase(dir_.File("closed.db"));
    unlink(dir_.File(kept).c_str());
  }
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
