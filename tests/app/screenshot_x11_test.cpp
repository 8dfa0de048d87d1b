// The real vantrel on its own Xvfb: the main window as drawn in each phase
// (picture, texts, connect button), the emulated keyboard's sentence
// arriving in a real X client through xtest, the box that tells of a
// missing data folder, and the window's class. Skipped when Xvfb is missing.
#include "app_test_env.h"
#include "common/settings_store.h"
#include "find_x_window.h"
#include "tests/inject/x_session.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <regex>
#include <functional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using namespace testsupport;

namespace {

struct Shot {
  int x = 0, y = 0; // the window's place on the screen
  int width = 0, height = 0;
  // The outermost window around it (the window manager's frame, or the
  // window itself without one), on the screen.
  int frameX = 0, frameY = 0, frameWidth = 0, frameHeight = 0;
  std::vector<uint32_t> rgb; // 0xRRGGBB
  uint32_t At(int x, int y) const { return rgb[static_cast<size_t>(y) * width + x]; }
};

int gXErrors = 0;
int CountXError(Display *, XErrorEvent *) {
  ++gXErrors;
  return 0;
}

// The picture of the main window; false when there is none, or when the
// window is not wholly on the screen (X cannot read the part off it).
bool Grab(const std::string &display, Shot &shot) {
  Display *d = XOpenDisplay(display.c_str());
  if (!d)
    return false;
  XSetErrorHandler(CountXError);
  gXErrors = 0;
  Window w = FindViewableWindow(d, DefaultRootWindow(d), "Vantrel");
  XWindowAttributes a;
  bool ok = w && XGetWindowAttributes(d, w, &a);
  if (ok) {
    XImage *image = XGetImage(d, w, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
    XSync(d, False);
    ok = image != nullptr && gXErrors == 0;
    if (image && !ok)
      XDestroyImage(image);
    if (ok) {
      Window child;
      XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &shot.x, &shot.y, &child);
      Window frame = w, root = 0, parent = 0, *children = nullptr;
      unsigned count = 0;
      while (XQueryTree(d, frame, &root, &parent, &children, &count) && parent != root) {
        if (children)
          XFree(children);
        children = nullptr;
        frame = parent;
      }
      if (children)
        XFree(children);
      XWindowAttributes f;
      XGetWindowAttributes(d, frame, &f);
      shot.frameX = f.x, shot.frameY = f.y, shot.frameWidth = f.width, shot.frameHeight = f.height;
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

// The environment of the program run on xvfb from box: its data, settings,
// ports and runtime folder in the box, typing through `inject`, tracing
// into trace (none when empty).
std::vector<std::string> ProgramEnv(const XvfbServer &xvfb, const ProgramSandbox &box,
                                    const std::string &inject, const std::string &trace) {
  std::vector<std::string> env = {"DISPLAY=" + xvfb.display(),
                                  "VANTREL_ROOT=" + box.path(),
                                  "VANTREL_REGISTRY=" + box.path() + "/registry.db",
                                  "VANTREL_DEVICES=" + box.path() + "/dev",
                                  "VANTREL_INJECT=" + inject,
                                  "XDG_RUNTIME_DIR=" + box.path()};
  if (!trace.empty())
    env.push_back("VANTREL_TRACE=" + trace);
  return env;
}

// The last "Connect button at X,Y WxH in the client area of CWxCH" line of
// the trace: where the button is in shot's window, in the screen's pixels
// (scale times the program's units). The client area is the window's lower
// part, under the menu bar.
bool ButtonPlace(const std::string &trace, const Shot &shot, int scale, int *x, int *y, int *w,
                 int *h) {
  static const std::regex place(
      "Connect button at (-?\\d+),(-?\\d+) (\\d+)x(\\d+) in the client area of (\\d+)x(\\d+)");
  bool found = false;
  for (auto it = std::sregex_iterator(trace.begin(), trace.end(), place); it != std::sregex_iterator(); ++it) {
    const int menuBar = shot.height - std::stoi((*it)[6]) * scale;
    *x = std::stoi((*it)[1]) * scale, *y = std::stoi((*it)[2]) * scale + menuBar;
    *w = std::stoi((*it)[3]) * scale, *h = std::stoi((*it)[4]) * scale;
    found = true;
  }
  return found;
}

bool ClickAt(const std::string &display, int x, int y) {
  Display *d = XOpenDisplay(display.c_str());
  if (!d)
    return false;
  XTestFakeMotionEvent(d, -1, x, y, 0);
  XTestFakeButtonEvent(d, 1, True, 0);
  XTestFakeButtonEvent(d, 1, False, 0);
  XSync(d, False);
  XCloseDisplay(d);
  return true;
}

TEST(OnX11, WindowInEachPhaseAndTypingIntoAnXClient) {
  XvfbServer xvfb;
  if (!xvfb.Start())
    GTEST_SKIP() << "no Xvfb: " << xvfb.why();
  ProgramSandbox box;
  PresetProgramRun(box, u"COM4:");
  const std::string trace = box.path() + "/trace.log";
  const std::vector<std::string> env = ProgramEnv(xvfb, box, "xtest", trace);

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
  int bx = 0, by = 0, bw = 0, bh = 0;
  ASSERT_TRUE(ButtonPlace(ReadFile(trace), idle, 1, &bx, &by, &bw, &bh)) << ReadFile(trace);
  const int w = idle.width, h = idle.height;
  // The keyboard picture at the top, centred, above the button.
  EXPECT_GT(Count(idle, w / 4, 0, 3 * w / 4, by, Fabric), 2000);
  EXPECT_EQ(Count(idle, 0, by, w, h, Fabric), 0);
  // Text above and below the button, none painted under it.
  EXPECT_GT(Count(idle, 0, by + bh + 2, w, h, Ink), 30);
  EXPECT_GT(Count(idle, 0, 0, w, by - 2, Ink), 30);
  // The button lies in the window, of a desktop size, with its caption.
  EXPECT_TRUE(bx >= 0 && by >= 0 && bx + bw <= w && by + bh <= h) << bx << "," << by << " " << bw << "x" << bh;
  EXPECT_LT(bw, w * 3 / 4);
  EXPECT_LT(bh, 60);
  EXPECT_GT(Count(idle, bx, by, bx + bw, by + bh, Ink), 10);

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
  for (int y = by; y < by + bh; ++y)
    for (int x = 0; x < w; ++x)
      changed += connected.At(x, y) != idle.At(x, y);
  EXPECT_GT(changed, 20);
  EXPECT_GT(Count(connected, w / 4, 0, 3 * w / 4, by, Fabric), 2000);

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

// The person clicks Connect with the mouse; the keyboard then types a Space
// while Vantrel's window is still the active one. The Space must not press
// the button (which would disconnect the keyboard at once): the link stays
// connected, the trace tells that the keys were dropped and the window's
// status says so.
TEST(OnX11, ASpaceTypedAfterClickingConnectLeavesTheLinkConnected) {
  XvfbServer xvfb;
  if (!xvfb.Start())
    GTEST_SKIP() << "no Xvfb: " << xvfb.why();
  // As on a desktop: the window manager activates the window clicked.
  if (!xvfb.StartWindowManager())
    GTEST_SKIP() << xvfb.why();
  ProgramSandbox box;
  PresetProgramRun(box, u"COM4:");
  const std::string trace = box.path() + "/trace.log";
  const std::vector<std::string> env = ProgramEnv(xvfb, box, "xtest", trace);
  pid_t kbd = Spawn({VANTREL_KBD_EXE, "--port", "COM4", "--devices", box.path() + "/dev", "--type",
                     "  ", "--type-delay", "1500", "--key-interval", "300"},
                    env);
  ASSERT_TRUE(WaitFor([&] { return fs::exists(box.path() + "/dev/COM4"); }, 5s));
  pid_t app = Spawn({VANTREL_EXE}, env);
  int x = 0, y = 0, w = 0, h = 0;
  Shot placed; // where the window manager put the window
  ASSERT_TRUE(WaitFor([&] { return ReadFile(trace).find("Connect button: Connect") != std::string::npos &&
                                   Grab(xvfb.display(), placed); },
                      20s))
      << ReadFile(trace);
  std::this_thread::sleep_for(500ms); // shown and settled
  ASSERT_TRUE(Grab(xvfb.display(), placed));
  ASSERT_TRUE(ButtonPlace(ReadFile(trace), placed, 1, &x, &y, &w, &h)) << ReadFile(trace);
  ASSERT_TRUE(ClickAt(xvfb.display(), placed.x + x + w / 2, placed.y + y + h / 2));
  ASSERT_TRUE(WaitFor([&] { return ReadFile(trace).find("Connect button: Disconnect") != std::string::npos; },
                      20s))
      << ReadFile(trace);
  // Both Spaces come within two seconds of the handshake; the window's
  // status tells the person why nothing was typed.
  EXPECT_TRUE(WaitFor([&] { return ReadFile(trace).find("Keys dropped") != std::string::npos; }, 10s))
      << ReadFile(trace);
  EXPECT_TRUE(WaitFor([&] { return ReadFile(trace).find("Status: Keys are not typed into Vantrel's own windows") !=
                                   std::string::npos; },
                      10s))
      << ReadFile(trace);
  std::this_thread::sleep_for(2500ms);
  const std::string after = ReadFile(trace);
  const size_t connected = after.find("Connect button: Disconnect");
  EXPECT_EQ(after.find("Connect button: Connect\n", connected), std::string::npos) << after;

  pid_t quit = Spawn({VANTREL_EXE, "--quit"}, env);
  EXPECT_EQ(WaitExit(quit, 10s), 0);
  EXPECT_EQ(WaitExit(app, 15s), 0);
  KillChild(kbd);
}

// A desktop's dark theme, as its settings file gives it to the toolkit.
constexpr char kDarkTheme[] = "[Colors:Window]\nBackgroundNormal=49,54,59\nForegroundNormal=239,240,241\n"
                              "[Colors:View]\nBackgroundNormal=35,38,41\nForegroundNormal=239,240,241\n"
                              "[Colors:Button]\nBackgroundNormal=60,66,72\nForegroundNormal=239,240,241\n"
                              "[Colors:Selection]\nBackgroundNormal=61,174,233\nForegroundNormal=255,255,255\n";

// The main window on a 1280x800 screen: at scale 2 it lies on the screen
// whole, its button too; in a dark theme its painted background and texts
// are the theme's, not white and black.
TEST(OnX11, MainWindowFitsTheScreenAtScaleTwoAndFollowsADarkTheme) {
  struct Case {
    const char *name;
    std::vector<std::string> env;
    int scale;
    bool dark;
  };
  const Case cases[] = {
      {"scale 2", {"QT_SCALE_FACTOR=2"}, 2, false},
      {"dark", {"XDG_CURRENT_DESKTOP=KDE", "KDE_SESSION_VERSION=5", "QT_QPA_PLATFORMTHEME=kde"}, 1, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    XvfbServer xvfb;
    if (!xvfb.Start("1280x800x24"))
      GTEST_SKIP() << "no Xvfb: " << xvfb.why();
    // The window manager's frame and panel-free screen, as a desktop has.
    if (!xvfb.StartWindowManager())
      GTEST_SKIP() << xvfb.why();
    ProgramSandbox box;
    PresetProgramRun(box, u"COM4:");
    box.MakeFolder("config");
    {
      std::ofstream theme(box.path() + "/config/kdeglobals");
      theme << kDarkTheme;
    }
    const std::string trace = box.path() + "/trace.log";
    std::vector<std::string> env = ProgramEnv(xvfb, box, "log:" + box.path() + "/inject.log", trace);
    env.push_back("XDG_CONFIG_HOME=" + box.path() + "/config");
    env.insert(env.end(), c.env.begin(), c.env.end());
    pid_t app = Spawn({VANTREL_EXE}, env);
    int bx = 0, by = 0, bw = 0, bh = 0;
    Shot shot;
    // Shown, settled and wholly on the screen (else it cannot be read).
    const bool shown = WaitFor([&] { return Grab(xvfb.display(), shot) &&
                                            ButtonPlace(ReadFile(trace), shot, c.scale, &bx, &by, &bw, &bh); },
                               20s) &&
                       (std::this_thread::sleep_for(500ms), Grab(xvfb.display(), shot)) &&
                       ButtonPlace(ReadFile(trace), shot, c.scale, &bx, &by, &bw, &bh);
    if (!shown) {
      ADD_FAILURE() << "no main window wholly on the screen";
      kill(app, SIGTERM);
      WaitExit(app, 15s);
      continue;
    }
    EXPECT_TRUE(shot.x >= 0 && shot.y >= 0 && shot.x + shot.width <= 1280 && shot.y + shot.height <= 800)
        << shot.x << "," << shot.y << " " << shot.width << "x" << shot.height;
    // Its frame too, title bar and borders.
    EXPECT_TRUE(shot.frameX >= 0 && shot.frameY >= 0 && shot.frameX + shot.frameWidth <= 1280 &&
                shot.frameY + shot.frameHeight <= 800)
        << "frame " << shot.frameX << "," << shot.frameY << " " << shot.frameWidth << "x"
        << shot.frameHeight;
    EXPECT_TRUE(bx >= 0 && by >= 0 && bx + bw <= shot.width && by + bh <= shot.height)
        << bx << "," << by << " " << bw << "x" << bh;
    EXPECT_GT(shot.width, 200 * c.scale);
    if (c.dark) {
      // The background beside the button, and light text under it.
      EXPECT_EQ(shot.At(2, by + bh / 2), 0x31363Bu);
      EXPECT_GT(Count(shot, 0, by + bh + 2, shot.width, shot.height,
                      [](int r, int g, int b) { return r > 180 && g > 180 && b > 180; }),
                30);
      // No black text: nothing darker than the background.
      EXPECT_EQ(Count(shot, 0, by + bh + 2, shot.width, shot.height,
                      [](int r, int g, int b) { return r < 40 && g < 40 && b < 40; }),
                0);
    }
    kill(app, SIGTERM);
    EXPECT_EQ(WaitExit(app, 15s), 0);
  }
}

// A fresh installation (nothing stored, not even the language) under a
// window manager: once the window shows, the time-out the Options menu
// checks ("Keyboard Timeout" 1, "5 min") is the one the link runs with.
TEST(OnX11, OnAFreshInstallationTheTimeoutMenuAndTheLinkAgree) {
  XvfbServer xvfb;
  if (!xvfb.Start())
    GTEST_SKIP() << "no Xvfb: " << xvfb.why();
  if (!xvfb.StartWindowManager())
    GTEST_SKIP() << xvfb.why();
  ProgramSandbox box;
  for (const char *name : {"English.lang", "Intl English.kcod", "vtr.bmp", "vtr_wide.bmp"})
    box.CopyData(name, std::string("opt/Vantrel/") + name);
  box.MakeFolder("dev");
  const std::string trace = box.path() + "/trace.log";
  std::vector<std::string> env = ProgramEnv(xvfb, box, "log:" + box.path() + "/inject.log", trace);
  env.push_back("LC_ALL=en_US.UTF-8");
  pid_t app = Spawn({VANTREL_EXE}, env);
  Shot shot;
  ASSERT_TRUE(WaitFor([&] { return ReadFile(trace).find("Connect button: Connect") != std::string::npos &&
                                   Grab(xvfb.display(), shot); },
                      20s))
      << ReadFile(trace);
  EXPECT_NE(ReadFile(trace).find("No language detected"), std::string::npos);
  EXPECT_TRUE(WaitFor([] { return StoredSetting(u"Connection Timeout") == 300000; }, 10s))
      << StoredSetting(u"Connection Timeout");
  EXPECT_EQ(StoredSetting(u"Keyboard Timeout"), 1);
  pid_t quit = Spawn({VANTREL_EXE, "--quit"}, env);
  EXPECT_EQ(WaitExit(quit, 10s), 0);
  EXPECT_EQ(WaitExit(app, 15s), 0);
}

// The main window's class is the desktop entry's id, so the desktop matches
// the window to the entry (StartupWMClass), its icon and its name.
TEST(OnX11, TheWindowsClassIsTheDesktopEntrysId) {
  XvfbServer xvfb;
  if (!xvfb.Start())
    GTEST_SKIP() << "no Xvfb: " << xvfb.why();
  ProgramSandbox box;
  PresetProgramRun(box, u"COM4:");
  const std::vector<std::string> env = ProgramEnv(xvfb, box, "log:" + box.path() + "/inject.log", "");
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
