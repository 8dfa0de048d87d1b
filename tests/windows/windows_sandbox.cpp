// The tests' sandbox on Windows (tests/support/temp_root.h, sandbox.h). The
// program's device paths ("\Vantrel\...") start at the root of the current
// drive, so the sandbox is a whole drive: VANTREL_TEST_DRIVE names it (the
// Wine prefix's drive V:, which scripts/test-windows.sh points at an empty
// folder of its own), emptied when a sandbox starts and ends; the device
// root makes it the current drive. Fresh settings empty the program's
// registry key. Run only in a Wine prefix of the test's own.
#include "common/globals.h"
#include "common/ui_strings.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tests/support/sandbox.h"
#include "tests/support/temp_root.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace testsupport {

namespace {

// Paths are UTF-8 ("Français.kcod"): the file calls take them as such.
fs::path U8(const std::string &path) { return fs::u8path(path); }

void Empty(const std::string &folder) {
  std::error_code ec;
  for (const auto &entry : fs::directory_iterator(folder, ec))
    fs::remove_all(entry.path(), ec);
}

} // namespace

TempRoot::TempRoot(const std::string &, Medium) {
  const char *drive = getenv("VANTREL_TEST_DRIVE");
  if (!drive || !*drive || GetFileAttributesA((std::string(drive) + "\\").c_str()) ==
                               INVALID_FILE_ATTRIBUTES) {
    fprintf(stderr, "vantrel test: VANTREL_TEST_DRIVE names no drive to use\n");
    abort();
  }
  path_ = std::string(drive) + "/";
  path_.pop_back();
  Empty(path_ + "/");
}

TempRoot::~TempRoot() {
  SetCurrentDirectoryW(u"C:\\");
  Empty(path_ + "/");
}

std::string TempRoot::File(const std::string &relative) const { return path_ + "/" + relative; }

std::string TempRoot::MakeFolder(const std::string &relative) const {
  std::error_code ignored;
  fs::create_directories(U8(File(relative)), ignored);
  return File(relative);
}

std::string TempRoot::Put(const std::string &relative, const std::string &bytes) const {
  std::error_code ignored;
  fs::create_directories(U8(File(relative)).parent_path(), ignored);
  testsupport::WriteFile(File(relative), bytes);
  return File(relative);
}

bool TempRoot::CopyData(const std::string &name, const std::string &relative) const {
  std::error_code ec;
  fs::create_directories(U8(File(relative)).parent_path(), ec);
  return fs::copy_file(U8(DataFile(name)), U8(File(relative)), fs::copy_options::overwrite_existing,
                       ec);
}

void TempRoot::Use(unsigned what) const {
  if (what & kDeviceRoot) {
    const std::u16string root = Utf8ToUtf16(path_ + "\\");
    if (!SetCurrentDirectoryW(root.c_str())) {
      fprintf(stderr, "vantrel test: %s cannot be the device root (%lu)\n", path_.c_str(),
              GetLastError());
      abort();
    }
  }
  if (what & kSettings)
    RegDeleteTreeW(HKEY_CURRENT_USER, u"Software\\Vantrel");
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(U8(path), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool WriteFile(const std::string &path, const std::string &bytes) {
  std::ofstream out(U8(path), std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out.flush());
}

std::string DataFile(const std::string &name) {
  return std::string(VANTREL_SOURCE_DIR) + "/data/" + name;
}

ProgramSandbox::ProgramSandbox(const std::string &name, unsigned use) : TempRoot(name) {
  Use(use);
  ResetAppGlobals();
  ResetUiStrings();
}

ProgramSandbox::~ProgramSandbox() { ResetUiStrings(); }

} // namespace testsupport
