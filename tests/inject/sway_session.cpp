#include "tests/inject/sway_session.h"
#include "tests/inject/x_session.h"

#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <unistd.h>

using namespace wayland_harness;

SwaySession::~SwaySession() {
  if (pid_ > 0)
    KillChild(pid_);
  if (!dir_.empty()) {
    const pid_t wev = static_cast<pid_t>(atoi(Slurp(dir_ + "/wev.pid").c_str()));
    // Only while that process is still wev (its number may have been reused).
    if (wev > 1 && Slurp("/proc/" + std::to_string(wev) + "/comm") == "wev\n")
      kill(wev, SIGKILL);
  }
  RemoveRuntimeFolder(dir_, "KEEP_SWAY");
}

bool SwaySession::Available() { return OnPath("sway") && OnPath("wev") && OnPath("stdbuf"); }

bool SwaySession::Fail(const std::string &why) {
  why_ = why;
  return false;
}

bool SwaySession::Start(const char *layout) {
  const bool root = getuid() == 0;
  const std::string folder = MakeRuntimeFolder("/tmp/vantrel-sway-XXXXXX", dir_);
  if (!folder.empty())
    return Fail(folder);
  wev_ = WevLog(dir_ + "/wev.log", WevLog::kKeysAsTyped);
  // sway starts wev in a session of its own, so ending sway does not end
  // wev (which then spins on its lost connection): a script writes wev's
  // process id down (sway's configuration would take "$$" for a variable),
  // and the destructor ends it.
  std::ofstream(dir_ + "/wev.sh") << "echo $$ > " << dir_ << "/wev.pid\n"
                                  << "exec stdbuf -oL wev > " << dir_ << "/wev.log 2>&1\n";
  std::ofstream(dir_ + "/config") << "output HEADLESS-1 resolution 800x600\n"
                                  << "exec sh " << dir_ << "/wev.sh\n";
  if (root && chown((dir_ + "/config").c_str(), 65534, 65534) != 0)
    return Fail("the configuration cannot be given to the compositor's user");
  pid_ = Spawn({"/usr/bin/sway", "-c", dir_ + "/config"},
               {"XDG_RUNTIME_DIR=" + dir_, "HOME=" + dir_,
                std::string("XKB_DEFAULT_LAYOUT=") + layout, "WLR_BACKENDS=headless",
                "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1", "LANG=C.UTF-8",
                "PATH=/usr/bin:/bin"},
               dir_ + "/sway.log", root);
  // wev's window is up once it is activated.
  if (PollUntil([&] { return wev_.Shows("activated"); }, 300, 100, &pid_))
    return FindSocket();
  return Fail((pid_ < 0 ? "sway ended: " : "wev's window never came up: ") +
              Slurp(dir_ + "/sway.log").substr(0, 2000));
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
  return PollUntil([&] { return wev_.Shows("wl_keyboard] enter"); }, 300, 100);
}
