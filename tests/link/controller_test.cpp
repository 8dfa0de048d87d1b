// TypingWnd's message handling and timers, on the test thread's own message
// loop, with a pseudo-terminal standing in for the keyboard's port and no
// reader thread. Timers and pauses run on a virtual clock.
#include "common/messages.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "link/frame_actions.h"
#include "link/link_controller.h"
#include "link/packets.h"
#include "link/resume_reconnect.h"
#include "tests/link/fake_port.h"
#include "tests/link/link_harness.h"

#include "platform/registry.h"

#include <gmock/gmock.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <unistd.h>

namespace linktest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// TypingWnd's procedure without its WM_CREATE, which would start the reader
// thread.
LRESULT ControllerOnly(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CREATE)
    return 0;
  return TypingWndProc(hwnd, msg, wParam, lParam);
}

class Controller : public ::testing::Test {
protected:
  void SetUp() override {
    UseFreshRoot(root);
    port = std::make_unique<FakePort>(root.path() + "/devices", 1);
    ASSERT_TRUE(port->ok());
    AppGlobals.portHandle.store(
        CreateFileW(u"COM1:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(AppGlobals.portHandle.load(), INVALID_HANDLE_VALUE);
    WNDCLASSW cls{};
    cls.lpfnWndProc = &ControllerOnly;
    cls.lpszClassName = u"ControllerOnly";
    RegisterClassW(&cls);
    wnd = CreateWindowExW(0, u"ControllerOnly", nullptr, WS_DISABLED, 0, 0, 0, 0, nullptr, nullptr,
                          nullptr, nullptr);
    AppGlobals.typingWnd.store(wnd);
    traces = std::make_unique<testtrace::TraceLines>();
  }
  void TearDown() override {
    traces.reset();
    DestroyWindow(wnd);
    CloseHandle(AppGlobals.portHandle.exchange(INVALID_HANDLE_VALUE));
    port.reset();
  }
  LRESULT Send(UINT msg, LPARAM lParam = 0) { return SendMessageW(wnd, msg, 0, lParam); }
  // Runs this thread's messages and timers for ms milliseconds (virtual:
  // each Sleep moves the clock on).
  void Pump(int ms) {
    DWORD until = GetTickCount() + ms;
    MSG m;
    while (static_cast<int32_t>(until - GetTickCount()) > 0) {
      while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&m);
      Sleep(5);
    }
  }

  TempRoot root;
  std::unique_ptr<FakePort> port;
  HWND wnd = nullptr;
  std::unique_ptr<testtrace::TraceLines> traces;
};

TEST_F(Controller, ToggleConnectsWhenIdleAndClosesOtherwise) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  AppGlobals.connectionEvent.store(event);
  AppGlobals.linkState.store(LINK_IDLE);
  Send(WM_TOGGLE_CONNECTION);
  EXPECT_EQ(AppGlobals.connectRequested.load(), 1);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  // Pressed again while the attempt is between two ports of a search (still
  // LinkState 1): the attempt is cancelled through a disconnection.
  Send(WM_TOGGLE_CONNECTION);
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_DISCONNECTING);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);

  for (int32_t state : {LINK_SYNCING, LINK_HANDSHAKE, LINK_TYPING, LINK_CALIBRATING, LINK_ERROR}) {
    AppGlobals.linkState.store(state);
    Send(WM_TOGGLE_CONNECTION);
    EXPECT_EQ(AppGlobals.linkState.load(), LINK_DISCONNECTING) << "from " << state;
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT) << "the reader is not waiting in " << state;
  }
  CloseHandle(event);
}

