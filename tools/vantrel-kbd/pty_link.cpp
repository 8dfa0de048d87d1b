// Creating and removing the emulator's pseudo-terminal and its COMn link.
//
// A lock file beside the link, held with flock() while the emulator runs,
// tells a live link from one left by an emulator that was killed: the kernel
// drops the lock with the process, so a link whose lock is free is stale.
#include "pty_link.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

bool MakeFolders(const std::string &path, std::string &error) {
  std::string part;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    part = path.substr(0, pos);
    if (part.empty())
      continue;
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      error = "cannot create folder " + part + ": " + strerror(errno);
      return false;
    }
  }
  return true;
}

// The program uses links only from a folder that is the user's and that no
// one else can write to (private, 0700, in the shared /tmp), so the folder
// is checked here too rather than offering a port the program would refuse.
bool CheckFolder(const std::string &path, bool mustBePrivate, std::string &error) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    error = "cannot examine folder " + path + ": " + strerror(errno);
    return false;
  }
  // A link to a folder is followed only where the user named the folder.
  if (S_ISLNK(st.st_mode) && (mustBePrivate || stat(path.c_str(), &st) != 0)) {
    error = path + " is a symbolic link, not a folder of this user";
    return false;
  }
  char mode[8];
  snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  if (!S_ISDIR(st.st_mode))
    error = path + " is not a folder";
  else if (st.st_uid != geteuid())
    error = path + " belongs to another user (uid " + std::to_string(st.st_uid) +
            "); Vantrel would not use links there";
  else if (mustBePrivate && (st.st_mode & 077) != 0)
    error = path + " is open to other users (mode " + mode + "); it must be private (chmod 700)";
  else if ((st.st_mode & 022) != 0)
    error = path + " can be written by other users (mode " + mode +
            "); Vantrel would not use links there";
  else
    return true;
  return false;
}

std::string ReadLink(const std::string &path) {
  char buf[4096];
  ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
  if (n < 0)
    return {};
  buf[n] = 0;
  return buf;
}

// With our lock held, decides what to do with an existing entry of the
// link's name: nothing there, or a stale link (removed), is fine.
bool ClearOldLink(const std::string &linkPath, std::string &error) {
  struct stat st;
  if (lstat(linkPath.c_str(), &st) != 0)
    return true;
  if (!S_ISLNK(st.st_mode)) {
    error = linkPath + " exists and is not a link; remove it or choose another --port";
    return false;
  }
  std::string target = ReadLink(linkPath);
  struct stat ts;
  bool targetExists = stat(linkPath.c_str(), &ts) == 0;
  // No emulator holds the lock, so a pseudo-terminal link is ours from an
  // earlier run (its number may since have gone to another terminal).
  if (targetExists && target.rfind("/dev/pts/", 0) != 0) {
    error = linkPath + " already links to " + target +
            " (not made by vantrel-kbd); remove it or choose another --port";
    return false;
  }
  if (unlink(linkPath.c_str()) != 0 && errno != ENOENT) {
    error = "cannot remove stale link " + linkPath + ": " + strerror(errno);
    return false;
  }
  fprintf(stderr, "vantrel-kbd: replaced stale link %s -> %s\n", linkPath.c_str(), target.c_str());
  return true;
}

bool TakeLock(PtyLink &link, const std::string &name, std::string &error) {
  link.lockFd = open(link.lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (link.lockFd < 0) {
    error = "cannot create " + link.lockPath + ": " + strerror(errno);
    return false;
  }
  if (flock(link.lockFd, LOCK_EX | LOCK_NB) != 0) {
    char pid[32] = {};
    ssize_t n = pread(link.lockFd, pid, sizeof pid - 1, 0);
    pid[n > 0 ? n : 0] = 0;
    error = name + " is in use by another vantrel-kbd" +
            (pid[0] ? std::string(" (pid ") + strtok(pid, "\n") + ")" : std::string()) +
            "; stop it or choose another --port";
    close(link.lockFd);
    link.lockFd = -1;
    return false;
  }
  std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(link.lockFd, 0) != 0 || pwrite(link.lockFd, pid.data(), pid.size(), 0) < 0) {
    // The pid is only for the message above; the lock itself is what counts.
  }
  return true;
}

