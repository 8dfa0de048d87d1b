#include "tests/registry/registry_test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {
// Whatever a test forgets, nothing reaches the user's own settings.
[[maybe_unused]] const int kSafeDefault = [] {
  std::string path = std::filesystem::temp_directory_path() / "vantrel-registry-test-unused.db";
  setenv("VANTREL_REGISTRY", path.c_str(), 1);
  return 0;
}();
} // namespace

TempDir::TempDir() {
  std::string pattern = std::filesystem::temp_directory_path() / "vantrel-reg-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back(0);
  char *made = mkdtemp(buf.data());
  path_ = made ? made : "";
}

TempDir::~TempDir() {
  if (path_.empty())
    return;
  std::error_code ec;
  // Folders made read-only by a test are opened up again so they can go.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

void RegistryTest::SetUp() {
  ASSERT_FALSE(dir_.path().empty());
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

std::string ReadWholeFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteWholeFile(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

ToolResult RunTool(const std::vector<std::string> &args, const std::string &db) {
  ToolResult result;
  TempDir scratch;
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
  result.out = ReadWholeFile(outPath);
  result.err = ReadWholeFile(errPath);
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
