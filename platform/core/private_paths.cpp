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
#include <pwd.h>
#include <set>
#include <unistd.h>
#include <vector>

namespace {

std::string ModeText(mode_t mode) {
  char text[16];
  snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

bool OwnedByUserOrRoot(uid_t owner) { return owner == geteuid() || owner == 0; }

// Whether `folder` is a real folder (not a symbolic link) of the user's,
// private (0700); with `create`, it is made so first when missing. False
// with the reason, naming the folder, in *why.
bool PrivateFolder(const std::string &folder, bool create, std::string *why) {
  if (create && mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    *why = "cannot create " + folder + ": " + strerror(errno);
    return false;
  }
  struct stat st;
  if (lstat(folder.c_str(), &st) != 0) {
    *why = folder + ": " + strerror(errno);
    return false;
  }
  if (S_ISLNK(st.st_mode)) {
    *why = folder + " is a symbolic link, not a folder of this user";
    return false;
  }
  std::string reason;
  if (!FolderIsSafe(st, FolderNeed::Private, &reason)) {
    *why = folder + " " + reason;
    return false;
  }
  return true;
}

// The user's own home folder: $HOME when it is an absolute path, else the
// one the user database names; "" when neither is known.
std::string HomeFolder() {
  if (const char *home = getenv("HOME"); home && home[0] == '/')
    return home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry{}, *found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir && found->pw_dir[0] == '/')
    return found->pw_dir;
  return "";
}

// The runtime folder below the user's cache folder ($XDG_CACHE_HOME, else
// ~/.cache): <cache>/vantrel/run, created private where missing. Only the
// user can make entries there. "" with the reason in *why when it cannot be
// had.
std::string HomeRuntimeFolder(std::string *why) {
  std::string cache;
  if (const char *xdg = getenv("XDG_CACHE_HOME"); xdg && xdg[0] == '/') {
    cache = xdg;
  } else {
    const std::string home = HomeFolder();
    if (home.empty()) {
      *why = "there is no home folder to hold a runtime folder";
      return "";
    }
    cache = home + "/.cache";
  }
  const std::string folder = cache + "/vantrel/run";
  for (const std::string &step : {cache, cache + "/vantrel"})
    if (mkdir(step.c_str(), 0700) != 0 && errno != EEXIST) {
      *why = "cannot create " + step + ": " + strerror(errno);
      return "";
    }
  return PrivateFolder(folder, true, why) ? folder : "";
}

// ReportRefusal, once per process for each text: the runtime folder is
// asked for at every look at a port.
void NoteOnce(const std::string &message) {
  static auto *mutex = new std::mutex; // never destroyed, as in ReportRefusal
  static auto *said = new std::set<std::string>;
  {
    std::lock_guard<std::mutex> lock(*mutex);
    if (!said->insert(message).second)
      return;
  }
  ReportRefusal(message);
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
  if (const char *run = getenv("XDG_RUNTIME_DIR"); run && *run) {
    std::string reason;
    if (PrivateFolder(run, false, &reason))
      return run;
    *why = reason;
    return "";
  }
  // A shared place: the folder is made private by its creator. One that
  // someone else made first (or left open, or put a link at) is never used:
  // the user's own folder below the home folder serves instead, so that
  // another user cannot turn off the single-instance check or hide the
  // ports by planting it.
  const std::string shared = "/tmp/vantrel-" + std::to_string(geteuid());
  std::string refused;
  if (PrivateFolder(shared, true, &refused))
    return shared;
  std::string reason;
  const std::string own = HomeRuntimeFolder(&reason);
  if (own.empty()) {
    *why = refused + ", and " + reason;
    return "";
  }
  NoteOnce(refused + "; " + own + " is used instead");
  return own;
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
