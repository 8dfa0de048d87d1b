// Checks on folders and files that another local user must not control (see
// private_paths.h).
#include "platform/core/private_paths.h"

#include "platform/trace.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <unistd.h>

namespace {

std::string ModeText(mode_t mode) {
  char text[16];
  snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

} // namespace

bool FolderIsSafe(const struct stat &st, FolderNeed need, std::string *why) {
  if (!S_ISDIR(st.st_mode)) {
    *why = "is not a folder";
    return false;
  }
  if (st.st_uid != geteuid()) {
    *why = "belongs to another user (uid " + std::to_string(st.st_uid) + ")";
    return false;
  }
  if (need == FolderNeed::Private && (st.st_mode & 077) != 0) {
    *why = "is open to other users (mode " + ModeText(st.st_mode) + "); it must be private (0700)";
    return false;
  }
  if ((st.st_mode & 022) != 0) {
    *why = "can be written by other users (mode " + ModeText(st.st_mode) + ")";
    return false;
  }
  return true;
}

std::string UserRuntimeFolder(std::string *why) {
  std::string folder;
  if (const char *run = getenv("XDG_RUNTIME_DIR"); run && *run) {
    folder = run;
  } else {
    // A shared place: the folder is made private by its creator, and one
    // that someone else made first is refused below, never used.
    folder = "/tmp/vantrel-" + std::to_string(geteuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
      *why = "cannot create " + folder + ": " + strerror(errno);
      return "";
    }
  }
  struct stat st;
  if (lstat(folder.c_str(), &st) != 0) {
    *why = folder + ": " + strerror(errno);
    return "";
  }
  if (S_ISLNK(st.st_mode)) {
    *why = folder + " is a symbolic link, not a folder of this user";
    return "";
  }
  std::string reason;
  if (!FolderIsSafe(st, FolderNeed::Private, &reason)) {
    *why = folder + " " + reason;
    return "";
  }
  return folder;
}

int OpenPrivateAppend(const char *path, std::string *why) {
  // O_NONBLOCK: a FIFO named here would otherwise hold the open until some
  // reader came; it is refused below like any file that is not a plain one.
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK,
                0600);
  if (fd < 0) {
    *why = errno == ELOOP ? "it is a symbolic link (name the file itself)"
           : errno == ENXIO || errno == EISDIR ? "it is not a regular file"
                            : strerror(errno);
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    *why = strerror(errno);
    close(fd);
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    *why = "it is not a regular file";
    close(fd);
    return -1;
  }
  // Another user's file (made beforehand in a shared folder) would hand
  // them everything written to it, and its mode is not ours to change.
  if (st.st_uid != geteuid()) {
    *why = "it belongs to another user (uid " + std::to_string(st.st_uid) + ")";
    close(fd);
    return -1;
  }
  // A file made earlier, or by hand, may be readable by others: it is
  // closed to them before anything is written to it.
  if ((st.st_mode & 077) != 0 && fchmod(fd, st.st_mode & 0700) != 0) {
    *why = "it is open to other users (mode " + ModeText(st.st_mode) +
           ") and cannot be made private: " + strerror(errno);
    close(fd);
    return -1;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0)
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

void ReportRefusal(const std::string &message) {
  // Never destroyed: a thread may still report while the process exits.
  static auto *mutex = new std::mutex;
  static auto *said = new std::set<std::string>;
  bool first;
  {
    std::lock_guard<std::mutex> lock(*mutex);
    first = said->insert(message).second;
  }
  if (first)
    fprintf(stderr, "vantrel: %s\n", message.c_str());
  PlatformTrace("%s", message.c_str());
}
