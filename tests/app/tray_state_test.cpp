// The tray's reading of the link, without a desktop: the icon's phase, its
// tooltip and Connect/Disconnect item, and which moments are told as
// notifications (a connection made, one lost without the person ending it,
// a low battery once per connection).
#include "app/tray_state.h"
#include "resources/resource_ids.h"

#include <gtest/gtest.h>

namespace {

// The link's messages to the main window as a connection is made: status
// texts with the button disabled, then phase 2 with it enabled.
TrayNotice Connect(TrayState &state) {
  TrayOnStatusText(state, 0, u"Opening port COM3:");
  TrayOnStatusText(state, 0, u"Keyboard found, setting up the connection...");
  return TrayOnLinkPhase(state, 1, 2, u"Disconnect");
}

TEST(TrayState, AConnectionMadeAndEndedByThePersonIsToldOnceAndNotAsALoss) {
  TrayState state;
  TrayOnLinkPhase(state, 1, 0, u"Connect");
  EXPECT_EQ(state.phase, TrayPhase::NotConnected);
  EXPECT_EQ(TrayTooltip(state), u"Vantrel\nConnect");

  TrayOnStatusText(state, 0, u"Opening port COM3:");
  EXPECT_EQ(state.phase, TrayPhase::Busy);
  EXPECT_FALSE(state.buttonEnabled);
  EXPECT_EQ(TrayTooltip(state), u"Vantrel\nOpening port COM3:");

  EXPECT_EQ(TrayOnLinkPhase(state, 1, 2, u"Disconnect"), TrayNotice::Connected);
  EXPECT_EQ(state.phase, TrayPhase::Connected);
  EXPECT_TRUE(state.buttonEnabled);
  // A repeated phase 2 is no new connection.
  EXPECT_EQ(TrayOnLinkPhase(state, 1, 2, u"Disconnect"), TrayNotice::None);

  TrayOnDisconnectAsked(state);
  TrayOnStatusText(state, 0, u"Disconnecting the keyboard...");
  EXPECT_EQ(state.phase, TrayPhase::Connected) << "still connected until phase 0";
  EXPECT_EQ(TrayOnLinkPhase(state, 1, 0, u"Connect"), TrayNotice::None);
  EXPECT_EQ(state.phase, TrayPhase::NotConnected);

  // The person's Disconnect counted for that connection only.
  EXPECT_EQ(Connect(state), TrayNotice::Connected);
  EXPECT_EQ(TrayOnLinkPhase(state, 1, 0, u"Connect"), TrayNotice::ConnectionLost);
}

TEST(TrayState, ALostConnectionKeepsTheLastStatusAndAskingBeforeConnectingCountsForNothing) {
  TrayState state;
  // Disconnect asked while not connected (a press that started a
  // connection) does not hide a later loss.
  TrayOnDisconnectAsked(state);
  ASSERT_EQ(Connect(state), TrayNotice::Connected);
  EXPECT_TRUE(state.lastStatus.empty()) << "texts before the connection are not its end";
  TrayOnStatusText(state, 0, u"The keyboard ended the connection.");
  EXPECT_EQ(TrayOnLinkPhase(state, 1, 0, u"Connect"), TrayNotice::ConnectionLost);
  EXPECT_EQ(state.lastStatus, u"The keyboard ended the connection.");
  // A failed attempt after it: no notice, and the next connection starts
  // with no status of its own.
  TrayOnStatusText(state, 0, u"Opening port COM3:");
  EXPECT_EQ(TrayOnLinkPhase(state, 1, 0, u"Connect"), TrayNotice::None);
  ASSERT_EQ(Connect(state), TrayNotice::Connected);
  EXPECT_TRUE(state.lastStatus.empty());
  // A button state other than 0 or 1 leaves the button as it was.
  TrayOnLinkPhase(state, 7, 2, u"Disconnect");
  EXPECT_TRUE(state.buttonEnabled);
  TrayOnStatusText(state, 0, u"x");
  TrayOnLinkPhase(state, 7, 5, u"x");
  EXPECT_FALSE(state.buttonEnabled);
  EXPECT_EQ(state.phase, TrayPhase::Connected) << "an unknown phase changes nothing";
}

TEST(TrayState, TheBatteryIsShownOnceKnownAndItsLowLevelToldOncePerConnection) {
  TrayState state;
  EXPECT_EQ(TrayOnBattery(state, 5, true), TrayNotice::None) << "not connected";
  EXPECT_EQ(state.batteryPercent, -1);

  Connect(state);
  EXPECT_EQ(TrayTooltip(state), u"Vantrel\nDisconnect") << "no level before the keyboard's";
  EXPECT_EQ(TrayOnBattery(state, 80, false), TrayNotice::None);
  EXPECT_EQ(TrayTooltip(state), u"Vantrel\nDisconnect\nBattery 80%");
  EXPECT_EQ(TrayOnBattery(state, 9, true), TrayNotice::BatteryLow);
  EXPECT_EQ(TrayOnBattery(state, 8, true), TrayNotice::None);
  // Bouncing around the threshold is not told again in this connection.
  EXPECT_EQ(TrayOnBattery(state, 12, false), TrayNotice::None);
  EXPECT_EQ(TrayOnBattery(state, 9, true), TrayNotice::None);
  EXPECT_EQ(TrayOnBattery(state, 250, false), TrayNotice::None);
  EXPECT_EQ(state.batteryPercent, 100) << "kept within 0..100";
  EXPECT_EQ(TrayOnBattery(state, 0, false), TrayNotice::None);
  EXPECT_EQ(TrayTooltip(state), u"Vantrel\nDisconnect\nBattery 0%");

  TrayOnLinkPhase(state, 1, 0, u"Connect");
  EXPECT_EQ(TrayTooltip(state), u"Vantrel\nConnect") << "the level belongs to the connection";
  Connect(state);
  EXPECT_EQ(TrayOnBattery(state, 7, true), TrayNotice::BatteryLow) << "a new connection";
}

TEST(TrayState, TheMenuTogglesThroughTheConnectButtonsCommandCaptionedByPhase) {
  const TrayTexts texts = {u"Connect", u"Connecting...", u"Disconnect", u"Show", u"Quit"};
  auto toggle = [&](const TrayState &state) { return TrayMenu(state, texts)[0]; };
  TrayState state;
  const std::vector<TrayMenuEntry> menu = TrayMenu(state, texts);
  ASSERT_EQ(menu.size(), 3u);
  EXPECT_EQ(menu[0].command, kCommandConnectButton);
  EXPECT_EQ(menu[0].text, u"Connect");
  EXPECT_TRUE(menu[0].enabled);
  EXPECT_EQ(menu[1].command, kCommandShowWindow);
  EXPECT_EQ(menu[2].command, kCommandQuit);
  EXPECT_TRUE(menu[1].enabled && menu[2].enabled);

  TrayOnStatusText(state, 0, u"Opening port COM3:");
  EXPECT_EQ(toggle(state).text, u"Connecting...");
  EXPECT_FALSE(toggle(state).enabled) << "greyed with the connect button";
  TrayOnLinkPhase(state, 1, 2, u"Disconnect");
  EXPECT_EQ(toggle(state).text, u"Disconnect");
  EXPECT_TRUE(toggle(state).enabled);
  // Show and Quit stay available whatever the link does.
  TrayOnStatusText(state, 0, u"Disconnecting the keyboard...");
  EXPECT_FALSE(toggle(state).enabled);
  EXPECT_TRUE(TrayMenu(state, texts)[2].enabled);
}

} // namespace
