// Device paths: Windows-style, relative to the device root VANTREL_ROOT.
#include "platform/core/host_path.h"
#include "platform/files.h"
#include "platform/text.h"

#include <cerrno>
#include <cstdlib>

std::string HostPathFor(LPCWSTR path) {
  if (!path)
    return std::string();
  // The root is read on every call: tests and tools may point it elsewhere.
  const char *rootEnv = getenv("VANTREL_ROOT");
  std::string root = rootEnv && *rootEnv ? rootEnv : "/";
  while (root.size() > 1 && root.back() == '/')
    root.pop_back();

  std::string relative;
  std::string device = Utf16ToUtf8(path);
  size_t i = 0;
  while (i <= device.size()) {
    size_t end = device.find_first_of("\\/", i);
    if (end == std::string::npos)
      end = device.size();
    std::string part = device.substr(i, end - i);
    i = end + 1;
    // Empty parts (leading, doubled or trailing separators) and "." add
    // nothing; ".." could climb out of the device root and is refused.
    if (part.empty() || part == ".")
      continue;
    if (part == "..")
      return std::string();
    relative += '/';
    relative += part;
  }
  if (root == "/")
    return relative.empty() ? "/" : relative;
  return root + relative;
}

DWORD ErrorFromErrno(int err) {
  switch (err) {
  case ENOENT:
    return ERROR_FILE_NOT_FOUND;
  case ENOTDIR:
  case ENAMETOOLONG:
  case ELOOP:
    return ERROR_PATH_NOT_FOUND;
  case EACCES:
  case EPERM:
  case EROFS:
  case EISDIR:
    return ERROR_ACCESS_DENIED;
  case EEXIST:
    return ERROR_FILE_EXISTS;
  case ENOMEM:
    return ERROR_NOT_ENOUGH_MEMORY;
  case EBUSY:
  case ETXTBSY:
    return ERROR_SHARING_VIOLATION;
  case EINVAL:
    return ERROR_INVALID_PARAMETER;
  default:
    return ERROR_GEN_FAILURE;
  }
}

FILETIME FileTimeFromUnix(int64_t seconds, int64_t nanoseconds) {
  uint64_t ticks = static_cast<uint64_t>(seconds + 11644473600LL) * 10000000ull +
                   static_cast<uint64_t>(nanoseconds / 100);
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}