TEST_F(Controller, ConnectionTimeoutClosesATypingLinkAndNeverMeansNever) {
  VirtualClockScope clock(VirtualClock::Auto);
  AppGlobals.linkState.store(LINK_TYPING);
  Send(WM_SET_CONNECTION_TIMEOUT, 150);
  EXPECT_EQ(AppGlobals.connectionTimeout.load(), 150);
  Send(WM_SET_CONNECTION_TIMEOUT, 0); // "Never" stops the running timer too
  Pump(400);
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_TYPING);
  EXPECT_EQ(SettingsStore::ReadDword(u"Connection Timeout", -1), 0);
  EXPECT_EQ(NextTimerDueMs(), -1);

  Send(WM_SET_CONNECTION_TIMEOUT, 150);
  Pump(400);
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_DISCONNECTING);
  EXPECT_EQ(SettingsStore::ReadDword(u"Connection Timeout", -1), 150);

  // Outside typing the expiry changes nothing.
  AppGlobals.linkState.store(LINK_CALIBRATING);
  Send(WM_SET_CONNECTION_TIMEOUT, 100);
  Pump(300);
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_CALIBRATING);
}

TEST_F(Controller, TimersRespectCalibrationAndIdle) {
  // Heartbeat: closes typing, not calibration, not an idle link.
  for (auto [state, after] : {std::pair{LINK_CALIBRATING, LINK_CALIBRATING},
                              std::pair{LINK_IDLE, LINK_IDLE},
                              std::pair{LINK_TYPING, LINK_DISCONNECTING}}) {
    AppGlobals.linkState.store(state);
    Send(WM_START_HEARTBEAT);
    SendMessageW(wnd, WM_TIMER, kHeartbeatTimer, 0);
    EXPECT_EQ(AppGlobals.linkState.load(), after) << "from " << state;
    EXPECT_EQ(NextTimerDueMs(), -1) << "the heartbeat timer runs once";
  }
  EXPECT_EQ(traces->Count("Heartbeat timer expired"), 1);

  // Status poll: asks in typing and keeps running; stops itself in calibration.
  port->Read();
  AppGlobals.linkState.store(LINK_TYPING);
  Send(WM_START_STATUS_POLL);
  SendMessageW(wnd, WM_TIMER, kStatusPollTimer, 0);
  EXPECT_GT(NextTimerDueMs(), 9000);
  AppGlobals.linkState.store(LINK_CALIBRATING);
  SendMessageW(wnd, WM_TIMER, kStatusPollTimer, 0);
  EXPECT_EQ(NextTimerDueMs(), -1);
  EXPECT_THAT(port->PacketKinds(), ElementsAre(REQUEST_SYSTEM_DATA));
}

TEST_F(Controller, QuitDisconnectsEvenWithoutAKeyboard) {
  AppGlobals.linkState.store(LINK_IDLE);
  Send(WM_LINK_QUIT);
  EXPECT_EQ(Narrow(AppGlobals.statusText), Narrow(UiString(25)));
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_DISCONNECTING);
  EXPECT_THAT(port->PacketKinds(), ElementsAre(DISCONNECT));
}

TEST_F(Controller, CalibrationMessagesDriveTheKeyboard) {
  VirtualClockScope clock(VirtualClock::Auto);
  DWORD start = GetTickCount();
  AppGlobals.linkState.store(LINK_TYPING);
  Send(WM_CALIBRATE);
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_CALIBRATING);
  Send(WM_BEGIN_CALIBRATION);
  EXPECT_THAT(port->PacketKinds(), ElementsAre(100 + PARAM_CALIBRATION, CALIBRATION_MODE));
  EXPECT_EQ(GetTickCount() - start, 200u) << "the pause between the two packets";
  Send(WM_END_CALIBRATION);
  EXPECT_EQ(GetTickCount() - start, 1200u) << "the pause before typing mode";
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_TYPING);
  EXPECT_THAT(port->PacketKinds(), ElementsAre(100 + PARAM_CALIBRATION, TYPING_MODE));
  // Both link timers run again after a calibration.
  EXPECT_GT(NextTimerDueMs(), 8000);

  AppGlobals.linkState.store(LINK_CALIBRATING);
  Send(WM_RESUME_WITH_SETTINGS);
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_TYPING);
  std::vector<int> kinds = port->PacketKinds();
  ASSERT_EQ(kinds.size(), 12u);
  for (int id = 0; id <= 10; ++id)
    EXPECT_EQ(kinds[id], 100 + id);
  EXPECT_EQ(kinds[11], TYPING_MODE);
}

