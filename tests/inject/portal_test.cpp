// Typing through the desktop's RemoteDesktop portal, against a stand-in
// portal on a private session bus (tests/support/portal_stand_in.py): the
// person allows at once or slowly, refuses, the desktop fails the request or
// closes the session later. Keys typed before the answer are held and typed
// in order once allowed, dropped otherwise; nothing stays pressed after a
// disconnection, a refusal or a closed session; a closed session is asked
// for again only at the next connection; a version 2 portal asks once.
#include "platform/inject.h"
#include "platform/portal/portal_backend.h"
#include "tests/support/portal_stand_in.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <linux/input-event-codes.h>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Keys = std::vector<std::pair<int, unsigned>>;

std::mutex gMutex;
std::vector<InjectNotice> gNotices;
std::string gToken;

void RecordNotice(InjectNotice notice) {
  std::lock_guard<std::mutex> lock(gMutex);
  gNotices.push_back(notice);
}
std::string LoadToken() {
  std::lock_guard<std::mutex> lock(gMutex);
  return gToken;
}
void SaveToken(const std::string &token) {
  std::lock_guard<std::mutex> lock(gMutex);
  gToken = token;
}
std::vector<InjectNotice> Notices() {
  std::lock_guard<std::mutex> lock(gMutex);
  return gNotices;
}

// The harmless Shift tap that goes first, then 'a' and 'b' on a US layout.
const Keys kTapThenAb = {{KEY_LEFTSHIFT, 1}, {KEY_LEFTSHIFT, 0}, {KEY_A, 1},
                         {KEY_A, 0},         {KEY_B, 1},         {KEY_B, 0}};

