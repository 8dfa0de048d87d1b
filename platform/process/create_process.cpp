// The help viewer: "peghelp file:NAME" becomes a detached xdg-open of NAME
// in the help folder. Detached by a double fork, so the handler is never a
// zombie of ours and keeps running after we end; a close-on-exec pipe tells
// the caller whether the handler's program could be started at all.
#include "platform/process.h"
#include "platform/system.h"

#include "platform/files.h"
#include "platform/text.h"
#include "platform/threads.h"
#include "platform/trace.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::mutex gHelpFolderMutex;
std::u16string gHelpFolder;

const char kHandler[] = "xdg-open";

// The full path of program on PATH, or "" when it is not there. Looked up
// before forking, since only async-signal-safe calls may follow a fork.
std::string FindOnPath(const char *program) {
  const char *path = getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos)
      end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    if (dir.empty())
      dir = ".";
    std::string candidate = dir + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0)
      return candidate;
    start = end + 1;
  }
  return "";
}

// Starts argv[0] with its arguments, detached. Returns 0 when it runs, else
// the errno of the failure.
int StartDetached(const std::string &program, const std::string &argument) {
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0)
    return errno;
  char *const argv[] = {const_cast<char *>(program.c_str()), const_cast<char *>(argument.c_str()),
                        nullptr};
  pid_t child = fork();
  if (child < 0) {
    int error = errno;
    close(report[0]);
    close(report[1]);
    return error;
  }
  if (child == 0) {
    close(report[0]);
    setsid();
    pid_t grandchild = fork();
    if (grandchild != 0) {
      if (grandchild < 0) {
        int error = errno;
        (void)!write(report[1], &error, sizeof error);
      }
      _exit(0);
    }
    UnblockQuitSignals(); // the program's own mask is not the helper's
    int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      dup2(devnull, 0);
      dup2(devnull, 1);
      close(devnull);
    }
    execv(argv[0], argv);
    int error = errno;
    (void)!write(report[1], &error, sizeof error);
    _exit(127);
  }
  close(report[1]);
  int error = 0;
  ssize_t got;
  do {
    got = read(report[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return got == static_cast<ssize_t>(sizeof error) ? error : 0;
}

} // namespace

void SetHelpFolder(LPCWSTR deviceFolder) {
  std::lock_guard<std::mutex> lock(gHelpFolderMutex);
  gHelpFolder = deviceFolder ? deviceFolder : u"";
}

BOOL CreateProcessW(LPCWSTR imageName, LPCWSTR commandLine, void *, void *, BOOL, DWORD, void *,
                    LPCWSTR, void *, PROCESS_INFORMATION *info) {
  if (info)
    *info = PROCESS_INFORMATION{nullptr, nullptr, 0, 0};
  if (!imageName || _wcsicmp(imageName, u"peghelp") != 0) {
    PlatformTrace("CreateProcessW: only the help viewer peghelp can be started, not %s",
                  imageName ? Utf16ToUtf8(imageName).c_str() : "(null)");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::u16string document = commandLine ? commandLine : u"";
  if (document.compare(0, 5, u"file:") == 0)
    document.erase(0, 5);
  if (document.empty()) {
    PlatformTrace("Help viewer: no document named");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::u16string devicePath;
  {
    std::lock_guard<std::mutex> lock(gHelpFolderMutex);
    devicePath = gHelpFolder + document;
  }
  std::string hostPath = HostPathFor(devicePath.c_str());
  struct stat st;
  if (hostPath.empty() || stat(hostPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    PlatformTrace("Help viewer: the help document %s is missing",
                  hostPath.empty() ? Utf16ToUtf8(devicePath).c_str() : hostPath.c_str());
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  std::string handler = FindOnPath(kHandler);
  if (handler.empty()) {
    PlatformTrace("Help viewer: %s is not installed, cannot open %s", kHandler, hostPath.c_str());
    SetLastError(ERROR_NO_ASSOCIATION);
    return FALSE;
  }
  int error = StartDetached(handler, hostPath);
  if (error != 0) {
    PlatformTrace("Help viewer: cannot start %s: %s", handler.c_str(), strerror(error));
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  return TRUE;
}
