// Files: CreateFileW and the file object behind its handles, DeleteFileW and
// GetFileAttributesW.
#include "platform/core/host_path.h"
#include "platform/core/kernel_object.h"
#include "platform/files.h"
#include "platform/serial.h"
#include "platform/text.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class FileObject : public KernelObject {
public:
  explicit FileObject(int fd) : fd_(fd) {}
  ~FileObject() override { close(fd_); }

  BOOL Read(void *buffer, DWORD n, DWORD *read) override {
    // A regular file gives all it has up to n bytes; a short count means the
    // end of the file was reached.
    DWORD total = 0;
    while (total < n) {
      ssize_t got = ::read(fd_, static_cast<char *>(buffer) + total, n - total);
      if (got < 0 && errno == EINTR)
        continue;
      if (got < 0) {
        *read = total;
        SetLastError(ERROR_READ_FAULT);
        return FALSE;
      }
      if (got == 0)
        break;
      total += static_cast<DWORD>(got);
    }
    *read = total;
    return TRUE;
  }

  BOOL Write(const void *buffer, DWORD n, DWORD *written) override {
    DWORD total = 0;
    while (total < n) {
      ssize_t put = ::write(fd_, static_cast<const char *>(buffer) + total, n - total);
      if (put < 0 && errno == EINTR)
        continue;
      if (put <= 0) {
        *written = total;
        SetLastError(ERROR_WRITE_FAULT);
        return FALSE;
      }
      total += static_cast<DWORD>(put);
    }
    *written = total;
    return TRUE;
  }

private:
  int fd_;
};

// "COM0:" .. "COM9999:" (any case, no leading zero) name a serial port:
// returns its number, else -1.
int ComPortIndex(LPCWSTR path) {
  size_t len = wcslen(path);
  if (len < 5 || len > 8 || path[len - 1] != u':')
    return -1;
  if ((path[0] | 0x20) != u'c' || (path[1] | 0x20) != u'o' || (path[2] | 0x20) != u'm')
    return -1;
  if (path[3] == u'0' && len > 5)
    return -1;
  int n = 0;
  for (size_t i = 3; i + 1 < len; ++i) {
    if (path[i] < u'0' || path[i] > u'9')
      return -1;
    n = n * 10 + (path[i] - u'0');
  }
  return n;
}

} // namespace

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD, void *, DWORD creation, DWORD, HANDLE) {
  if (!path || !*path) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  int port = ComPortIndex(path);
  if (port >= 0)
    return OpenComPort(port, access);

  std::string host = HostPathFor(path);
  if (host.empty()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  bool wantRead = access & GENERIC_READ, wantWrite = access & GENERIC_WRITE;
  int flags = O_CLOEXEC | O_NOCTTY;
  flags |= wantWrite ? (wantRead ? O_RDWR : O_WRONLY) : O_RDONLY;
  switch (creation) {
  case CREATE_NEW:
    flags |= O_CREAT | O_EXCL;
    break;
  case CREATE_ALWAYS:
    flags |= O_CREAT | O_TRUNC;
    break;
  case OPEN_EXISTING:
    break;
  case OPEN_ALWAYS:
    flags |= O_CREAT;
    break;
  case TRUNCATE_EXISTING:
    flags |= O_TRUNC;
    break;
  default:
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  bool existed = (creation == CREATE_ALWAYS || creation == OPEN_ALWAYS) &&
                 ::access(host.c_str(), F_OK) == 0;
  int fd = open(host.c_str(), flags, 0644);
  if (fd < 0) {
    SetLastError(ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    // A folder is not a file: reading it would fail in odd ways later.
    close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = RegisterHandle(std::make_shared<FileObject>(fd));
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

BOOL DeleteFileW(LPCWSTR path) {
  std::string host = HostPathFor(path);
  if (host.empty()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  struct stat st;
  if (stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (unlink(host.c_str()) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR path) {
  std::string host = HostPathFor(path);
  if (host.empty()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_FILE_ATTRIBUTES;
  }
  struct stat st;
  if (stat(host.c_str(), &st) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISDIR(st.st_mode))
    return FILE_ATTRIBUTE_DIRECTORY;
  return (st.st_mode & 0222) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
}
