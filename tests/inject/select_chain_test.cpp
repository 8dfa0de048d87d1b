// The choice of backend for each kind of session: DISPLAY, WAYLAND_DISPLAY /
// XDG_SESSION_TYPE, a compositor offering the virtual keyboard, a writable
// /dev/uinput, and what VANTREL_INJECT names. The backends are stand-ins that
// open or decline as each case says, so no device or display is needed.
#include "platform/inject/select_chain.h"
#include "tests/support/trace_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// What the stand-ins offer, and which of them were asked.
struct Offer {
  bool compositorKeyboard = false;
  bool portalKeyboard = false; // the session bus offers the RemoteDesktop portal
  bool uinputWritable = false;
  bool xServer = true; // the display in DISPLAY answers
  bool logFile = true;
};
Offer gOffer;
std::vector<std::string> gAsked;

InjectOps MakeOps(const char *name) { return InjectOps{name, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}; }
const InjectOps kWayland = MakeOps("wayland");
const InjectOps kUinput = MakeOps("uinput");
const InjectOps kPortal = MakeOps("portal");
const InjectOps kXTest = MakeOps("xtest");
const InjectOps kLog = MakeOps("log");

const InjectOps *FakeWayland(const InjectSession &s, std::string &why) {
  gAsked.push_back("wayland");
  if (s.waylandDisplay.empty() || !gOffer.compositorKeyboard) {
    why = "no virtual keyboard offered";
    return nullptr;
  }
  return &kWayland;
}
const InjectOps *FakeUinput(std::string &why) {
  gAsked.push_back("uinput");
  if (!gOffer.uinputWritable) {
    why = "/dev/uinput cannot be opened for writing: Permission denied";
    return nullptr;
  }
  return &kUinput;
}
const InjectOps *FakeXTest(const char *display, std::string &why) {
  gAsked.push_back(std::string("xtest ") + display);
  if (!gOffer.xServer) {
    why = "display cannot be opened";
    return nullptr;
  }
  return &kXTest;
}
const InjectOps *FakeLog(const std::string &path, std::string &why) {
  gAsked.push_back("log " + path);
  if (!path.empty() && !gOffer.logFile) {
    why = "cannot be opened";
    return nullptr;
  }
  return &kLog;
}
const InjectOps *FakePortal(std::string &why) {
  gAsked.push_back("portal");
  if (!gOffer.portalKeyboard) {
    why = "the session bus offers no RemoteDesktop portal";
    return nullptr;
  }
  return &kPortal;
}
const InjectOpeners kFakes{FakeWayland, FakeUinput, FakeXTest, FakeLog, FakePortal};

class SelectChainTest : public ::testing::Test {
protected:
  void SetUp() override {
    gOffer = Offer{};
    gAsked.clear();
  }
  // Chooses for the session, keeping what stderr said.
  InjectChoice Choose(const InjectSession &s) {
    testing::internal::CaptureStderr();
    InjectChoice c = ChooseInjectBackend(s, kFakes);
    stderr_ = testing::internal::GetCapturedStderr();
    return c;
  }
  static InjectSession X11() { return {"", ":0", "", "x11"}; }
  static InjectSession Wayland() { return {"", ":1", "wayland-0", "wayland"}; }
  testtrace::TraceLines trace_;
  std::string stderr_;
};

TEST_F(SelectChainTest, X11SessionsTypeThroughUinputWhenWritableElseXTest) {
  InjectChoice c = Choose(X11());
  EXPECT_EQ(c.ops, &kXTest);
  EXPECT_EQ(c.reach, InjectReach::kWindows);
  EXPECT_EQ(gAsked, (std::vector<std::string>{"wayland", "uinput", "xtest :0"}));
  EXPECT_GT(trace_.CountContaining("backend wayland declined"), 0);
  EXPECT_GT(trace_.CountContaining("backend uinput declined: /dev/uinput cannot be opened"), 0);
  EXPECT_GT(trace_.CountContaining("using backend xtest"), 0);
  EXPECT_EQ(stderr_, ""); // nothing was named: declining is no news

  gOffer.uinputWritable = true;
  c = Choose(X11());
  EXPECT_EQ(c.ops, &kUinput);
  EXPECT_EQ(c.reach, InjectReach::kWindows);

  // An X11 session whose X server is gone, and no DISPLAY at all (the
  // console): the log, which reaches no window.
  gOffer.uinputWritable = false;
  gOffer.xServer = false;
  c = Choose(X11());
  EXPECT_EQ(c.ops, &kLog);
  EXPECT_EQ(c.reach, InjectReach::kNowhere);
  gAsked.clear();
  c = Choose({"", "", "", "tty"});
  EXPECT_EQ(c.ops, &kLog);
  EXPECT_EQ(gAsked, (std::vector<std::string>{"wayland", "uinput", "log "}));
  EXPECT_GT(trace_.CountContaining("backend xtest declined: DISPLAY is not set"), 0);
}

