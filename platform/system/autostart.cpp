// The autostart entry: where it lives, how its Exec line is quoted, and how
// it is written whole or not at all.
#include "platform/autostart.h"

#include "platform/trace.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string ErrnoText(int error) { return strerror(error); }

std::string AutostartFolder() {
  const char *config = getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/')
    return std::string(config) + "/autostart";
  const char *home = getenv("HOME");
  if (home && home[0] == '/')
    return std::string(home) + "/.config/autostart";
  return "";
}

// Creates `folder` and its missing parents (mode 0700, as a new config folder
// is the user's own). Returns 0 or the errno of the step that failed.
int MakeFolders(const std::string &folder) {
  struct stat st;
  if (stat(folder.c_str(), &st) == 0)
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  const size_t slash = folder.find_last_of('/');
  if (slash != std::string::npos && slash > 0) {
    if (int r = MakeFolders(folder.substr(0, slash)))
      return r;
  }
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    return errno;
  return 0;
}

// Characters that make an Exec word need quotes.
bool Reserved(char c) { return strchr(" \t\"'\\><~|&;$*?#()`", c) != nullptr; }

// One Exec word: quoted when needed, with '"', '`', '$' and '\' escaped
// inside the quotes; '%' doubled (field codes). Empty for a control
// character.
bool QuoteWord(const std::string &word, std::string *out) {
  bool quote = word.empty();
  for (unsigned char c : word) {
    if (c < 0x20 || c == 0x7f)
      return false;
    if (Reserved(static_cast<char>(c)))
      quote = true;
  }
  std::string w;
  if (quote)
    w += '"';
  for (char c : word) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
      w += '\\';
    if (c == '%')
      w += '%';
    w += c;
  }
  if (quote)
    w += '"';
  *out += w;
  return true;
}

bool WriteAll(int fd, const std::string &text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool Fail(std::string *why, const std::string &text) {
  *why = text;
  PlatformTrace("autostart: %s", text.c_str());
  return false;
}

} // namespace

std::string AutostartEntryPath() {
  const std::string folder = AutostartFolder();
  return folder.empty() ? "" : folder + "/" + kDesktopEntryId + ".desktop";
}

bool AutostartEnabled() {
  const std::string path = AutostartEntryPath();
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string DesktopExecValue(const std::string &program, const std::vector<std::string> &arguments) {
  if (program.empty())
    return "";
  std::string line;
  if (!QuoteWord(program, &line))
    return "";
  for (const std::string &argument : arguments) {
    line += ' ';
    if (!QuoteWord(argument, &line))
      return "";
  }
  // The string value's own escape comes on top of the quoting.
  std::string value;
  for (char c : line) {
    if (c == '\\')
      value += '\\';
    value += c;
  }
  return value;
}

bool AutostartEnable(const std::string &program, const std::vector<std::string> &arguments,
                     std::string *why) {
  const std::string path = AutostartEntryPath();
  if (path.empty())
    return Fail(why, "there is no config folder (neither XDG_CONFIG_HOME nor HOME is set)");
  const std::string exec = DesktopExecValue(program, arguments);
  if (exec.empty())
    return Fail(why, "the program's path '" + program + "' cannot be written into a desktop entry");
  const std::string folder = path.substr(0, path.find_last_of('/'));
  if (int r = MakeFolders(folder))
    return Fail(why, "cannot make the folder " + folder + ": " + ErrnoText(r));

  const std::string entry = std::string("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Vantrel\n"
                                        "Comment=Connect the textile keyboard at login\n"
                                        "Exec=") +
                            exec +
                            "\n"
                            "Icon=" +
                            kDesktopEntryId +
                            "\n"
                            "Terminal=false\n"
                            "X-GNOME-Autostart-enabled=true\n";

  std::string temp = folder + "/." + kDesktopEntryId + ".desktop.XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0)
    return Fail(why, "cannot write into " + folder + ": " + ErrnoText(errno));
  bool ok = fchmod(fd, 0644) == 0 && WriteAll(fd, entry) && fsync(fd) == 0;
  int error = ok ? 0 : errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    unlink(temp.c_str());
    return Fail(why, "cannot write " + path + ": " + ErrnoText(error ? error : EIO));
  }
  // The rename itself reaches the disk with the folder.
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  PlatformTrace("autostart: wrote %s", path.c_str());
  return true;
}

bool AutostartDisable(std::string *why) {
  const std::string path = AutostartEntryPath();
  if (path.empty())
    return true;
  if (unlink(path.c_str()) != 0 && errno != ENOENT)
    return Fail(why, "cannot remove " + path + ": " + ErrnoText(errno));
  PlatformTrace("autostart: removed %s", path.c_str());
  return true;
}

std::string OwnProgramPath() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0)
    return "";
  std::string path(buffer, static_cast<size_t>(n));
  // A program file replaced while it runs (an upgrade) is named with this
  // mark; the new file at the same path is the one to start next time.
  const std::string replaced = " (deleted)";
  if (path.size() > replaced.size() &&
      path.compare(path.size() - replaced.size(), replaced.size(), replaced) == 0)
    path.resize(path.size() - replaced.size());
  return path;
}
