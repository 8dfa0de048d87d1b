// Single steps of the reader thread run on the test thread: the handshake's
// exits and the connection error message. Where a step pauses, a virtual
// clock (Auto) lets the pause pass at once and counts it.
#include "common/messages.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "link/port_discovery.h"
#include "link/reader_thread.h"
#include "tests/link/fake_port.h"
#include "tests/link/link_harness.h"

#include <gtest/gtest.h>

#include <thread>

namespace linktest {
namespace {

struct Shown {
  HWND owner;
  std::string text;
  UINT flags;
};

class ReaderSteps : public ::testing::Test {
protected:
  void SetUp() override {
    UseFreshRoot(root);
    SetMessageBoxPresenter(
        [](HWND owner, LPCWSTR text, LPCWSTR, UINT type, void *self) {
          static_cast<ReaderSteps *>(self)->boxes.push_back({owner, Narrow(text), type});
          return IDOK;
        },
        this);
  }
  void TearDown() override {
    SetMessageBoxPresenter(nullptr, nullptr);
    if (AppGlobals.portHandle.load() != INVALID_HANDLE_VALUE)
      CloseHandle(AppGlobals.portHandle.exchange(INVALID_HANDLE_VALUE));
  }
  // A silent keyboard on COM1: with short reads.
  void OpenSilentPort() {
    port = std::make_unique<FakePort>(root.path() + "/devices", 1);
    ASSERT_TRUE(port->ok());
    HANDLE h = CreateFileW(u"COM1:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    COMMTIMEOUTS t{50, 1, 10, 10, 100};
    SetCommTimeouts(h, &t);
    AppGlobals.portHandle.store(h);
  }

  TempRoot root;
  std::unique_ptr<FakePort> port;
  std::vector<Shown> boxes;
};

TEST_F(ReaderSteps, HandshakeGivesUpOnASilentKeyboard) {
  VirtualClockScope clock(VirtualClock::Auto);
  OpenSilentPort();
  AppGlobals.linkState.store(LINK_HANDSHAKE);
  DWORD start = GetTickCount();
  RunHandshake();
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_ERROR);
  EXPECT_GE(GetTickCount() - start, static_cast<DWORD>(kHandshakeReadLimit * 200));
  EXPECT_EQ(port->PacketKinds(), std::vector<int>{5}); // HANDSHAKE_REQUEST only
}

TEST_F(ReaderSteps, HandshakeLeavesForADisconnectRequest) {
  OpenSilentPort();
  AppGlobals.linkState.store(LINK_HANDSHAKE);
  std::thread user([] {
    Sleep(500);
    AppGlobals.linkState.store(LINK_DISCONNECTING);
  });
  DWORD start = GetTickCount();
  RunHandshake();
  user.join();
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_DISCONNECTING);
  // Left early: the full handshake's pauses alone take this long.
  EXPECT_LT(GetTickCount() - start, static_cast<DWORD>(kHandshakeReadLimit * 200));
  EXPECT_TRUE(boxes.empty());
}

// Every attempt and connection ends in the disconnection: it ends the
// connect request (a later request is a new attempt, not one "under way")
// and notifies only windows that exist.
TEST_F(ReaderSteps, DisconnectionEndsTheRequestAndPostsToNoAbsentWindow) {
  VirtualClockScope clock(VirtualClock::Auto);
  DWORD start = GetTickCount();
  AppGlobals.mainWindow = nullptr;
  AppGlobals.openDialog.store(nullptr);
  AppGlobals.connectRequested.store(1);
  AppGlobals.linkState.store(LINK_DISCONNECTING);
  RunDisconnection();
  EXPECT_EQ(GetTickCount() - start, 2000u) << "the pause after a disconnection";
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_IDLE);
  EXPECT_EQ(AppGlobals.connectRequested.load(), 0);
  MSG msg;
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      << "message 0x" << std::hex << msg.message << " left on the reader thread's own queue";
}

// The user cancelled while the port was being opened: the port is left for
// the disconnection to close and the cancel stands.
TEST_F(ReaderSteps, OpeningAPortKeepsACancelMadeMeanwhile) {
  port = std::make_unique<FakePort>(root.path() + "/devices", 1);
  ASSERT_TRUE(port->ok());
  SettingsStore::WriteString(u"COMPORT", u"COM1:");
  AppGlobals.connectRequested.store(1);
  AppGlobals.linkState.store(LINK_DISCONNECTING);
  OpenPort();
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_DISCONNECTING);
  EXPECT_NE(AppGlobals.portHandle.load(), INVALID_HANDLE_VALUE);
}

TEST_F(ReaderSteps, ConnectionErrorIsShownThenTheLinkCloses) {
  HWND main = reinterpret_cast<HWND>(uintptr_t{0x1230});
  HWND calibration = reinterpret_cast<HWND>(uintptr_t{0x4560});
  AppGlobals.mainWindow = main;
  AppGlobals.calibrationDialog.store(calibration);
  for (int smartphone : {0, 1}) {
    AppGlobals.isSmartphone = smartphone;
    AppGlobals.connectRequested.store(1);
    AppGlobals.linkState.store(LINK_ERROR);
    ShowConnectError();
    EXPECT_EQ(AppGlobals.linkState.load(), LINK_DISCONNECTING);
    EXPECT_EQ(AppGlobals.connectRequested.load(), 0);
  }
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].owner, main);
  EXPECT_EQ(boxes[0].text, Narrow(UiString(38)));
  EXPECT_EQ(boxes[0].flags, 0x40030u);
  EXPECT_EQ(boxes[1].owner, calibration);
  EXPECT_EQ(boxes[1].text, Narrow(UiString(39)));
  EXPECT_EQ(boxes[1].flags, 0x10030u);
}

} // namespace
} // namespace linktest
