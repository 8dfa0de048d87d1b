// Typing through the compositor's virtual keyboard: a headless sway (run as
// an unprivileged user, since sway refuses root) with `wev` focused, the
// wayland backend typing into it, and wev's record of the characters it
// received read back. Under the us and de layouts of the compositor, whose
// own layout must not matter: the backend brings its keymap.
#include "platform/inject.h"
#include "platform/wayland/wayland_backend.h"
#include "tests/inject/x_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

bool OnPath(const char *program) {
  std::string cmd = std::string("command -v ") + program + " >/dev/null 2>&1";
  return system(cmd.c_str()) == 0;
}

// Headless sway with wev as its only window, in a runtime folder of its own.
class Sway {
public:
  ~Sway() {
    if (pid_ > 0)
      KillChild(pid_);
    // KEEP_SWAY=1 keeps the folder (wev.log, sway.log) for a look.
    if (!dir_.empty() && !getenv("KEEP_SWAY"))
      system(("rm -rf '" + dir_ + "'").c_str());
  }

  bool Start(const char *layout) {
    const bool root = getuid() == 0;
    char tmpl[] = "/tmp/vantrel-sway-XXXXXX";
    if (!mkdtemp(tmpl))
      return Fail("no temporary folder");
    dir_ = tmpl;
    const uid_t uid = root ? 65534 : getuid();
    const gid_t gid = root ? 65534 : getgid();
    if (chown(dir_.c_str(), uid, gid) != 0 || chmod(dir_.c_str(), 0700) != 0)
      return Fail("the runtime folder cannot be given to the compositor's user");
    std::ofstream(dir_ + "/config")
        << "output HEADLESS-1 resolution 800x600\n"
        << "exec stdbuf -oL wev > " << dir_ << "/wev.log 2>&1\n";
    chown((dir_ + "/config").c_str(), uid, gid);
    pid_ = fork();
    if (pid_ == 0) {
      std::string runtime = "XDG_RUNTIME_DIR=" + dir_, home = "HOME=" + dir_,
                  xkb = std::string("XKB_DEFAULT_LAYOUT=") + layout, cfg = dir_ + "/config";
      std::string log = dir_ + "/sway.log";
      freopen(log.c_str(), "w", stderr);
      freopen("/dev/null", "w", stdout);
      const char *env[] = {runtime.c_str(), home.c_str(), xkb.c_str(),
                           "WLR_BACKENDS=headless", "WLR_RENDERER=pixman",
                           "WLR_LIBINPUT_NO_DEVICES=1", "PATH=/usr/bin:/bin", nullptr};
      if (root)
        execle("/usr/bin/setpriv", "setpriv", "--reuid=65534", "--regid=65534",
               "--clear-groups", "sway", "-c", cfg.c_str(), nullptr, env);
      else
        execle("/usr/bin/sway", "sway", "-c", cfg.c_str(), nullptr, env);
      _exit(127);
    }
    // wev's window is up once it is activated (the seat has no keyboard
    // until the backend brings one).
    for (int i = 0; i < 300; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (Log().find("activated") != std::string::npos)
        return FindSocket();
      int status;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return Fail("sway ended: " + Slurp(dir_ + "/sway.log").substr(0, 2000));
      }
    }
    return Fail("wev's window never came up: " + Slurp(dir_ + "/sway.log").substr(0, 2000));
  }

  // Waits up to 30 s for wev to have the keyboard's focus.
  bool WaitForKeyboard() const {
    for (int i = 0; i < 300; ++i) {
      if (Log().find("wl_keyboard] enter") != std::string::npos)
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  // The characters wev read from key presses, in order.
  std::u32string Typed() const {
    std::u32string out;
    std::istringstream in(Log());
    std::string line;
    bool pressed = false;
    while (std::getline(in, line)) {
      if (line.find("wl_keyboard] key:") != std::string::npos) {
        pressed = line.find("state: 1") != std::string::npos;
        continue;
      }
      size_t at = line.find("utf8: '");
      if (!pressed || at == std::string::npos)
        continue;
      pressed = false;
      std::string text = line.substr(at + 7);
      text = text.substr(0, text.rfind('\''));
      out += DecodeUtf8(text);
    }
    return out;
  }

  // Waits until n characters arrived (or nothing more arrives for 10 s).
  std::u32string Read(size_t n) const {
    std::u32string got = Typed();
    for (int quiet = 0; got.size() < n && quiet < 100; ++quiet) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      std::u32string now = Typed();
      if (now.size() != got.size())
        quiet = 0;
      got = now;
    }
    return got;
  }

  const std::string &socket() const { return socket_; }
  const std::string &why() const { return why_; }

private:
  bool Fail(const std::string &why) {
    why_ = why;
    return false;
  }
  static std::string Slurp(const std::string &path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string Log() const { return Slurp(dir_ + "/wev.log"); }
  bool FindSocket() {
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

  pid_t pid_ = -1;
  std::string dir_, socket_, why_;
};

// Types text through the backend, in calls of a few characters as the key
// logic makes them.
void TypeText(const InjectOps *ops, const std::u32string &text) {
  for (size_t i = 0; i < text.size(); i += 3) {
    std::vector<UINT> units;
    for (size_t j = i; j < text.size() && j < i + 3; ++j) {
      char32_t c = text[j];
      if (c >= 0x10000) {
        units.push_back(0xD800 + ((c - 0x10000) >> 10));
        units.push_back(0xDC00 + ((c - 0x10000) & 0x3FF));
      } else {
        units.push_back(c);
      }
    }
    ASSERT_TRUE(ops->postKeybdMessage(ops->self, reinterpret_cast<HWND>(-1), 0, 0,
                                      static_cast<UINT>(units.size()), nullptr, units.data()));
  }
}

class WaylandTyping : public ::testing::TestWithParam<const char *> {};

TEST_P(WaylandTyping, MixedTextArrivesExactlyWhateverTheCompositorsLayout) {
  if (!OnPath("sway") || !OnPath("wev") || !OnPath("stdbuf"))
    GTEST_SKIP() << "skipped: sway, wev or stdbuf is not installed";
  Sway sway;
  if (!sway.Start(GetParam()))
    GTEST_SKIP() << "skipped: headless sway cannot run here: " << sway.why();
  setenv("WAYLAND_DISPLAY", sway.socket().c_str(), 1);
  std::string why;
  const InjectOps *ops = WaylandInjectOpen(&why);
  unsetenv("WAYLAND_DISPLAY");
  ASSERT_NE(ops, nullptr) << why;
  ASSERT_TRUE(sway.WaitForKeyboard()) << "wev never got the virtual keyboard's focus";

  // ASCII, accents, ß € Ω Ж, a character beyond the first plane, and more
  // characters than the backend has spare keys, so that spares are lent
  // again; then the same stress text as the X11 backend's.
  std::u32string text = U"Hello, World! zy@\"{}|~ äöü ÄÖÜ ß é è ê ç € Ω Ж жук 😀 ";
  for (char32_t c = 0x3B1; c <= 0x3C9; ++c) // the Greek small letters
    text.push_back(c);
  text += MixedStressText(400);
  // More new characters than there are spare keys: the ones used longest ago
  // are lent again, each after it settled.
  for (char32_t c = 0x4E00; c < 0x4E00 + 300; ++c)
    text.push_back(c);
  text += U" end";
  TypeText(ops, text);
  // A virtual key: Shift held around a letter, and Enter.
  ops->keybdEvent(ops->self, VK_SHIFT, 0, 0, 0);
  ops->keybdEvent(ops->self, 'Q', 0, 0, 0);
  ops->keybdEvent(ops->self, 'Q', 0, KEYEVENTF_KEYUP, 0);
  ops->keybdEvent(ops->self, VK_SHIFT, 0, KEYEVENTF_KEYUP, 0);
  text += U"Q";
  const std::u32string got = sway.Read(text.size());
  EXPECT_EQ(got.size(), text.size());
  EXPECT_TRUE(got == text) << "first difference at "
                           << std::mismatch(got.begin(), got.end(), text.begin(), text.end()).first -
                                  got.begin();
  ops->close(ops->self);
}

INSTANTIATE_TEST_SUITE_P(Layouts, WaylandTyping, ::testing::Values("us", "de"));

} // namespace