bool OpenPty(PtyLink &link, std::string &error) {
  link.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128];
  if (link.master < 0 || grantpt(link.master) != 0 || unlockpt(link.master) != 0 ||
      ptsname_r(link.master, name, sizeof name) != 0) {
    error = std::string("cannot create a pseudo-terminal: ") + strerror(errno);
    return false;
  }
  link.slavePath = name;
  // Raw mode on the slave from the start: no echo of the packets back to
  // us, no line editing or CR/LF translation of the byte stream, even before
  // the program has set its own mode.
  int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio;
  if (slave < 0 || tcgetattr(slave, &tio) != 0) {
    error = "cannot set up " + link.slavePath + ": " + strerror(errno);
    if (slave >= 0)
      close(slave);
    return false;
  }
  cfmakeraw(&tio);
  tcsetattr(slave, TCSANOW, &tio);
  close(slave);
  fcntl(link.master, F_SETFL, fcntl(link.master, F_GETFL) | O_NONBLOCK);
  return true;
}

} // namespace

std::string DevicesFolder(const std::string &option, bool *shared) {
  *shared = false;
  if (!option.empty())
    return option;
  if (const char *dir = getenv("VANTREL_DEVICES"); dir && *dir)
    return dir;
  if (const char *run = getenv("XDG_RUNTIME_DIR"); run && *run)
    return std::string(run) + "/vantrel/devices";
  *shared = true;
  return "/tmp/vantrel-" + std::to_string(getuid()) + "/devices";
}

bool CreatePtyLink(const std::string &folder, bool shared, const std::string &name, PtyLink &link,
                   std::string &error) {
  link.linkPath = folder + "/" + name;
  link.lockPath = folder + "/." + name + ".lock";
  // In /tmp, the folder holding the devices folder must be private too: its
  // owner could otherwise swap the devices folder for one of their own.
  const std::string parent = folder.substr(0, folder.rfind('/'));
  if (!MakeFolders(folder, error) || (shared && !CheckFolder(parent, true, error)) ||
      !CheckFolder(folder, shared, error) || !TakeLock(link, name, error) ||
      !ClearOldLink(link.linkPath, error) || !OpenPty(link, error)) {
    RemovePtyLink(link);
    return false;
  }
  if (symlink(link.slavePath.c_str(), link.linkPath.c_str()) != 0) {
    error = "cannot create link " + link.linkPath + ": " + strerror(errno);
    link.linkPath.clear(); // not ours
    RemovePtyLink(link);
    return false;
  }
  return true;
}

void RemovePtyLink(PtyLink &link) {
  if (!link.linkPath.empty() && !link.slavePath.empty() && ReadLink(link.linkPath) == link.slavePath)
    unlink(link.linkPath.c_str());
  link.linkPath.clear();
  if (link.lockFd >= 0) {
    unlink(link.lockPath.c_str());
    close(link.lockFd);
    link.lockFd = -1;
  }
  if (link.master >= 0) {
    close(link.master);
    link.master = -1;
  }
}

bool SlaveIsOpen(const PtyLink &link) {
  pollfd p{link.master, POLLOUT, 0};
  if (poll(&p, 1, 0) < 0)
    return false;
  return !(p.revents & POLLHUP);
}

size_t WaitUntilRead(const PtyLink &link, int limitMs) {
  // Only the slave side knows what is waiting to be read: look through a
  // second descriptor of it, which leaves the program's own alone. Bytes
  // just written reach that count a moment later (the kernel hands them
  // over from a work queue), so the line must have stayed empty for a while.
  constexpr auto kQuiet = std::chrono::milliseconds(100);
  int slave = open(link.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave < 0)
    return 0;
  int unread = 0;
  auto now = std::chrono::steady_clock::now();
  auto end = now + std::chrono::milliseconds(limitMs);
  auto emptySince = now;
  while (ioctl(slave, FIONREAD, &unread) == 0 && (now = std::chrono::steady_clock::now()) < end) {
    if (unread > 0)
      emptySince = now;
    else if (now - emptySince >= kQuiet)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  close(slave);
  return unread > 0 ? static_cast<size_t>(unread) : 0;
}

bool HangUpAndReoffer(PtyLink &link, std::string &error) {
  close(link.master); // the program's side now reads as hung up
  link.master = -1;
  std::string old = link.slavePath;
  if (!OpenPty(link, error))
    return false;
  // The new link replaces the old one in one step, so the program never
  // finds the port missing.
  std::string folder = link.linkPath.substr(0, link.linkPath.rfind('/'));
  std::string fresh = folder + "/.new-" + link.linkPath.substr(link.linkPath.rfind('/') + 1);
  unlink(fresh.c_str());
  if (symlink(link.slavePath.c_str(), fresh.c_str()) != 0 || rename(fresh.c_str(), link.linkPath.c_str()) != 0) {
    error = "cannot offer " + link.linkPath + " again: " + strerror(errno);
    unlink(fresh.c_str());
    return false;
  }
  return true;
}
