// Xvfb and recording client for the injection tests (see x_session.h).
#include "tests/inject/x_session.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

#ifndef INJECT_RECORDER
#define INJECT_RECORDER "inject_recorder"
#endif

namespace {

bool OnPath(const char *program) {
  const char *path = getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos)
      end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0)
      return true;
    start = end + 1;
  }
  return false;
}

void QuietStdio() {
  int devnull = open("/dev/null", O_RDWR);
  if (devnull >= 0) {
    dup2(devnull, STDIN_FILENO);
    dup2(devnull, STDERR_FILENO);
    close(devnull);
  }
}

// Reads a line from fd within timeoutMs; false on timeout or end.
bool ReadLine(int fd, std::string &line, int timeoutMs) {
  line.clear();
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0)
      return false;
    char c;
    ssize_t n = read(fd, &c, 1);
    if (n <= 0)
      return false;
    if (c == '\n')
      return true;
    line += c;
  }
}

} // namespace

void KillChild(pid_t pid) {
  if (pid <= 0)
    return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid)
      return;
    usleep(20000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

XvfbServer::~XvfbServer() {
  KillChild(wm_);
  KillChild(pid_);
}

bool XvfbServer::Start(const char *screen) {
  if (!OnPath("Xvfb")) {
    why_ = "Xvfb is not installed";
    return false;
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    why_ = "pipe failed";
    return false;
  }
  pid_ = fork();
  if (pid_ == 0) {
    QuietStdio();
    int out = dup(fds[1]); // without close-on-exec, for -displayfd
    std::string fdText = std::to_string(out);
    // -noreset: without it the server goes back to its default keymap
    // whenever its last client leaves (setxkbmap, when it is the only one).
    execlp("Xvfb", "Xvfb", "-displayfd", fdText.c_str(), "-screen", "0", screen,
           "-nolisten", "tcp", "-noreset", static_cast<char *>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  bool ok = ReadLine(fds[0], number, 15000);
  close(fds[0]);
  if (!ok || number.empty()) {
    why_ = "Xvfb did not start";
    KillChild(pid_);
    pid_ = -1;
    return false;
  }
  display_ = ":" + number;
  return true;
}

bool XvfbServer::SetLayout(const char *layout, const char *option) const {
  pid_t pid = fork();
  if (pid == 0) {
    QuietStdio();
    if (option)
      execlp("setxkbmap", "setxkbmap", "-display", display_.c_str(), layout, "-option", option,
             static_cast<char *>(nullptr));
    else
      execlp("setxkbmap", "setxkbmap", "-display", display_.c_str(), layout,
             static_cast<char *>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return false;
  // setxkbmap succeeds even when the server drops the keymap again: check
  // that the server now names the layout as its own.
  return ServerLayout() == layout;
}

bool XvfbServer::StartWindowManager() {
  if (!OnPath("openbox")) {
    why_ = "openbox (the tests' window manager) is not installed";
    return false;
  }
  wm_ = fork();
  if (wm_ == 0) {
    QuietStdio();
    int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0)
      dup2(devnull, STDOUT_FILENO); // its notices about menus
    setenv("DISPLAY", display_.c_str(), 1);
    execlp("openbox", "openbox", "--sm-disable", static_cast<char *>(nullptr));
    _exit(127);
  }
  // A window manager that manages the screen names its check window on the
  // root window (_NET_SUPPORTING_WM_CHECK).
  Display *dpy = XOpenDisplay(display_.c_str());
  bool managing = false;
  for (int i = 0; dpy && i < 300 && !managing; ++i) {
    Atom check = XInternAtom(dpy, "_NET_SUPPORTING_WM_CHECK", False);
    Atom type;
    int format;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    managing = XGetWindowProperty(dpy, DefaultRootWindow(dpy), check, 0, 1, False, XA_WINDOW,
                                  &type, &format, &count, &after, &data) == Success &&
               count == 1;
    if (data)
      XFree(data);
    if (!managing) {
      if (waitpid(wm_, nullptr, WNOHANG) == wm_) {
        wm_ = -1;
        break;
      }
      usleep(50000);
    }
  }
  if (dpy)
    XCloseDisplay(dpy);
  if (!managing) {
    why_ = "openbox did not manage the screen";
    KillChild(wm_);
    wm_ = -1;
  }
  return managing;
}

std::string XvfbServer::ServerLayout() const {
  Display *dpy = XOpenDisplay(display_.c_str());
  if (!dpy)
    return "";
  Atom prop = XInternAtom(dpy, "_XKB_RULES_NAMES", True);
  std::string layout;
  Atom type;
  int format;
  unsigned long count = 0, after = 0;
  unsigned char *data = nullptr;
  if (prop != None &&
      XGetWindowProperty(dpy, DefaultRootWindow(dpy), prop, 0, 1024, False, XA_STRING, &type,
                         &format, &count, &after, &data) == Success &&
      data && format == 8) {
    // rules, model, layout, variant, options: NUL-separated.
    std::string names(reinterpret_cast<char *>(data), count);
    size_t start = 0;
    for (int field = 0; field < 2 && start != std::string::npos; ++field) {
      start = names.find('\0', start);
      if (start != std::string::npos)
        ++start;
    }
    if (start != std::string::npos && start <= names.size())
      layout = names.substr(start, names.find('\0', start) - start);
  }
  if (data)
    XFree(data);
  XCloseDisplay(dpy);
  return layout;
}

Recorder::~Recorder() {
  KillChild(pid_);
  if (fd_ >= 0)
    close(fd_);
}

bool Recorder::Start(const std::string &display) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0)
    return false;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(fds[1], STDOUT_FILENO);
    setenv("DISPLAY", display.c_str(), 1);
    execl(INJECT_RECORDER, INJECT_RECORDER, static_cast<char *>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  fd_ = fds[0];
  std::string line;
  return ReadLine(fd_, line, 10000) && line == "ready";
}

std::u32string Recorder::Read(size_t count, int timeoutMs) {
  std::u32string got;
  while (got.size() < count) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0)
      break;
    char buf[4096];
    ssize_t n = read(fd_, buf, sizeof buf);
    if (n <= 0)
      break;
    pending_.append(buf, static_cast<size_t>(n));
    // Decode whole characters only; keep a cut-off tail for the next read.
    size_t whole = pending_.size();
    for (size_t back = 1; back <= 3 && back <= pending_.size(); ++back) {
      unsigned char c = static_cast<unsigned char>(pending_[pending_.size() - back]);
      if ((c & 0xC0) == 0xC0) {
        size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        if (len > back)
          whole = pending_.size() - back;
        break;
      }
      if ((c & 0x80) == 0)
        break;
    }
    got += DecodeUtf8(pending_.substr(0, whole));
    pending_.erase(0, whole);
  }
  return got;
}

std::u32string DecodeUtf8(const std::string &s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (size_t k = 1; k < len && i + k < s.size(); ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out += cp;
    i += len;
  }
  return out;
}

int CountKeysymInKeymap(const std::string &display, unsigned long keysym) {
  Display *dpy = XOpenDisplay(display.c_str());
  if (!dpy)
    return -1;
  int minKc, maxKc, perKey = 0;
  XDisplayKeycodes(dpy, &minKc, &maxKc);
  KeySym *map = XGetKeyboardMapping(dpy, static_cast<KeyCode>(minKc), maxKc - minKc + 1, &perKey);
  int count = 0;
  for (int i = 0; map && i < (maxKc - minKc + 1) * perKey; ++i)
    count += map[i] == keysym;
  if (map)
    XFree(map);
  XCloseDisplay(dpy);
  return count;
}

std::string KeymapFingerprint(const std::string &display) {
  std::string out;
  std::string command = "xkbcomp -xkb " + display + " - 2>/dev/null";
  if (FILE *pipe = popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
      out.append(buf, n);
    if (pclose(pipe) != 0)
      return "";
  }
  Display *dpy = XOpenDisplay(display.c_str());
  if (!dpy || out.empty()) {
    if (dpy)
      XCloseDisplay(dpy);
    return "";
  }
  int minKc, maxKc, perKey = 0;
  XDisplayKeycodes(dpy, &minKc, &maxKc);
  KeySym *map = XGetKeyboardMapping(dpy, static_cast<KeyCode>(minKc), maxKc - minKc + 1, &perKey);
  out += "\ncore keymap, " + std::to_string(perKey) + " a key:";
  for (int i = 0; map && i < (maxKc - minKc + 1) * perKey; ++i)
    out += " " + std::to_string(map[i]);
  if (map)
    XFree(map);
  if (XModifierKeymap *mods = XGetModifierMapping(dpy)) {
    out += "\nmodifier map, " + std::to_string(mods->max_keypermod) + " a modifier:";
    for (int i = 0; i < 8 * mods->max_keypermod; ++i)
      out += " " + std::to_string(mods->modifiermap[i]);
    XFreeModifiermap(mods);
  }
  XCloseDisplay(dpy);
  return out;
}

std::vector<std::vector<unsigned long>> GroupOneLevels(const std::string &display) {
  std::vector<std::vector<unsigned long>> levels;
  Display *dpy = XOpenDisplay(display.c_str());
  if (!dpy)
    return levels;
  if (XkbDescPtr xkb = XkbGetMap(dpy, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd)) {
    levels.resize(xkb->max_key_code + 1);
    for (int kc = xkb->min_key_code; kc <= xkb->max_key_code; ++kc) {
      if (XkbKeyNumGroups(xkb, kc) == 0)
        continue;
      for (int level = 0; level < XkbKeyGroupWidth(xkb, kc, 0); ++level)
        levels[kc].push_back(XkbKeySymEntry(xkb, kc, level, 0));
    }
    XkbFreeKeyboard(xkb, 0, True);
  }
  XCloseDisplay(dpy);
  return levels;
}

std::u32string MixedStressText(size_t n) {
  const std::u32string pool = U"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                              U" .,;:!?-()@\"'/"
                              U"éèêëàâäçñöôüûùßÉÀÇÑÖÜ€"
                              U"абвгдеёжзийклмнопрстуфхцчшщъыьэюяАБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ";
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<size_t> pick(0, pool.size() - 1);
  std::u32string text;
  for (size_t i = 0; i < n; ++i)
    text += pool[pick(rng)];
  return text;
}
