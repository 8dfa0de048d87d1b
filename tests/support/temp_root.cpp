#include "tests/support/temp_root.h"

#include "platform/registry.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace testsupport {

namespace {

std::string Place(TempRoot::Medium medium) {
  if (medium == TempRoot::Medium::Memory && access("/dev/shm", W_OK) == 0)
    return "/dev/shm";
  std::error_code ec;
  fs::path tmp = fs::temp_directory_path(ec);
  return ec ? "/tmp" : tmp.string();
}

} // namespace

TempRoot::TempRoot(const std::string &name, Medium medium) {
  std::string pattern = Place(medium) + "/vantrel-" + name + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) {
    perror(("vantrel test: cannot make " + pattern).c_str());
    abort();
  }
  path_ = buffer.data();
}

TempRoot::~TempRoot() {
  std::error_code ec;
  // Folders made read-only by a test are opened up again so they can go.
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
    if (!it->is_symlink(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string TempRoot::File(const std::string &relative) const { return path_ + "/" + relative; }

std::string TempRoot::MakeFolder(const std::string &relative) const {
  std::error_code ignored;
  fs::create_directories(File(relative), ignored);
  return File(relative);
}

std::string TempRoot::Put(const std::string &relative, const std::string &bytes) const {
  std::error_code ignored;
  fs::create_directories(fs::path(File(relative)).parent_path(), ignored);
  WriteFile(File(relative), bytes);
  return File(relative);
}

bool TempRoot::CopyData(const std::string &name, const std::string &relative) const {
  std::error_code ec;
  fs::create_directories(fs::path(File(relative)).parent_path(), ec);
  return fs::copy_file(DataFile(name), File(relative), fs::copy_options::overwrite_existing, ec);
}

void TempRoot::Use(unsigned what) const {
  if (what & kDeviceRoot)
    setenv("VANTREL_ROOT", path_.c_str(), 1);
  if (what & kSettings) {
    // The Bluetooth keys are the stored ones, whatever this machine pairs;
    // the tests of BlueZ's keys ask for BlueZ themselves.
    setenv("VANTREL_BLUETOOTH", "stored", 1);
    setenv("VANTREL_REGISTRY", File("registry.db").c_str(), 1);
    RegistryUseDatabase(File("registry.db"));
  }
  if (what & kDevices)
    setenv("VANTREL_DEVICES", MakeFolder("devices").c_str(), 1);
  if (what & kRuntime)
    setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool WriteFile(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out.flush());
}

std::string DataFile(const std::string &name) {
  return std::string(VANTREL_SOURCE_DIR) + "/data/" + name;
}

} // namespace testsupport
