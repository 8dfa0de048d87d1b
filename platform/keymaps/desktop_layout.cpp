// The layout of the desktop's own settings (see desktop_layout.h).
#include "platform/keymaps/desktop_layout.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

// The quoted strings of a GVariant text ('...'), in order; a backslash
// escapes the next character.
std::vector<std::string> QuotedStrings(const std::string &text) {
  std::vector<std::string> out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\'')
      continue;
    std::string s;
    for (++i; i < text.size() && text[i] != '\''; ++i) {
      if (text[i] == '\\' && i + 1 < text.size())
        ++i;
      s.push_back(text[i]);
    }
    out.push_back(s);
  }
  return out;
}

std::string Trim(const std::string &s) {
  const size_t a = s.find_first_not_of(" \t\r");
  const size_t b = s.find_last_not_of(" \t\r");
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

std::string FirstOfList(const std::string &list) { return Trim(list.substr(0, list.find(','))); }

// Milliseconds left until `end` (0 once it has passed).
int MsUntil(std::chrono::steady_clock::time_point end) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reaps the child `pid`, waiting for it to exit until `end` at most; past
// that it is killed (SIGKILL) and reaped. True when it exited with status 0
// on its own. A child that closes its output and lingers must not hold up
// the caller: only the kill makes the last wait certain to end at once.
bool ReapBy(pid_t pid, std::chrono::steady_clock::time_point end) {
  int status = 0;
  for (;;) {
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid)
      return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (r < 0 && errno != EINTR)
      return false; // not our child any more: nothing to wait for
    const int left = MsUntil(end);
    if (left == 0)
      break;
    usleep(static_cast<useconds_t>(std::min(left, 10)) * 1000);
  }
  kill(pid, SIGKILL);
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return false;
}

// Runs `gsettings get SCHEMA KEY` and returns what it printed (at most 64
// KiB), or "" when it cannot run, fails, or has not both printed its answer
// and exited within a second (it is then killed).
std::string Gsettings(const char *schema, const char *key) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0)
    return "";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  char *const argv[] = {const_cast<char *>("gsettings"), const_cast<char *>("get"),
                        const_cast<char *>(schema), const_cast<char *>(key), nullptr};
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, "gsettings", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  std::string out;
  if (rc != 0) {
    close(fds[0]);
    return "";
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  bool complete = false;
  char buffer[4096];
  for (;;) {
    pollfd p{fds[0], POLLIN, 0};
    const int left = MsUntil(end);
    const int ready = left > 0 ? poll(&p, 1, left) : 0;
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready <= 0)
      break;
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      complete = n == 0;
      break;
    }
    if (out.size() < 65536)
      out.append(buffer, static_cast<size_t>(n));
  }
  close(fds[0]);
  // The same second bounds the exit: output closed early is no answer yet.
  const bool succeeded = ReapBy(pid, complete ? end : std::chrono::steady_clock::now());
  return complete && succeeded ? out : "";
}

// Reads the first `cap` bytes (at most) of a regular file into *text. A
// FIFO, a device or a folder at the path is not read: a FIFO would block
// the reader forever, a device might never end. False with *why set when
// the file cannot be read so.
bool ReadRegularFileStart(const std::string &path, size_t cap, std::string *text,
                          std::string *why) {
  // O_NONBLOCK: opening a FIFO would otherwise wait for a writer.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    *why = strerror(errno);
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *why = "not a regular file";
    close(fd);
    return false;
  }
  text->clear();
  char buffer[4096];
  while (text->size() < cap) {
    const ssize_t n = read(fd, buffer, std::min(sizeof buffer, cap - text->size()));
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0) {
      *why = strerror(errno);
      close(fd);
      text->clear();
      return false;
    }
    if (n == 0)
      break;
    text->append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return true;
}

} // namespace

bool XkbNamesFromGnomeSettings(const std::string &sources, const std::string &options,
                               XkbNames &out) {
  // The strings come in pairs: the kind of source, then its name.
  const std::vector<std::string> s = QuotedStrings(sources);
  for (size_t i = 0; i + 1 < s.size(); i += 2) {
    if (s[i] != "xkb" || s[i + 1].empty())
      continue;
    const std::string &name = s[i + 1];
    const size_t plus = name.find('+');
    XkbNames names;
    names.layout = name.substr(0, plus);
    names.variant = plus == std::string::npos ? "" : name.substr(plus + 1);
    for (const std::string &option : QuotedStrings(options))
      names.options += (names.options.empty() ? "" : ",") + option;
    names.source = "GNOME input sources";
    out = names;
    return true;
  }
  return false;
}

bool XkbNamesFromKxkbrc(const std::string &text, XkbNames &out) {
  std::istringstream in(text);
  std::string line, group;
  XkbNames names;
  bool use = false;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (!line.empty() && line[0] == '[') {
      group = line;
      continue;
    }
    const size_t eq = line.find('=');
    if (group != "[Layout]" || eq == std::string::npos)
      continue;
    const std::string key = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
    if (key == "Use")
      use = value == "true";
    else if (key == "LayoutList")
      names.layout = FirstOfList(value);
    else if (key == "VariantList")
      names.variant = FirstOfList(value);
    else if (key == "Model")
      names.model = value;
    else if (key == "Options")
      names.options = value;
  }
  if (!use || names.layout.empty())
    return false;
  names.source = "KDE kxkbrc";
  out = names;
  return true;
}

bool XkbNamesFromDesktop(XkbNames &out, std::string &why) {
  const char *desktop = getenv("XDG_CURRENT_DESKTOP");
  const std::string names = desktop ? std::string(":") + desktop + ":" : "";
  if (names.find(":GNOME:") != std::string::npos) {
    const char *schema = "org.gnome.desktop.input-sources";
    // The source in use comes first in mru-sources; sources holds the list
    // as set, its first the default.
    const std::string options = Gsettings(schema, "xkb-options");
    if (XkbNamesFromGnomeSettings(Gsettings(schema, "mru-sources"), options, out) ||
        XkbNamesFromGnomeSettings(Gsettings(schema, "sources"), options, out))
      return true;
    why = "GNOME's input sources name no keyboard layout (or gsettings cannot read them)";
    return false;
  }
  if (names.find(":KDE:") != std::string::npos) {
    const char *config = getenv("XDG_CONFIG_HOME");
    const char *home = getenv("HOME");
    const std::string path = config && *config ? std::string(config) + "/kxkbrc"
                             : home            ? std::string(home) + "/.config/kxkbrc"
                                               : "";
    std::string text, problem;
    // A layout setting is a few lines: its first 64 KiB are plenty.
    if (!ReadRegularFileStart(path, 65536, &text, &problem)) {
      why = "KDE's kxkbrc (" + path + ") cannot be read: " + problem;
      return false;
    }
    if (XkbNamesFromKxkbrc(text, out))
      return true;
    why = "KDE's kxkbrc sets no keyboard layout";
    return false;
  }
  why = "the desktop keeps no layout setting read here";
  return false;
}
