// The real vantrel beside a system tray on its own Xvfb: a minimal XEmbed
// tray (the selection owner that icons dock with) stands in for the
// desktop's. Without it, --hidden still shows the window; with it, the icon
// docks, --hidden keeps the window hidden, a second launch shows it, the
// window's close button only hides it again, and --quit still ends the
// program. Skipped when Xvfb is missing.
#include "app_test_env.h"
#include "find_x_window.h"
#include "tests/inject/x_session.h"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;
using namespace testsupport;

namespace {

// A system tray as small as the XEmbed tray protocol allows: it owns the
// screen's tray selection, announces itself, and takes each dock request by
// reparenting the icon's window into its own.
class XEmbedTray {
public:
  bool Start(const std::string &display) {
    d_ = XOpenDisplay(display.c_str());
    if (!d_)
      return false;
    const Window root = DefaultRootWindow(d_);
    window_ = XCreateSimpleWindow(d_, root, 0, 0, 200, 40, 0, 0, 0);
    const Atom selection = XInternAtom(d_, "_NET_SYSTEM_TRAY_S0", False);
    opcode_ = XInternAtom(d_, "_NET_SYSTEM_TRAY_OPCODE", False);
    const Atom orientation = XInternAtom(d_, "_NET_SYSTEM_TRAY_ORIENTATION", False);
    long horizontal = 0;
    XChangeProperty(d_, window_, orientation, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char *>(&horizontal), 1);
    XMapWindow(d_, window_);
    XSetSelectionOwner(d_, selection, window_, CurrentTime);
    if (XGetSelectionOwner(d_, selection) != window_)
      return false;
    XEvent manager = {};
    manager.xclient.type = ClientMessage;
    manager.xclient.window = root;
    manager.xclient.message_type = XInternAtom(d_, "MANAGER", False);
    manager.xclient.format = 32;
    manager.xclient.data.l[0] = CurrentTime;
    manager.xclient.data.l[1] = static_cast<long>(selection);
    manager.xclient.data.l[2] = static_cast<long>(window_);
    XSendEvent(d_, root, False, StructureNotifyMask, &manager);
    XFlush(d_);
    thread_ = std::thread([this] { Serve(); });
    return true;
  }
  ~XEmbedTray() {
    stop_ = true;
    if (thread_.joinable())
      thread_.join();
    if (d_)
      XCloseDisplay(d_);
  }
  int docked() const { return docked_.load(); }

private:
  void Serve() {
    pollfd fd = {ConnectionNumber(d_), POLLIN, 0};
    while (!stop_) {
      while (XPending(d_)) {
        XEvent e;
        XNextEvent(d_, &e);
        // SYSTEM_TRAY_REQUEST_DOCK (opcode 0) names the icon's window.
        if (e.type == ClientMessage && e.xclient.message_type == opcode_ &&
            e.xclient.data.l[1] == 0) {
          const Window icon = static_cast<Window>(e.xclient.data.l[2]);
          XReparentWindow(d_, icon, window_, 0, 0);
          XMapWindow(d_, icon);
          XFlush(d_);
          ++docked_;
        }
      }
      poll(&fd, 1, 100);
    }
  }

  Display *d_ = nullptr;
  Window window_ = 0;
  Atom opcode_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> docked_{0};
};

std::string ReadText(const std::string &path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The window manager's close button, as the program hears it.
void AskToClose(Display *d, Window w) {
  XEvent close = {};
  close.xclient.type = ClientMessage;
  close.xclient.window = w;
  close.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  close.xclient.format = 32;
  close.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
  close.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, w, False, NoEventMask, &close);
  XFlush(d);
}

TEST(TrayOnX11, HiddenStartCloseButtonAndQuitWithAndWithoutATray) {
  XvfbServer xvfb;
  if (!xvfb.Start())
    GTEST_SKIP() << "no Xvfb: " << xvfb.why();
  ProgramSandbox box("tray");
  PresetProgramRun(box, u"COM3:");
  std::vector<std::string> env = ProgramEnvironment(box.path());
  env.push_back("QT_QPA_PLATFORM=xcb");
  env.push_back("DISPLAY=" + xvfb.display());
  const std::string trace = box.path() + "/trace.log";
  Display *d = XOpenDisplay(xvfb.display().c_str());
  ASSERT_NE(d, nullptr);
  auto window = [&] { return FindViewableWindow(d, DefaultRootWindow(d), "Vantrel"); };

  {
    // No tray: --hidden shows the window all the same, and closing it ends
    // the program.
    Child vantrel({VANTREL_EXE, "--hidden"}, env, box.path() + "/first.out");
    ASSERT_TRUE(WaitFor([&] { return window() != 0; }, 20s)) << ReadText(trace);
    EXPECT_NE(ReadText(trace).find("the desktop has no system tray"), std::string::npos);
    AskToClose(d, window());
    EXPECT_EQ(vantrel.Wait(20s), 0) << ReadText(trace);
  }

  XEmbedTray tray;
  ASSERT_TRUE(tray.Start(xvfb.display()));
  Child vantrel({VANTREL_EXE, "--hidden"}, env, box.path() + "/second.out");
  // The icon docks after the main window has been made, hidden.
  ASSERT_TRUE(WaitFor([&] { return tray.docked() > 0; }, 20s)) << ReadText(trace);
  EXPECT_EQ(window(), 0u) << "started hidden in the tray";

  // A second launch brings the window up.
  Child again({VANTREL_EXE}, env, box.path() + "/again.out");
  EXPECT_EQ(again.Wait(20s), 0);
  ASSERT_TRUE(WaitFor([&] { return window() != 0; }, 20s)) << ReadText(trace);

  // The close button hides it; the program goes on.
  AskToClose(d, window());
  ASSERT_TRUE(WaitFor([&] { return window() == 0; }, 20s));
  // Still running: a launch hands over to it and ends (a launch that found
  // none would stay as the program).
  Child third({VANTREL_EXE}, env, box.path() + "/third.out");
  EXPECT_EQ(third.Wait(20s), 0) << "the close button must not end the program with a tray";
  ASSERT_TRUE(WaitFor([&] { return window() != 0; }, 20s)) << ReadText(trace);

  Child quit({VANTREL_EXE, "--quit"}, env, box.path() + "/quit.out");
  EXPECT_EQ(quit.Wait(20s), 0);
  EXPECT_EQ(vantrel.Wait(20s), 0) << ReadText(trace);
  XCloseDisplay(d);
}

} // namespace
