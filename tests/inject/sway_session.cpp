#include "tests/inject/sway_session.h"
#include "tests/inject/x_session.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
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

} // namespace

SwaySession::~SwaySession() {
  if (pid_ > 0)
    KillChild(pid_);
  if (!dir_.empty()) {
    const pid_t wev = static_cast<pid_t>(atoi(Slurp(dir_ + "/wev.pid").c_str()));
    // Only while that process is still wev (its number may have been reused).
    if (wev > 1 && Slurp("/proc/" + std::to_string(wev) + "/comm") == "wev\n")
      kill(wev, SIGKILL);
  }
  if (!dir_.empty() && !getenv("KEEP_SWAY"))
    system(("rm -rf '" + dir_ + "'").c_str());
}

bool SwaySession::Available() { return OnPath("sway") && OnPath("wev") && OnPath("stdbuf"); }

bool SwaySession::Fail(const std::string &why) {
  why_ = why;
  return false;
}

bool SwaySession::Start(const char *layout) {
  const bool root = getuid() == 0;
  char tmpl[] = "/tmp/vantrel-sway-XXXXXX";
  if (!mkdtemp(tmpl))
    return Fail("no temporary folder");
  dir_ = tmpl;
  const uid_t uid = root ? 65534 : getuid();
  const gid_t gid = root ? 65534 : getgid();
  if (chown(dir_.c_str(), uid, gid) != 0 || chmod(dir_.c_str(), 0700) != 0)
    return Fail("the runtime folder cannot be given to the compositor's user");
  // sway starts wev in a session of its own, so ending sway does not end
  // wev (which then spins on its lost connection): a script writes wev's
  // process id down (sway's configuration would take "$$" for a variable),
  // and the destructor ends it.
  std::ofstream(dir_ + "/wev.sh") << "echo $$ > " << dir_ << "/wev.pid\n"
                                  << "exec stdbuf -oL wev > " << dir_ << "/wev.log 2>&1\n";
  std::ofstream(dir_ + "/config") << "output HEADLESS-1 resolution 800x600\n"
                                  << "exec sh " << dir_ << "/wev.sh\n";
  if (chown((dir_ + "/config").c_str(), uid, gid) != 0)
    return Fail("the configuration cannot be given to the compositor's user");
  pid_ = fork();
  if (pid_ == 0) {
    std::string runtime = "XDG_RUNTIME_DIR=" + dir_, home = "HOME=" + dir_,
                xkb = std::string("XKB_DEFAULT_LAYOUT=") + layout, cfg = dir_ + "/config";
    std::string log = dir_ + "/sway.log";
    freopen(log.c_str(), "w", stderr);
    freopen("/dev/null", "w", stdout);
    const char *env[] = {runtime.c_str(),         home.c_str(),          xkb.c_str(),
                         "WLR_BACKENDS=headless", "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1",
                         "LANG=C.UTF-8",          "PATH=/usr/bin:/bin",  nullptr};
    if (root)
      execle("/usr/bin/setpriv", "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
             "sway", "-c", cfg.c_str(), nullptr, env);
    else
      execle("/usr/bin/sway", "sway", "-c", cfg.c_str(), nullptr, env);
    _exit(127);
  }
  // wev's window is up once it is activated.
  for (int i = 0; i < 300; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (Slurp(dir_ + "/wev.log").find("activated") != std::string::npos)
      return FindSocket();
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return Fail("sway ended: " + Slurp(dir_ + "/sway.log").substr(0, 2000));
    }
  }
  return Fail("wev's window never came up: " + Slurp(dir_ + "/sway.log").substr(0, 2000));
}

bool SwaySession::FindSocket() {
  if (DIR *d = opendir(dir_.c_str())) {
    while (dirent *e = readdir(d)) {
      std::string name = e->d_name;
      if (name.rfind("wayland-", 0) == 0 && name.find(".lock") == std::string::npos)
        socket_ = dir_ + "/" + name;
    }
    closedir(d);
  }
  return !socket_.empty() || Fail("no Wayland socket");
}

bool SwaySession::WaitForKeyboard() {
  for (int i = 0; i < 300; ++i) {
    if (Slurp(dir_ + "/wev.log").find("wl_keyboard] enter") != std::string::npos)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

const std::u32string &SwaySession::Typed() {
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
    if (!pressed_ || sym == std::string::npos || at == std::string::npos)
      continue;
    pressed_ = false;
    if (line.compare(sym + 5, 10, "BackSpace ") == 0) {
      typed_.push_back(U'\b');
    } else if (line.compare(sym + 5, 7, "Return ") == 0) {
      typed_.push_back(U'\n');
    } else {
      std::string text = line.substr(at + 7);
      typed_ += DecodeUtf8(text.substr(0, text.rfind('\'')));
    }
  }
  partial_.erase(0, start);
  return typed_;
}

std::u32string SwaySession::Read(size_t count, int quietMs) {
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

std::u32string ApplyBackspaces(const std::u32string &text) {
  std::u32string out;
  for (char32_t c : text) {
    if (c != U'\b')
      out.push_back(c);
    else if (!out.empty())
      out.pop_back();
  }
  return out;
}
