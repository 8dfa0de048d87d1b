// A temporary folder per test, and pointing the program's places into it.
//
// TempRoot makes a fresh folder when constructed and removes it with
// everything in it when destroyed (folders a test made read-only are opened
// up first). The object owns the folder; paths it returns are plain strings
// the caller keeps. Nothing here needs the desktop toolkit.
#pragma once

#include <string>

namespace testsupport {

// The program's places that TempRoot::Use points into the root (combine
// with |). The variables stay set after the root is gone: the next test
// points them somewhere else, and nothing ever falls back to the user's own
// settings or devices.
enum RootUse : unsigned {
  kDeviceRoot = 1u << 0, // VANTREL_ROOT = root (where device paths map to)
  kSettings = 1u << 1,   // VANTREL_REGISTRY = root/registry.db, opened by the registry now
  kDevices = 1u << 2,    // VANTREL_DEVICES = root/devices (made)
  kRuntime = 1u << 3,    // XDG_RUNTIME_DIR = root
};

class TempRoot {
public:
  // Where the folder is made: $TMPDIR (or /tmp), or a memory file system
  // (/dev/shm when writable, else as Disk) for code that syncs every write.
  enum class Medium { Disk, Memory };

  // Makes "<place>/vantrel-<name>-XXXXXX". Aborts the process with a message
  // when no folder can be made: no test can run without one.
  explicit TempRoot(const std::string &name = "test", Medium medium = Medium::Disk);
  ~TempRoot();
  TempRoot(const TempRoot &) = delete;
  TempRoot &operator=(const TempRoot &) = delete;

  const std::string &path() const { return path_; }
  // root + "/" + relative (nothing is made).
  std::string File(const std::string &relative) const;
  // Makes the folder `relative` and its parents; returns its full path.
  std::string MakeFolder(const std::string &relative) const;
  // Writes `bytes` to the file `relative` (parents made), replacing it;
  // returns its full path.
  std::string Put(const std::string &relative, const std::string &bytes) const;
  // Copies the source tree's data/<name> to `relative` (parents made);
  // false when the data file is missing.
  bool CopyData(const std::string &name, const std::string &relative) const;
  // Points the places named in `what` (RootUse bits) at this root.
  void Use(unsigned what) const;

private:
  std::string path_;
};

// The whole content of a file ("" when it cannot be read).
std::string ReadFile(const std::string &path);
// Writes bytes to path, replacing the file; false when it cannot.
bool WriteFile(const std::string &path, const std::string &bytes);
// The source tree's data/<name>.
std::string DataFile(const std::string &name);

} // namespace testsupport