TEST_F(SelectChainTest, WaylandSessionsNeverFallToXTestUnlessItIsNamed) {
  // The compositor offers the virtual keyboard: it comes first.
  gOffer.compositorKeyboard = true;
  gOffer.uinputWritable = true;
  InjectChoice c = Choose(Wayland());
  EXPECT_EQ(c.ops, &kWayland);
  EXPECT_EQ(c.reach, InjectReach::kWindows);
  EXPECT_EQ(gAsked, (std::vector<std::string>{"wayland"}));

  gOffer.compositorKeyboard = false;
  c = Choose(Wayland());
  EXPECT_EQ(c.ops, &kUinput);

  // GNOME and KDE: no virtual keyboard, but the desktop's portal, which
  // comes before uinput (no root-installed rule needed).
  gOffer.portalKeyboard = true;
  c = Choose(Wayland());
  EXPECT_EQ(c.ops, &kPortal);
  EXPECT_EQ(c.reach, InjectReach::kWindows);
  // In an X11 session it is passed over unless named.
  gAsked.clear();
  c = Choose(X11());
  EXPECT_EQ(c.ops, &kUinput);
  EXPECT_EQ(gAsked, (std::vector<std::string>{"wayland", "uinput"}));
  EXPECT_GT(trace_.CountContaining("backend portal declined: this is not a Wayland session"), 0);
  c = Choose({"portal", ":0", "", "x11"});
  EXPECT_EQ(c.ops, &kPortal);
  EXPECT_TRUE(c.named);
  gOffer.portalKeyboard = false;

  // Neither: Xwayland's DISPLAY is there but xtest is passed over, and the
  // log says plainly that nothing reaches a window.
  gOffer.uinputWritable = false;
  gAsked.clear();
  c = Choose(Wayland());
  EXPECT_EQ(c.ops, &kLog);
  EXPECT_EQ(c.reach, InjectReach::kNowhere);
  EXPECT_EQ(gAsked, (std::vector<std::string>{"wayland", "portal", "uinput", "log "}));
  EXPECT_GT(trace_.CountContaining("backend xtest declined: this is a Wayland session"), 0);
  EXPECT_GT(trace_.CountContaining("reach no window"), 0);

  // XDG_SESSION_TYPE alone marks the session too (WAYLAND_DISPLAY unset).
  gAsked.clear();
  c = Choose({"", ":1", "", "wayland"});
  EXPECT_EQ(c.ops, &kLog);

  // Named, xtest is used, and known to reach Xwayland's windows only.
  c = Choose({"xtest", ":1", "wayland-0", "wayland"});
  EXPECT_EQ(c.ops, &kXTest);
  EXPECT_EQ(c.reach, InjectReach::kXwaylandOnly);
  EXPECT_TRUE(c.named);
  EXPECT_GT(trace_.CountContaining("only X11 programs under Xwayland"), 0);
}

TEST_F(SelectChainTest, ANamedBackendThatCannotWorkIsReportedOnStderr) {
  // Named uinput, not writable: stderr names the reason and the fallback;
  // the walk goes on from uinput's row (wayland is not asked).
  InjectChoice c = Choose({"uinput", ":0", "", "x11"});
  EXPECT_EQ(c.ops, &kXTest);
  EXPECT_FALSE(c.named); // typing through another than the one named
  EXPECT_EQ(gAsked, (std::vector<std::string>{"uinput", "xtest :0"}));
  EXPECT_NE(stderr_.find("VANTREL_INJECT=uinput cannot work: /dev/uinput cannot be opened"),
            std::string::npos)
      << stderr_;
  EXPECT_NE(stderr_.find("typing through xtest instead"), std::string::npos) << stderr_;

  c = Choose({"wayland", "", "", ""});
  EXPECT_EQ(c.ops, &kLog);
  EXPECT_NE(stderr_.find("VANTREL_INJECT=wayland cannot work"), std::string::npos) << stderr_;

  c = Choose({"xtest", "", "wayland-0", ""});
  EXPECT_EQ(c.ops, &kLog);
  EXPECT_NE(stderr_.find("VANTREL_INJECT=xtest cannot work: DISPLAY is not set"),
            std::string::npos)
      << stderr_;

  // A log file that cannot be opened: stdout's log all the same.
  gOffer.logFile = false;
  gAsked.clear();
  c = Choose({"log:/x/y.log", ":0", "", "x11"});
  EXPECT_EQ(c.ops, &kLog);
  EXPECT_EQ(c.logPath, "");
  EXPECT_EQ(gAsked, (std::vector<std::string>{"log /x/y.log", "log "}));

  // A name nobody knows: said on stderr, and the default chain follows.
  c = Choose({"xdotool", ":0", "", "x11"});
  EXPECT_EQ(c.ops, &kXTest);
  EXPECT_NE(stderr_.find("VANTREL_INJECT=xdotool is not known"), std::string::npos) << stderr_;
}

} // namespace
