#include "tests/registry/registry_test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace {
// Holder role (HeldDatabase): take the write lock of the database named by
// VANTREL_TEST_HOLD_DB, say so with one byte on stdout, keep it until stdin
// ends. Runs before the test framework starts.
[[maybe_unused]] const int kHolderRole = [] {
  const char *db = getenv("VANTREL_TEST_HOLD_DB");
  if (!db)
    return 0;
  sqlite3 *conn = nullptr;
  if (sqlite3_open_v2(db, &conn, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
      sqlite3_exec(conn, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK)
    _exit(2);
  if (write(1, "h", 1) != 1)
    _exit(3);
  char c;
  while (read(0, &c, 1) > 0) {
  }
  sqlite3_exec(conn, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(conn);
  _exit(0);
}();

// Whatever a test forgets, nothing reaches the user's own settings.
[[maybe_unused]] const int kSafeDefault = [] {
  std::string path = std::filesystem::temp_directory_path() / "vantrel-registry-test-unused.db";
  setenv("VANTREL_REGISTRY", path.c_str(), 1);
  return 0;
}();
} // namespace

void RegistryTest::SetUp() {
  RegistryUseDatabase(DbPath());
}

void RegistryTest::TearDown() {
  // Closes the test's database; nothing is opened until the next use.
  RegistryUseDatabase(dir_.File("closed.db"));
}

StoredValue ReadStored(const char16_t *keyPath, const char16_t *name) {
  StoredValue v;
  HKEY key = nullptr;
  v.rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key);
  if (v.rc != ERROR_SUCCESS)
    return v;
  DWORD size = 0;
  v.rc = RegQueryValueExW(key, name, nullptr, &v.type, nullptr, &size);
  if (v.rc == ERROR_SUCCESS) {
    v.bytes.resize(size);
    v.rc = RegQueryValueExW(key, name, nullptr, &v.type, v.bytes.data(), &size);
  }
  RegCloseKey(key);
  return v;
}

std::vector<BYTE> TextBytes(const std::u16string &text) {
  const BYTE *p = reinterpret_cast<const BYTE *>(text.c_str());
  return std::vector<BYTE>(p, p + (text.size() + 1) * 2);
}

ToolResult RunTool(const std::vector<std::string> &args, const std::string &db) {
  ToolResult result;
  TempRoot scratch("reg-scratch");
  std::string outPath = scratch.File("out"), errPath = scratch.File("err");
  std::string tool = std::string(VANTREL_BINARY_DIR) + "/tools/vantrel-reg/vantrel-reg";
  std::vector<std::string> all = {tool};
  if (!db.empty()) {
    all.push_back("--db");
    all.push_back(db);
  }
  all.insert(all.end(), args.begin(), args.end());
  // Everything the child needs is made before fork: other test threads may
  // hold the allocator's lock at that moment.
  std::vector<char *> argv;
  for (auto &a : all)
    argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    dup2(err, 2);
    execv(tool.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
    result.status = WEXITSTATUS(status);
  result.out = ReadFile(outPath);
  result.err = ReadFile(errPath);
  return result;
}

std::vector<std::string> FilesStartingWith(const std::string &dir, const std::string &prefix) {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto &entry : std::filesystem::directory_iterator(dir, ec)) {
    std::string name = entry.path().filename();
    if (name.rfind(prefix, 0) == 0)
      names.push_back(name);
  }
  return names;
}

std::string CaptureStderr(const std::function<void()> &fn) {
  TempRoot scratch("reg-scratch");
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
  return ReadFile(path);
}

HeldDatabase::HeldDatabase(const std::string &db) {
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0)
    return;
  exe[n] = 0;
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
    return;
  std::string env = "VANTREL_TEST_HOLD_DB=" + db;
  char *argv[] = {exe, const_cast<char *>("--gtest_list_tests"), nullptr};
  std::vector<char *> envp;
  for (char **e = environ; *e; ++e)
    envp.push_back(*e);
  envp.push_back(env.data());
  envp.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    execve(exe, argv, envp.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  pid_ = pid;
  toChild_ = in[1];
  char c;
  holding_ = pid > 0 && read(out[0], &c, 1) == 1;
  close(out[0]);
}

void HeldDatabase::Release() {
  if (toChild_ >= 0)
    close(toChild_);
  toChild_ = -1;
  if (pid_ > 0)
    waitpid(pid_, nullptr, 0);
  pid_ = -1;
  holding_ = false;
}