class PortalTest : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("XKB_DEFAULT_LAYOUT", "us", 1);
    {
      std::lock_guard<std::mutex> lock(gMutex);
      gNotices.clear();
      gToken.clear();
    }
    InjectSetHost(InjectHost{RecordNotice, LoadToken, SaveToken, nullptr});
  }
  void TearDown() override {
    if (ops_ && ops_->close)
      ops_->close(ops_->self); // joins the portal's thread
    InjectSetHost(InjectHost{});
    unsetenv("XKB_DEFAULT_LAYOUT");
  }

  // Opens the backend on the stand-in's bus.
  bool Open() {
    std::string why;
    ops_ = PortalInjectOpen(&why);
    EXPECT_NE(ops_, nullptr) << why;
    return ops_ != nullptr;
  }
  void Link(bool up) { ops_->linkChanged(ops_->self, up); }
  void Type(const char *text) {
    std::vector<UINT> units(text, text + strlen(text));
    ops_->postKeybdMessage(ops_->self, nullptr, 0, 0, static_cast<UINT>(units.size()), nullptr,
                           units.data());
  }
  void Press(BYTE vk, bool down) {
    ops_->keybdEvent(ops_->self, vk, 0, down ? 0 : KEYEVENTF_KEYUP, 0);
  }
  // Waits (generously: the machine may be loaded) for count keys at the portal.
  Keys WaitForKeys(testbus::PortalStandIn &portal, size_t count) {
    Keys keys;
    for (int i = 0; i < 1000 && (keys = portal.Keys()).size() < count; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return keys;
  }
  bool WaitForSessions(testbus::PortalStandIn &portal, unsigned open) {
    for (int i = 0; i < 1000; ++i) {
      if (portal.OpenSessions() == open)
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  const InjectOps *ops_ = nullptr;
};

#define START_PORTAL(name, ...)                                                                   \
  testbus::PortalStandIn name{__VA_ARGS__};                                                       \
  if (!name.Ready())                                                                              \
  GTEST_SKIP() << name.Problem()

// Keys typed while the person decides are held, then typed in order when
// allowed and dropped when not; a Shift still down at the disconnection is
// released before the session closes.
TEST_F(PortalTest, KeysTypedBeforeTheAnswerFollowIt) {
  struct Case {
    const char *name;
    unsigned code, delayMs;
    bool allowed;
    InjectNotice notice; // told when not allowed
  };
  const Case cases[] = {
      {"allowed at once", 0, 0, true, InjectNotice::kPortalFailed},
      {"allowed slowly", 0, 1500, true, InjectNotice::kPortalFailed},
      {"refused", 1, 300, false, InjectNotice::kConsentRefused},
      {"the desktop failed", 2, 0, false, InjectNotice::kPortalFailed},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    START_PORTAL(portal);
    ASSERT_TRUE(portal.SetAnswer(c.code, c.delayMs));
    ASSERT_TRUE(Open());
    Link(true);
    Type("ab");
    Press(VK_SHIFT, true); // a sticky Shift, held on
    Keys expected;
    if (c.allowed) {
      expected = kTapThenAb;
      expected.push_back({KEY_LEFTSHIFT, 1});
      EXPECT_EQ(WaitForKeys(portal, expected.size()), expected);
      EXPECT_TRUE(Notices().empty());
    } else {
      // The refusal is told; keys typed after it go nowhere.
      for (int i = 0; i < 1000 && Notices().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      EXPECT_EQ(Notices(), std::vector<InjectNotice>{c.notice});
      Type("c");
      EXPECT_TRUE(WaitForSessions(portal, 0));
    }
    Link(false);
    if (c.allowed) {
      expected.push_back({KEY_LEFTSHIFT, 0});
      EXPECT_EQ(WaitForKeys(portal, expected.size()), expected);
    }
    EXPECT_TRUE(WaitForSessions(portal, 0));
    ops_->close(ops_->self);
    ops_ = nullptr;
    EXPECT_EQ(portal.Keys(), expected);
    EXPECT_EQ(portal.Dialogs(), 1u);
  }
}

// Any program of the session can send a signal: a refusal sent by another
// than the portal, on the very request path, changes nothing.
TEST_F(PortalTest, OnlyThePortalsOwnAnswerCounts) {
  START_PORTAL(portal);
  ASSERT_TRUE(portal.SetAnswer(0, 1500));
  ASSERT_TRUE(Open());
  Link(true);
  Type("ab");
  for (int i = 0; i < 1000 && portal.Dialogs() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(portal.Dialogs(), 1u);             // Start is waiting for the person
  ASSERT_TRUE(portal.ForgeResponse("vantrel3", 1)); // the third request is Start
  EXPECT_EQ(WaitForKeys(portal, kTapThenAb.size()), kTapThenAb);
  EXPECT_TRUE(Notices().empty());
}

// The desktop closes the session while connected: the person is told, keys
// are dropped, and the desktop is asked again only at the next connection.
TEST_F(PortalTest, ClosedSessionIsToldAndAskedForAtTheNextConnection) {
  START_PORTAL(portal);
  ASSERT_TRUE(Open());
  Link(true);
  Type("ab");
  ASSERT_EQ(WaitForKeys(portal, kTapThenAb.size()), kTapThenAb);
  ASSERT_TRUE(portal.CloseSessions());
  for (int i = 0; i < 1000 && Notices().empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(Notices(), std::vector<InjectNotice>{InjectNotice::kSessionClosed});
  Type("ab");
  Link(false);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(portal.Dialogs(), 1u); // no new request while the same link lasts
  EXPECT_EQ(portal.Keys(), kTapThenAb);

  Link(true);
  Type("b");
  Keys expected = kTapThenAb;
  expected.insert(expected.end(),
                  {{KEY_LEFTSHIFT, 1}, {KEY_LEFTSHIFT, 0}, {KEY_B, 1}, {KEY_B, 0}});
  EXPECT_EQ(WaitForKeys(portal, expected.size()), expected);
  EXPECT_EQ(portal.Dialogs(), 2u);
}

// A slow desktop: keys typed faster than it answers wait in order, a
// bounded number of calls in flight (the bus refuses a connection more
// replies to await than its limit), and all arrive, also when the link
// ends right after them; the session closes after the last.
TEST_F(PortalTest, KeysWaitForASlowDesktopInOrder) {
  START_PORTAL(portal);
  ASSERT_TRUE(portal.SetKeyDelay(5));
  ASSERT_TRUE(Open());
  Link(true);
  ASSERT_EQ(WaitForKeys(portal, 2).size(), 2u); // allowed: the Shift tap went out
  std::string text;
  for (int i = 0; i < 100; ++i)
    text.push_back(static_cast<char>('a' + i % 26));
  Type(text.c_str());
  Link(false);
  const Keys keys = WaitForKeys(portal, 2 + 2 * text.size());
  ASSERT_EQ(keys.size(), 2 + 2 * text.size());
  EXPECT_EQ(keys[2], (std::pair<int, unsigned>{KEY_A, 1}));
  EXPECT_EQ(keys.back(), (std::pair<int, unsigned>{KEY_V, 0}));
  EXPECT_LE(portal.MaxPendingKeys(), 32u);
  EXPECT_TRUE(WaitForSessions(portal, 0));
}

// A version 2 portal keeps the consent: the token it returns is kept, and
// the next connection is allowed without asking the person again.
TEST_F(PortalTest, KeptConsentIsNotAskedAgain) {
  START_PORTAL(portal, 2);
  ASSERT_TRUE(Open());
  Link(true);
  Type("a");
  WaitForKeys(portal, 4);
  EXPECT_FALSE(LoadToken().empty());
  Link(false);
  ASSERT_TRUE(WaitForSessions(portal, 0));
  Link(true);
  Type("b");
  EXPECT_EQ(WaitForKeys(portal, 8).size(), 8u);
  EXPECT_EQ(portal.Dialogs(), 1u);
}

} // namespace
