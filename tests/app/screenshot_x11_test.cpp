// The real vantrel on its own Xvfb: the main window as drawn in each phase
// (picture, texts, connect button), the emulated keyboard's sentence
// arriving in a real X client through xtest, the box that tells of a
// missing data folder, and the window's class. Skipped when Xvfb is missing.
#include "app_test_env.h"
#include "find_x_window.h"
#include "tests/inject/x_session.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using namespace testsupport;

namespace {

struct Shot {
  int width = 0, height = 0;
  std::vector<uint32_t> rgb; // 0xRRGGBB
  uint32_t At(int x, int y) const { return rgb[static_cast<size_t>(y) * width + x]; }
};

bool Grab(const std::string &display, Shot &shot) {
  Display *d = XOpenDisplay(display.c_str());
  if (!d)
    return false;
  Window w = FindViewableWindow(d, DefaultRootWindow(d), "Vantrel");
  XWindowAttributes a;
  bool ok = w && XGetWindowAttributes(d, w, &a);
  if (ok) {
    XImage *image = XGetImage(d, w, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
    ok = image != nullptr;
    if (ok) {
      shot.width = a.width;
      shot.height = a.height;
      shot.rgb.resize(static_cast<size_t>(a.width) * a.height);
      for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
          shot.rgb[static_cast<size_t>(y) * a.width + x] =
              static_cast<uint32_t>(XGetPixel(image, x, y)) & 0xFFFFFF;
      XDestroyImage(image);
    }
  }
  XCloseDisplay(d);
  return ok;
}

int Count(const Shot &s, int x0, int y0, int x1, int y1, const std::function<bool(int, int, int)> &f) {
  int n = 0;
  for (int y = std::max(0, y0); y < std::min(s.height, y1); ++y)
    for (int x = std::max(0, x0); x < std::min(s.width, x1); ++x) {
      uint32_t p = s.At(x, y);
      n += f(p >> 16, (p >> 8) & 0xFF, p & 0xFF);
    }
  return n;
}

bool Fabric(int r, int g, int b) { return b > r + 30 && b < 170 && g < 130; }
bool Ink(int r, int g, int b) { return r < 110 && g < 110 && b < 110; }

pid_t Spawn(const std::vector<std::string> &args, const std::vector<std::string> &env) {
  pid_t pid = fork();
  if (pid == 0) {
    unsetenv("QT_QPA_PLATFORM");
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    ExecWithEnvironment(args, env);
  }
  return pid;
}

int WaitExit(pid_t pid, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    std::this_thread::sleep_for(20ms);
  }
  KillChild(pid);
  return -1;
}

TEST(OnX11, WindowInEachPhaseAndTypingIntoAnXClient) {
  XvfbServer xvfb;
  if (!xvfb.Start())
    GTEST_SKIP() << "no Xvfb: " << xvfb.why();
  ProgramSandbox box;
  PresetProgramRun(box, u"COM4:");
  const std::string trace = box.path() + "/trace.log";
  const std::vector<std::string> env = {
      "DISPLAY=" + xvfb.display(),          "VANTREL_ROOT=" + box.path(),
      "VANTREL_REGISTRY=" + box.path() + "/registry.db",
      "VANTREL_DEVICES=" + box.path() + "/dev", "VANTREL_INJECT=xtest",
      "VANTREL_TRACE=" + trace,              "XDG_RUNTIME_DIR=" + box.path()};

  pid_t kbd = Spawn({VANTREL_KBD_EXE, "--port", "COM4", "--devices", box.path() + "/dev",
                     "--type", "Hello world", "--type-delay", "4000", "--key-interval", "50"},
                    env);
  ASSERT_TRUE(WaitFor([&] { return fs::exists(box.path() + "/dev/COM4"); }, 5s));
  pid_t app = Spawn({VANTREL_EXE}, env);

  Shot idle;
  ASSERT_TRUE(WaitFor([&] { return ReadFile(trace).find("Connect button: Connect") !=
                                       std::string::npos && Grab(xvfb.display(), idle); },
                      20s));
  std::this_thread::sleep_for(500ms);
  ASSERT_TRUE(Grab(xvfb.display(), idle));
  const int w = idle.width, h = idle.height, unit = h / 6;
  // The keyboard picture at the top, centred.
  EXPECT_GT(Count(idle, w / 4, 5, 3 * w / 4, 100, Fabric), 2000);
  EXPECT_EQ(Count(idle, 0, h / 2, w, h, Fabric), 0);
  // Text in the lower half, outside the button.
  EXPECT_GT(Count(idle, 0, 5 * unit + 2, w, h, Ink), 30);
  // The button: a filled face with its caption.
  EXPECT_GT(Count(idle, 10, 4 * unit + 2, w - 10, 5 * unit - 2,
                  [](int r, int g, int b) { return r < 250 || g < 250 || b < 250; }),
            (w - 20) * (unit - 4) / 2);
  EXPECT_GT(Count(idle, 10, 4 * unit, w - 10, 5 * unit, Ink), 10);

  // A second launch asks the running one to connect; the emulator starts
  // typing four seconds after the handshake, once the recording client has
  // the focus (it opens over the window, so the screenshots come first).
  pid_t connect = Spawn({VANTREL_EXE, "--connect"}, env);
  EXPECT_EQ(WaitExit(connect, 10s), 0);
  ASSERT_TRUE(WaitFor([&] { return ReadFile(trace).find("Connect button: Disconnect") !=
                                   std::string::npos; },
                      20s))
      << ReadFile(trace);
  std::this_thread::sleep_for(300ms);
  Shot connected;
  ASSERT_TRUE(Grab(xvfb.display(), connected));
  ASSERT_EQ(connected.width, w);
  // The caption changed, the picture did not.
  int changed = 0;
  for (int y = 4 * unit; y < 5 * unit; ++y)
    for (int x = 10; x < w - 10; ++x)
      changed += connected.At(x, y) != idle.At(x, y);
  EXPECT_GT(changed, 20);
  EXPECT_GT(Count(connected, w / 4, 5, 3 * w / 4, 100, Fabric), 2000);

  Recorder recorder;
  ASSERT_TRUE(recorder.Start(xvfb.display()));
  EXPECT_EQ(recorder.Read(11, 10000), U"Hello world");

  pid_t quit = Spawn({VANTREL_EXE, "--quit"}, env);
  EXPECT_EQ(WaitExit(quit, 10s), 0);
  EXPECT_EQ(WaitExit(app, 15s), 0);
  KillChild(kbd);
}

TEST(OnX11, AMissingDataFolderIsToldInABoxThatAQuitSignalEnds) {
  XvfbServer xvfb;
  if (!xvfb.Start())
    GTEST_SKIP() << "no Xvfb: " << xvfb.why();
  ProgramSandbox box;
  const std::vector<std::string> env = {
      "DISPLAY=" + xvfb.display(), "VANTREL_ROOT=" + box.path() + "/nonexistent",
      "VANTREL_REGISTRY=" + box.path() + "/registry.db", "XDG_RUNTIME_DIR=" + box.path()};
  pid_t app = Spawn({VANTREL_EXE}, env);
  // The box, titled as the program is: no main window comes before it.
  ASSERT_TRUE(WaitFor(
      [&] {
        Display *d = XOpenDisplay(xvfb.display().c_str());
        const bool shown = d && FindViewableWindow(d, DefaultRootWindow(d), "Vantrel");
        if (d)
          XCloseDisplay(d);
        return shown;
      },
      20s));
  kill(app, SIGTERM);
  EXPECT_EQ(WaitExit(app, 10s), 1);
}

// The main window's class is the desktop entry's id, so the desktop matches
// the window to the entry (StartupWMClass), its icon and its name.
TEST(OnX11, TheWindowsClassIsTheDesktopEntrysId) {
  XvfbServer xvfb;
  if (!xvfb.Start())
    GTEST_SKIP() << "no Xvfb: " << xvfb.why();
  ProgramSandbox box;
  PresetProgramRun(box, u"COM4:");
  const std::vector<std::string> env = {
      "DISPLAY=" + xvfb.display(), "VANTREL_ROOT=" + box.path(),
      "VANTREL_REGISTRY=" + box.path() + "/registry.db", "VANTREL_DEVICES=" + box.path() + "/dev",
      "VANTREL_INJECT=log:" + box.path() + "/inject.log", "XDG_RUNTIME_DIR=" + box.path()};
  pid_t app = Spawn({VANTREL_EXE}, env);
  std::string instance, cls;
  WaitFor(
      [&] {
        Display *d = XOpenDisplay(xvfb.display().c_str());
        if (!d)
          return false;
        XClassHint hint = {};
        Window window = FindViewableWindow(d, DefaultRootWindow(d), "Vantrel");
        if (window && XGetClassHint(d, window, &hint)) {
          instance = hint.res_name ? hint.res_name : "";
          cls = hint.res_class ? hint.res_class : "";
          XFree(hint.res_name);
          XFree(hint.res_class);
        }
        XCloseDisplay(d);
        return !cls.empty();
      },
      20s);
  EXPECT_EQ(cls, "org.vantrel.Vantrel");
  EXPECT_EQ(instance, "vantrel");
  pid_t quit = Spawn({VANTREL_EXE, "--quit"}, env);
  EXPECT_EQ(WaitExit(quit, 10s), 0);
  EXPECT_EQ(WaitExit(app, 15s), 0);
}

} // namespace
