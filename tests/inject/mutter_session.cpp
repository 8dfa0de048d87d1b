#include "tests/inject/mutter_session.h"
#include "tests/inject/x_session.h"

#include <cstdlib>
#include <fstream>
#include <unistd.h>

using namespace wayland_harness;

MutterSession::~MutterSession() {
  for (pid_t pid : {wevPid_, mutterPid_, portalPid_, busPid_})
    if (pid > 0)
      KillChild(pid);
  RemoveRuntimeFolder(dir_, "KEEP_MUTTER");
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
  const std::string folder = MakeRuntimeFolder("/tmp/vantrel-mutter-XXXXXX", dir_);
  if (!folder.empty())
    return Fail(folder);
  wev_ = WevLog(dir_ + "/wev.log", WevLog::kUnicodeEntries);
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
  PollUntil([&] { return access((dir_ + "/bus").c_str(), F_OK) == 0; }, 100, 50);
  portalPid_ = Spawn({"/usr/bin/python3", VANTREL_SOURCE_DIR "/tests/support/portal_stand_in.py",
                      "--forward-mutter", "--xkb", keymap},
                     base, dir_ + "/portal.log", false);
  // The keymap is read from locale1 when mutter starts: the stand-in first.
  const std::string busctl = "DBUS_SESSION_BUS_ADDRESS=" + bus_ +
                             " busctl --user status org.freedesktop.locale1 >/dev/null 2>&1";
  if (!PollUntil([&] { return system(busctl.c_str()) == 0; }, 200, 50))
    return Fail("the portal stand-in did not start: " + Slurp(dir_ + "/portal.log"));
  std::vector<std::string> env = base;
  env.push_back("GSETTINGS_BACKEND=memory");
  mutterPid_ = Spawn({"/usr/bin/mutter", "--headless", "--wayland", "--no-x11",
                      "--virtual-monitor", "1024x768"},
                     env, dir_ + "/mutter.log", root);
  socket_ = dir_ + "/wayland-0";
  if (!PollUntil([&] { return access(socket_.c_str(), F_OK) == 0; }, 300, 100, &mutterPid_) &&
      mutterPid_ < 0)
    return Fail("mutter ended: " + Slurp(dir_ + "/mutter.log").substr(0, 2000));
  std::ofstream(dir_ + "/wev.sh") << "exec stdbuf -oL wev > " << dir_ << "/wev.log 2>&1\n";
  env = base;
  env.push_back("WAYLAND_DISPLAY=wayland-0");
  wevPid_ = Spawn({"/bin/sh", dir_ + "/wev.sh"}, env, dir_ + "/wev.err", root);
  if (PollUntil([&] { return wev_.Shows("activated"); }, 300, 100))
    return true;
  return Fail("wev's window never came up: " + Slurp(dir_ + "/mutter.log").substr(0, 2000));
}
