// Finding the device behind a port name: a link of that name in the devices
// folder (how the keyboard emulator and tests offer a pseudo-terminal), else
// the kernel's RFCOMM device of the same number.
//
// Whatever a port delivers is typed into the user's session, so a link is
// trusted only when no other local user can have made it: the folder is
// checked through the descriptor the link is then opened from, so it cannot
// be swapped between the check and the open.
#include "platform/serial/com_devices.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Closes a descriptor without disturbing errno.
void CloseQuietly(int fd) {
  int saved = errno;
  close(fd);
  errno = saved;
}

int Refuse(const std::string &message) {
  ReportRefusal("serial: " + message);
  errno = ENOENT;
  return -1;
}

// Opens `name` relative to `dir` (following a link), after checking that
// the device it leads to is the user's or root's: a pseudo-terminal that
// another user opened, reached through a stale link whose number has been
// reused, would otherwise type their keys here.
int OpenDevice(int dir, const char *name, const std::string &path, int flags) {
  struct stat before;
  if (fstatat(dir, name, &before, 0) != 0)
    return -1;
  if (before.st_uid != geteuid() && before.st_uid != 0)
    return Refuse(path + " leads to a device of another user (uid " +
                  std::to_string(before.st_uid) + "): not opened");
  int fd = openat(dir, name, flags);
  if (fd < 0)
    return -1;
  struct stat after;
  if (fstat(fd, &after) != 0 || after.st_dev != before.st_dev || after.st_ino != before.st_ino) {
    close(fd);
    return Refuse(path + " changed while it was being opened: not used");
  }
  return fd;
}

} // namespace

std::string ComDevicesFolder(FolderNeed *need) {
  *need = FolderNeed::NoWritesByOthers;
  if (const char *dir = getenv("VANTREL_DEVICES"); dir && *dir)
    return dir;
  if (const char *run = getenv("XDG_RUNTIME_DIR"); run && *run)
    return std::string(run) + "/vantrel/devices";
  // The user's private runtime folder: /tmp/vantrel-<uid> when it is theirs,
  // else one below their home folder. None at all: no links are offered.
  *need = FolderNeed::Private;
  std::string why;
  const std::string run = UserRuntimeFolder(&why);
  return run.empty() ? "" : run + "/devices";
}

int OpenComDevice(int index, int flags, std::string *path) {
  FolderNeed need;
  const std::string folder = ComDevicesFolder(&need);
  const std::string name = "COM" + std::to_string(index);
  int dir = folder.empty() ? -1 : open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  struct stat link;
  // lstat: a dangling link still means "this port is offered here", and
  // opening it then fails as a missing port instead of silently falling
  // through to a real RFCOMM device of the same number.
  if (dir < 0 || fstatat(dir, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0) {
    if (dir >= 0)
      close(dir);
    *path = "/dev/rfcomm" + std::to_string(index);
    return OpenDevice(AT_FDCWD, path->c_str(), *path, flags);
  }
  *path = folder + "/" + name;
  struct stat st;
  std::string why;
  if (fstat(dir, &st) != 0)
    why = "cannot be examined";
  if (!why.empty() || !FolderIsSafe(st, need, &why)) {
    close(dir);
    return Refuse("devices folder " + folder + " " + why + ": its link " + name +
                  " is not used");
  }
  if (link.st_uid != geteuid()) {
    close(dir);
    return Refuse(*path + " belongs to another user (uid " + std::to_string(link.st_uid) +
                  "): not used");
  }
  int fd = OpenDevice(dir, name.c_str(), *path, flags);
  CloseQuietly(dir);
  return fd;
}

bool ComLinkOffered(int index) {
  FolderNeed need;
  const std::string folder = ComDevicesFolder(&need);
  if (folder.empty())
    return false;
  const std::string entry = folder + "/COM" + std::to_string(index);
  struct stat link;
  return lstat(entry.c_str(), &link) == 0;
}
