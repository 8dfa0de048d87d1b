// KernelIoControl(IOCTL_HAL_REBOOT): the program restarts itself in place.
// The new image gets the same arguments (read back from /proc/self/cmdline)
// and environment. Every file descriptor above stderr is marked
// close-on-exec first, so the settings database, the serial port and the
// single-instance socket are released for the new start, yet stay usable
// here if the exec fails.
#include "platform/system.h"
#include "platform/registry.h"

#include "platform/threads.h"
#include "platform/trace.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <linux/close_range.h>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#ifndef ERROR_NOT_SUPPORTED
#define ERROR_NOT_SUPPORTED 50L
#endif

namespace {

void MarkDescriptorsCloseOnExec() {
#ifdef SYS_close_range
  if (syscall(SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC) == 0)
    return;
#endif
  // Older kernels: one descriptor at a time.
  DIR *dir = opendir("/proc/self/fd");
  if (!dir)
    return;
  int own = dirfd(dir);
  while (dirent *entry = readdir(dir)) {
    int fd = atoi(entry->d_name);
    if (fd > 2 && fd != own)
      fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
  }
  closedir(dir);
}

} // namespace

BOOL KernelIoControl(DWORD ioControlCode, LPVOID, DWORD, LPVOID, DWORD, LPDWORD bytesReturned) {
  if (bytesReturned)
    *bytesReturned = 0;
  if (ioControlCode != IOCTL_HAL_REBOOT) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<char *> argv;
  for (size_t at = 0; at < cmdline.size(); at = cmdline.find('\0', at) + 1) {
    argv.push_back(&cmdline[at]);
    if (cmdline.find('\0', at) == std::string::npos)
      break;
  }
  if (argv.empty()) {
    PlatformTrace("restart: the program's arguments cannot be read; not restarting");
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  argv.push_back(nullptr);
  // Settings changes still kept in memory are written before this process
  // image is replaced; nothing runs at exit on the way.
  RegistryFlush(2000);
  PlatformTrace("restart: restarting Vantrel (%s)", argv[0]);
  MarkDescriptorsCloseOnExec();
  UnblockQuitSignals(); // a fresh start begins with the mask it would have
  execv("/proc/self/exe", argv.data());
  const int error = errno;
  BlockQuitSignals();
  PlatformTrace("restart: could not restart (%s)", strerror(error));
  SetLastError(ERROR_GEN_FAILURE);
  return FALSE;
}