// A calibration dialog that ends after the link was closed must not bring
// the closed link back to typing: it could never be connected again.
TEST_F(Controller, CalibrationEndingAfterTheLinkClosedLeavesItClosed) {
  for (int32_t state : {LINK_IDLE, LINK_DISCONNECTING}) {
    AppGlobals.linkState.store(state);
    Send(WM_CALIBRATE);
    EXPECT_EQ(AppGlobals.linkState.load(), state) << "a closed link does not start calibrating";
    Send(WM_END_CALIBRATION);
    Send(WM_RESUME_WITH_SETTINGS);
    EXPECT_EQ(AppGlobals.linkState.load(), state);
  }
  EXPECT_THAT(port->PacketKinds(), IsEmpty());
}

// The settings push takes seconds; a disconnect the reader thread records
// meanwhile (a status code, a lost port) must survive the end of it. The
// push's pauses last until the stand-in for the reader thread lets their
// time pass, so the disconnect surely falls inside the push.
TEST_F(Controller, DisconnectDuringTheSettingsPushIsKept) {
  VirtualClockScope clock(VirtualClock::Manual);
  AppGlobals.linkState.store(LINK_CALIBRATING);
  std::vector<uint8_t> wire;
  std::atomic<bool> pushed{false};
  std::thread reader([&] {
    // Once the first parameter is on the wire the push is under way.
    while (wire.empty())
      wire = port->Read();
    AppGlobals.linkState.store(LINK_DISCONNECTING);
    while (!pushed.load()) {
      if (NextSleeperWake(nullptr))
        AdvanceVirtualClock(200);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  Send(WM_RESUME_WITH_SETTINGS);
  pushed.store(true);
  reader.join();
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_DISCONNECTING);
  std::vector<uint8_t> rest = port->Read();
  wire.insert(wire.end(), rest.begin(), rest.end());
  ASSERT_EQ(wire.size() % 12, 0u);
  for (size_t i = 0; i < wire.size(); i += 12)
    EXPECT_NE(wire[i + 4], TYPING_MODE) << "typing mode sent to a closing link";
}

// A key reads Keyclicks from a cache, never from the database while it
// stays the same: the program's own change (the Options menu's message) is
// seen by the very next key, one made by vantrel-reg while the program runs
// within about a second.
TEST_F(Controller, KeyclicksCacheFollowsOwnChangesAndTheToolsChanges) {
  Send(WM_SET_KEYCLICKS, 0);
  EXPECT_FALSE(KeyclicksOn());
  Send(WM_SET_KEYCLICKS, 1);
  EXPECT_TRUE(KeyclicksOn());
  uint64_t count = RegistryChangeCount();
  EXPECT_TRUE(KeyclicksOn());
  EXPECT_EQ(RegistryChangeCount(), count) << "a read of the cache counted as a change";
#ifdef VANTREL_REG_TOOL
  std::string command = std::string(VANTREL_REG_TOOL) + " --db '" + RegistryGetStatus().path +
                        "' set 'HKLM\\Software\\Vantrel' Keyclicks --dword 0 >/dev/null 2>&1";
  ASSERT_EQ(system(command.c_str()), 0) << command;
  // Real time, not the test's virtual clock: the look at the file is made
  // at most once a second.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (KeyclicksOn() && std::chrono::steady_clock::now() < deadline)
    usleep(50 * 1000);
  EXPECT_FALSE(KeyclicksOn()) << "the tool's change was not seen";
  // And back through the program's own write, at once.
  Send(WM_SET_KEYCLICKS, 1);
  EXPECT_TRUE(KeyclicksOn());
#endif
}

TEST_F(Controller, SettingsMessagesStoreAndSend) {
  VirtualClockScope clock(VirtualClock::Auto);
  Send(WM_SET_KEYCLICKS, 0);
  EXPECT_EQ(SettingsStore::ReadDword(u"Keyclicks", 1), 0);
  Send(WM_SET_KEYCLICKS, 1);
  EXPECT_EQ(SettingsStore::ReadDword(u"Keyclicks", 0), 1);
  Send(WM_SET_KEY_REPEAT_RATE);
  Send(WM_SET_KEY_REPEAT_DELAY);
  Send(WM_SET_SENSITIVITY);
  Pump(500); // spaced out (below)
  EXPECT_THAT(port->PacketKinds(),
              ElementsAre(100 + PARAM_REPEAT_RATE, 100 + PARAM_REPEAT_DELAY, 100 + PARAM_SENSITIVITY,
                          100 + PARAM_SENSITIVITY_AUX1, 100 + PARAM_SENSITIVITY_AUX2));
  // Unknown messages and paint requests are harmless.
  EXPECT_EQ(Send(WM_PAINT), 0);
  EXPECT_EQ(Send(WM_KEY_TEST_CHAR, 'a'), 0);
}

TEST_F(Controller, SettingRequestsReachTheKeyboardSpacedOut) {
  VirtualClockScope clock(VirtualClock::Auto);
  // The keyboard needs a pause between setting packets: requests that come
  // together (the typing settings' restore) wait their turns.
  Send(WM_SET_KEY_REPEAT_DELAY);
  Send(WM_SET_SENSITIVITY);
  Send(WM_SET_KEY_REPEAT_RATE);
  Send(WM_SET_SENSITIVITY); // already waiting: sent once, with the value of then
  EXPECT_THAT(port->PacketKinds(), ElementsAre(100 + PARAM_REPEAT_DELAY));
  Pump(kSettingSpacingMs - 10);
  EXPECT_THAT(port->PacketKinds(), IsEmpty());
  Pump(20);
  EXPECT_THAT(port->PacketKinds(), ElementsAre(100 + PARAM_SENSITIVITY, 100 + PARAM_SENSITIVITY_AUX1,
                                               100 + PARAM_SENSITIVITY_AUX2));
  Pump(kSettingSpacingMs - 20);
  EXPECT_THAT(port->PacketKinds(), IsEmpty());
  Pump(30);
  EXPECT_THAT(port->PacketKinds(), ElementsAre(100 + PARAM_REPEAT_RATE));
  Pump(1000);
  EXPECT_THAT(port->PacketKinds(), IsEmpty());
  // Long after the last one, a request is sent at once.
  Send(WM_SET_KEY_REPEAT_RATE);
  EXPECT_THAT(port->PacketKinds(), ElementsAre(100 + PARAM_REPEAT_RATE));
}

// The machine's sleep and resume as the sleep watch posts them.
class Resume : public Controller {
protected:
  void SetUp() override {
    Controller::SetUp();
    event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    AppGlobals.connectionEvent.store(event);
  }
  void TearDown() override {
    CloseHandle(event);
    Controller::TearDown();
  }
  // Sleeps in state `before`, resumes in state `after`.
  void SleepAndResume(int32_t before, int32_t after) {
    AppGlobals.linkState.store(before);
    SendMessageW(wnd, WM_MACHINE_SLEEP, 1, 0);
    AppGlobals.linkState.store(after);
    SendMessageW(wnd, WM_MACHINE_SLEEP, 0, 0);
  }
  // Whether a connection was asked of the reader thread (and clears that).
  bool ConnectAsked() {
    bool asked = AppGlobals.connectRequested.exchange(0) == 1;
    bool woken = WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
    EXPECT_EQ(asked, woken) << "the request and the wake-up go together";
    return asked && woken;
  }
  HANDLE event = nullptr;
};

TEST_F(Resume, OnlyALinkConnectedAtTheSleepIsConnectedAgain) {
  // Connected at the sleep, found dead and closed before the resume: at once.
  for (int32_t connected : {LINK_TYPING, LINK_CALIBRATING}) {
    SleepAndResume(connected, LINK_IDLE);
    EXPECT_TRUE(ConnectAsked()) << "connected in state " << connected;
  }
  // Not connected, or only trying to, at the sleep: nothing.
  for (int32_t before : {LINK_IDLE, LINK_SYNCING, LINK_HANDSHAKE, LINK_DISCONNECTING}) {
    SleepAndResume(before, LINK_IDLE);
    EXPECT_FALSE(ConnectAsked()) << "in state " << before << " at the sleep";
    EXPECT_FALSE(ReconnectAfterResume()) << "in state " << before << " at the sleep";
  }
  // An attempt already under way at the resume is not doubled.
  SleepAndResume(LINK_TYPING, LINK_SYNCING);
  EXPECT_FALSE(ConnectAsked());
  AppGlobals.linkState.store(LINK_IDLE);
  EXPECT_FALSE(ReconnectAfterResume());
  // A resume without a sleep before it (the watch started in between).
  SendMessageW(wnd, WM_MACHINE_SLEEP, 0, 0);
  EXPECT_FALSE(ConnectAsked());
  EXPECT_EQ(traces->CountContaining("Resumed: connecting the keyboard again"), 2);
}

TEST_F(Resume, ALinkStillUpAtTheResumeIsConnectedAgainWhenItDropsUnlessThePersonActed) {
  VirtualClockScope clock(VirtualClock::Auto);
  // The link still looks connected at the resume: it is connected again when
  // it closes by itself (the reader thread's disconnection ends), once.
  SleepAndResume(LINK_TYPING, LINK_TYPING);
  EXPECT_FALSE(ConnectAsked());
  AppGlobals.linkState.store(LINK_IDLE);
  EXPECT_TRUE(ReconnectAfterResume());
  EXPECT_TRUE(ConnectAsked());
  EXPECT_FALSE(ReconnectAfterResume()) << "connected again twice";

  // Closed (or closing) at the resume: the same.
  SleepAndResume(LINK_TYPING, LINK_DISCONNECTING);
  AppGlobals.linkState.store(LINK_IDLE);
  EXPECT_TRUE(ReconnectAfterResume());
  EXPECT_TRUE(ConnectAsked());

  // The person's Disconnect after the resume is final.
  SleepAndResume(LINK_TYPING, LINK_TYPING);
  SendMessageW(wnd, WM_TOGGLE_CONNECTION, 0, 0);
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_DISCONNECTING);
  AppGlobals.linkState.store(LINK_IDLE);
  EXPECT_FALSE(ReconnectAfterResume());
  EXPECT_FALSE(ConnectAsked());

  // So is Quit, and the program ending.
  SleepAndResume(LINK_TYPING, LINK_TYPING);
  Send(WM_LINK_QUIT);
  AppGlobals.linkState.store(LINK_IDLE);
  EXPECT_FALSE(ReconnectAfterResume());
  SleepAndResume(LINK_TYPING, LINK_TYPING);
  AppGlobals.linkStopping.store(1);
  AppGlobals.linkState.store(LINK_IDLE);
  EXPECT_FALSE(ReconnectAfterResume());
  AppGlobals.linkStopping.store(0);

  // A link still alive when the window has passed outlived the sleep: its
  // later drop is not connected again.
  SleepAndResume(LINK_TYPING, LINK_TYPING);
  Pump(kResumeReconnectWindowMs + 500);
  EXPECT_EQ(traces->Count("The link outlived the sleep: it is not connected again"), 1);
  AppGlobals.linkState.store(LINK_IDLE);
  EXPECT_FALSE(ReconnectAfterResume());

  // Asleep again before the dead link was noticed: still connected again
  // after the second resume.
  SleepAndResume(LINK_TYPING, LINK_TYPING);
  AppGlobals.linkState.store(LINK_DISCONNECTING);
  SleepAndResume(LINK_DISCONNECTING, LINK_IDLE);
  EXPECT_TRUE(ConnectAsked());
  EXPECT_FALSE(ReconnectAfterResume());
}

} // namespace
} // namespace linktest
