// Between the key logic's three calls and the installed backend: the guard
// that keeps keys from the program's own windows (and tells the program, so
// that the person hears why), and a backend chosen beside the start-up,
// which drops presses while the choice is under way and hears of a link
// that came up meanwhile.
#include "platform/core/window_toolkit.h"
#include "platform/inject.h"
#include "tests/support/portal_stand_in.h"
#include "tests/support/trace_lines.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

std::mutex gMutex;
std::vector<std::string> gForwarded; // what reached the backend
std::vector<bool> gKept;              // what the host's keysKept heard
std::vector<std::string> gChosen;     // names the chooser reported

void Forward(const std::string &what) {
  std::lock_guard<std::mutex> lock(gMutex);
  gForwarded.push_back(what);
}
void RecordKept(bool kept) {
  std::lock_guard<std::mutex> lock(gMutex);
  gKept.push_back(kept);
}
void RecordChosen(const char *name) {
  std::lock_guard<std::mutex> lock(gMutex);
  gChosen.push_back(name);
}

InjectOps RecordingOps() {
  InjectOps ops{};
  ops.name = "recording";
  ops.keybdEvent = [](void *, BYTE vk, BYTE, DWORD flags, DWORD) {
    Forward(std::string(flags & KEYEVENTF_KEYUP ? "up " : "down ") + static_cast<char>(vk));
  };
  ops.postKeybdMessage = [](void *, HWND, UINT, UINT, UINT, const UINT *, const UINT *chars) -> BOOL {
    Forward(std::string("char ") + static_cast<char>(chars[0]));
    return TRUE;
  };
  ops.sendInput = [](void *, UINT count, const INPUT *inputs, int) -> UINT {
    Forward(std::string("input ") + static_cast<char>(inputs[0].ki.wVk));
    return count;
  };
  return ops;
}

class Dispatch : public ::testing::Test {
protected:
  void SetUp() override {
    std::lock_guard<std::mutex> lock(gMutex);
    gForwarded.clear();
    gKept.clear();
    gChosen.clear();
  }
  void TearDown() override {
    InjectGuardOwnWindows(false);
    wincore::RecordOwnWindowActive(false);
    InjectSetBackend(nullptr);
    InjectSetHost(InjectHost{});
  }
  static std::vector<std::string> Forwarded() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gForwarded;
  }
  static std::vector<bool> Kept() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gKept;
  }
};

// With the guard on, a press while one of the program's own windows is
// active goes nowhere, whichever of the three calls makes it, and the host
// hears of each; a release still goes out (nothing stays down); the first
// press that goes out again ends the stretch, told once. The trace says it
// once a stretch.
TEST_F(Dispatch, TheGuardKeepsPressesFromOwnWindowsAndTellsTheHost) {
  const InjectOps ops = RecordingOps();
  InjectSetBackend(&ops);
  InjectSetHost(InjectHost{nullptr, nullptr, nullptr, RecordKept});
  InjectGuardOwnWindows(true);
  testtrace::TraceLines trace;
  const UINT a = 'a';
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = 'S';
  enum Call { kPress, kRelease, kChar, kInput };
  struct Step {
    bool ownActive;
    Call call;
    BYTE vk;
    const char *forwarded; // nullptr: dropped
    std::vector<bool> keptSoFar;
  };
  const Step steps[] = {
      {false, kPress, 'A', "down A", {}},
      {true, kPress, 'B', nullptr, {true}},
      {true, kRelease, 'B', "up B", {true}},
      {true, kChar, 0, nullptr, {true, true}},
      {true, kInput, 0, nullptr, {true, true, true}},
      {false, kPress, 'C', "down C", {true, true, true, false}},
      {false, kPress, 'D', "down D", {true, true, true, false}},
      {true, kPress, 'E', nullptr, {true, true, true, false, true}},
  };
  std::vector<std::string> expected;
  for (size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
    const Step &s = steps[i];
    SCOPED_TRACE(i);
    wincore::RecordOwnWindowActive(s.ownActive);
    switch (s.call) {
    case kPress:
      keybd_event(s.vk, 0, 0, 0);
      break;
    case kRelease:
      keybd_event(s.vk, 0, KEYEVENTF_KEYUP, 0);
      break;
    case kChar:
      EXPECT_FALSE(PostKeybdMessage(nullptr, 0, 0, 1, nullptr, &a));
      break;
    case kInput:
      EXPECT_EQ(SendInput(1, &input, 28), 0u);
      break;
    }
    if (s.forwarded)
      expected.push_back(s.forwarded);
    EXPECT_EQ(Forwarded(), expected);
    EXPECT_EQ(Kept(), s.keptSoFar);
  }
  EXPECT_EQ(trace.CountContaining("Keys dropped: Vantrel's own window is active"), 2);

  // Off (a backend that reaches no window), keys go out whatever is active.
  InjectGuardOwnWindows(false);
  keybd_event('F', 0, 0, 0);
  EXPECT_EQ(Forwarded().back(), "down F");
}

// A portal slow to start: the choice made beside the start-up waits for it
// while the caller goes on. Meanwhile presses are dropped with a trace line;
// the link that came up meanwhile is passed to the portal once it is
// chosen, so that it asks the desktop and types what comes after.
TEST_F(Dispatch, ABackendChosenWhileTheLinkIsUpHearsOfIt) {
  testbus::PortalStandIn portal;
  if (!portal.Ready())
    GTEST_SKIP() << portal.Problem();
  ASSERT_TRUE(portal.HoldProperties(true));
  ASSERT_TRUE(portal.SetAnswer(0, 0));
  setenv("VANTREL_INJECT", "portal", 1);
  setenv("XKB_DEFAULT_LAYOUT", "us", 1);
  testtrace::TraceLines trace;

  InjectSelectBackendInBackground(RecordChosen);
  InjectLinkChanged(true);
  keybd_event('A', 0, 0, 0);
  keybd_event('A', 0, KEYEVENTF_KEYUP, 0);
  keybd_event('B', 0, 0, 0);
  EXPECT_EQ(trace.CountContaining("Keys dropped: the way to type them is still being chosen"), 1);
  EXPECT_EQ(InjectGetBackend(), nullptr);
  // The window asks what the keys reach while the choice waits for the
  // portal: it hears at once (had it waited, the portal's time-out would
  // have ended the choice without it).
  bool reading = false;
  for (int i = 0; i < 500 && !(reading = portal.HeldReads() > 0); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(reading);
  EXPECT_EQ(InjectBackendReach(), InjectReach::kWindows);
  EXPECT_FALSE(InjectBackendNamed());
  {
    std::lock_guard<std::mutex> lock(gMutex);
    EXPECT_TRUE(gChosen.empty());
  }

  ASSERT_TRUE(portal.HoldProperties(false));
  InjectWaitForBackend();
  {
    std::lock_guard<std::mutex> lock(gMutex);
    EXPECT_EQ(gChosen, std::vector<std::string>{"portal"});
  }
  ASSERT_NE(InjectGetBackend(), nullptr);
  // The desktop was asked without a new connection; a key typed now
  // reaches it.
  bool asked = false;
  for (int i = 0; i < 500 && !(asked = portal.Dialogs() == 1); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(asked);
  const UINT c = 'c';
  PostKeybdMessage(nullptr, 0, 0, 1, nullptr, &c);
  bool typed = false;
  for (int i = 0; i < 500 && !(typed = !portal.Keys().empty()); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(typed);

  InjectLinkChanged(false);
  InjectShutdown();
  unsetenv("VANTREL_INJECT");
  unsetenv("XKB_DEFAULT_LAYOUT");
}

} // namespace
