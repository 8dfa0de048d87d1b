#include "tests/inject/mutter_session.h"
#include "tests/inject/x_session.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

bool OnPath(const char *program) {
  std::string cmd = std::string("command -v ") + program + " >/dev/null 2>&1";
  return system(cmd.c_str()) == 0;
}

std::string Slurp(const std::string &path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Starts argv with stdout and stderr into log, as user nobody when asked.
pid_t Spawn(const std::vector<std::string> &args, const std::vector<std::string> &env,
            const std::string &log, bool asNobody) {
  std::vector<std::string> all;
  if (asNobody)
    all = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char *> argv, envp;
  for (std::string &a : all)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envCopy = env;
  for (std::string &e : envCopy)
    envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    freopen(log.c_str(), "w", stderr);
    dup2(2, 1);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  return pid;
}

} // namespace

MutterSession::~MutterSession() {
  for (pid_t pid : {wevPid_, mutterPid_, portalPid_, busPid_})
    if (pid > 0)
      KillChild(pid);
  if (!dir_.empty() && !getenv("KEEP_MUTTER"))
    system(("rm -rf '" + dir_ + "'").c_str());
}

bool MutterSession::Available() {
  return OnPath("mutter") && OnPath("wev") && OnPath("stdbuf") && OnPath("dbus-daemon") &&
         system("/usr/bin/python3 -c 'import dbus, gi.repository.GLib' 2>/dev/null") == 0;
}

bool MutterSession::Fail(const std::string &why) {
  why_ = why;
  return false;
}

bool MutterSession::Start(const char *keymap) {
  const bool root = getuid() == 0;
  char tmpl[] = "/tmp/vantrel-mutter-XXXXXX";
  if (!mkdtemp(tmpl))
    return Fail("no temporary folder");
  dir_ = tmpl;
  if ((root && chown(dir_.c_str(), 65534, 65534) != 0) || chmod(dir_.c_str(), 0700) != 0)
    return Fail("the runtime folder cannot be given to the compositor's user");
  // A bus every user of the test may connect to: mutter runs as nobody, the
  // stand-ins and the program as the test's user.
  std::ofstream(dir_ + "/bus.conf")
      << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
         "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
      << "<busconfig><type>session</type><listen>unix:path=" << dir_ << "/bus</listen>"
      << "<auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/>"
      << "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
      << "<allow own=\"*\"/></policy></busconfig>\n";
  bus_ = "unix:path=" + dir_ + "/bus";
  const std::vector<std::string> base = {"PATH=/usr/bin:/bin", "LANG=C.UTF-8",
                                         "XDG_RUNTIME_DIR=" + dir_, "HOME=" + dir_,
                                         "DBUS_SESSION_BUS_ADDRESS=" + bus_,
                                         "DBUS_SYSTEM_BUS_ADDRESS=" + bus_};
  busPid_ = Spawn({"/usr/bin/dbus-daemon", "--config-file=" + dir_ + "/bus.conf", "--nofork"},
                  base, dir_ + "/dbus.log", false);
  for (int i = 0; i < 100 && access((dir_ + "/bus").c_str(), F_OK) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  portalPid_ = Spawn({"/usr/bin/python3", VANTREL_SOURCE_DIR "/tests/support/portal_stand_in.py",
                      "--forward-mutter", "--xkb", keymap},
                     base, dir_ + "/portal.log", false);
  // The keymap is read from locale1 when mutter starts: the stand-in first.
  const std::string busctl = "DBUS_SESSION_BUS_ADDRESS=" + bus_ +
                             " busctl --user status org.freedesktop.locale1 >/dev/null 2>&1";
  bool up = false;
  for (int i = 0; i < 200 && !up; ++i) {
    up = system(busctl.c_str()) == 0;
    if (!up)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!up)
    return Fail("the portal stand-in did not start: " + Slurp(dir_ + "/portal.log"));
  std::vector<std::string> env = base;
  env.push_back("GSETTINGS_BACKEND=memory");
  mutterPid_ = Spawn({"/usr/bin/mutter", "--headless", "--wayland", "--no-x11",
                      "--virtual-monitor", "1024x768"},
                     env, dir_ + "/mutter.log", root);
  for (int i = 0; i < 300 && access((dir_ + "/wayland-0").c_str(), F_OK) != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    int status;
    if (waitpid(mutterPid_, &status, WNOHANG) == mutterPid_) {
      mutterPid_ = -1;
      return Fail("mutter ended: " + Slurp(dir_ + "/mutter.log").substr(0, 2000));
    }
  }
  socket_ = dir_ + "/wayland-0";
  std::ofstream(dir_ + "/wev.sh") << "exec stdbuf -oL wev > " << dir_ << "/wev.log 2>&1\n";
  env = base;
  env.push_back("WAYLAND_DISPLAY=wayland-0");
  wevPid_ = Spawn({"/bin/sh", dir_ + "/wev.sh"}, env, dir_ + "/wev.err", root);
  for (int i = 0; i < 300; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (Slurp(dir_ + "/wev.log").find("activated") != std::string::npos)
      return true;
  }
  return Fail("wev's window never came up: " + Slurp(dir_ + "/mutter.log").substr(0, 2000));
}

const std::u32string &MutterSession::Typed() {
  FILE *f = fopen((dir_ + "/wev.log").c_str(), "rb");
  if (!f)
    return typed_;
  fseek(f, offset_, SEEK_SET);
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) {
    partial_.append(buffer, n);
    offset_ += static_cast<long>(n);
  }
  fclose(f);
  // Each key is a line "wl_keyboard] key: ... state: 1 (pressed)" followed
  // by "sym: NAME (N), utf8: 'TEXT'".
  size_t start = 0, end;
  while ((end = partial_.find('\n', start)) != std::string::npos) {
    const std::string line = partial_.substr(start, end - start);
    start = end + 1;
    if (line.find("wl_keyboard] key:") != std::string::npos) {
      pressed_ = line.find("state: 1") != std::string::npos;
      continue;
    }
    const size_t sym = line.find("sym: "), at = line.find("utf8: '");
    if (sym == std::string::npos || at == std::string::npos)
      continue;
    std::string name = line.substr(sym + 5);
    name = name.substr(0, name.find(' '));
    if (name == "Control_L" || name == "Control_R") {
      control_ = pressed_;
      continue;
    }
    if (!pressed_)
      continue;
    pressed_ = false;
    std::string text = line.substr(at + 7);
    text = text.substr(0, text.rfind('\''));
    if (control_ && (name == "U" || name == "u")) {
      entering_ = true;
      hex_.clear();
    } else if (entering_) {
      if (name == "space") {
        typed_.push_back(static_cast<char32_t>(strtoul(hex_.c_str(), nullptr, 16)));
        entering_ = false;
      } else {
        hex_ += text;
      }
    } else if (name == "BackSpace") {
      typed_.push_back(U'\b');
    } else if (name == "Return") {
      typed_.push_back(U'\n');
    } else {
      typed_ += DecodeUtf8(text);
    }
  }
  partial_.erase(0, start);
  return typed_;
}

std::u32string MutterSession::Read(size_t count, int quietMs) {
  auto last = std::chrono::steady_clock::now();
  size_t seen = Typed().size();
  while (seen < count) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const size_t now = Typed().size();
    if (now != seen) {
      seen = now;
      last = std::chrono::steady_clock::now();
    } else if (std::chrono::steady_clock::now() - last > std::chrono::milliseconds(quietMs)) {
      break;
    }
  }
  return typed_;
}
