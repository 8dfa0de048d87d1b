// Desktop notifications against python3-dbusmock's notification daemon on
// a private session bus: the main window's link notifications become
// "connected", "connection lost" and "battery low" notices (a Disconnect
// asked by the person is no loss), each in place of the one before, none
// once the program ends, and no service at all is only a trace.
#include "app_test_env.h"
#include "app/instance.h"
#include "app/main_window.h"
#include "app/tray.h"
#include "common/globals.h"
#include "common/messages.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "platform/controls.h"
#include "platform/notify.h"
#include "platform/text.h"
#include "resources/resource_ids.h"
#include "tests/support/link_stand_in.h"
#include "tests/support/private_bus.h"
#include "tests/support/sandbox.h"
#include "tests/support/thread_messages.h"
#include "tests/support/toolkit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace testsupport;

namespace {


class DesktopNotifications : public ::testing::Test {
protected:
  void SetUp() override {
    if (!testbus::DbusmockAvailable())
      GTEST_SKIP() << "python3-dbusmock is not installed";
    StartToolkitOnce();
    ASSERT_TRUE(ReadyInProcessWindow(box_));
    bus_ = testbus::StartBus();
    ASSERT_FALSE(bus_.address.empty());
    if (const char *old = getenv("DBUS_SESSION_BUS_ADDRESS"))
      oldAddress_ = old;
    setenv("DBUS_SESSION_BUS_ADDRESS", bus_.address.c_str(), 1);
  }
  void TearDown() override {
    StopTray();
    if (main_) {
      DestroyWindow(main_);
      UnregisterClassW(u"Vantrel", TestInstance());
      ReleaseInstance();
    }
    link_.reset();
    PumpMessages();
    if (oldAddress_.empty())
      unsetenv("DBUS_SESSION_BUS_ADDRESS");
    else
      setenv("DBUS_SESSION_BUS_ADDRESS", oldAddress_.c_str(), 1);
    testbus::Stop(mock_);
    testbus::Stop(bus_.pid);
  }
  void StartDaemon() {
    mock_ = testbus::StartMock({"--session", "--template", "notification_daemon"});
    sd_bus *client = testbus::Connect(bus_.address);
    ASSERT_NE(client, nullptr);
    const bool ready = testbus::WaitForName(client, "org.freedesktop.Notifications");
    sd_bus_flush_close_unref(client);
    ASSERT_TRUE(ready);
  }
  void StartWindow() {
    link_ = std::make_unique<LinkStandIn>();
    ASSERT_TRUE(CreateMainWindow(TestInstance(), SW_SHOW));
    main_ = AppGlobals.mainWindow;
    StartTray(main_);
  }
  void Phase(WPARAM buttonState, LPARAM phase) {
    SendMessageW(main_, WM_LINK_PHASE, buttonState, phase);
  }
  // The bodies of the Notify calls the daemon has had, in order: busctl
  // prints each call's arguments, the body being the fifth; the second, the
  // id each call replaces, goes to *replaced when given.
  std::vector<std::string> Bodies(std::vector<unsigned long> *replaced = nullptr) {
    const std::string command = "busctl --address='" + bus_.address +
                                "' call org.freedesktop.Notifications "
                                "/org/freedesktop/Notifications org.freedesktop.DBus.Mock "
                                "GetMethodCalls s Notify 2>&1";
    FILE *out = popen(command.c_str(), "r");
    std::string text;
    char chunk[512];
    while (out && fgets(chunk, sizeof chunk, out))
      text += chunk;
    if (out)
      pclose(out);
    // Each call: ... s "Vantrel" u 0 s "org.vantrel.Vantrel" s "SUMMARY" s "BODY" ...
    std::vector<std::string> bodies;
    const std::string mark = "s \"org.vantrel.Vantrel\" s \"";
    for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + 1)) {
      const size_t summaryEnd = text.find('"', at + mark.size());
      const size_t bodyStart = text.find('"', summaryEnd + 1) + 1;
      bodies.push_back(text.substr(bodyStart, text.find('"', bodyStart) - bodyStart));
      if (replaced) {
        const size_t number = text.rfind(" u ", at);
        replaced->push_back(number == std::string::npos
                                ? 0
                                : std::strtoul(text.c_str() + number + 3, nullptr, 10));
      }
    }
    return bodies;
  }

  ProgramSandbox box_;
  testbus::Daemon bus_;
  pid_t mock_ = -1;
  std::string oldAddress_;
  HWND main_ = nullptr;
  std::unique_ptr<LinkStandIn> link_;
};

TEST_F(DesktopNotifications, ConnectedLostAndBatteryLowAreToldAndADisconnectAskedIsNot) {
  StartDaemon();
  StartWindow();
  const std::string connected = Utf16ToUtf8(UiString(kUiStatusConnected));
  const std::string low = Utf16ToUtf8(UiString(kUiBatteryLow));
  const std::string lost = Utf16ToUtf8(UiString(kUiKeyboardDisconnected));

  Phase(1, 2);
  // A battery report below every "normal" threshold, as the link reports
  // it; told once however often it is reported.
  const float thresholds[5] = {200, 180, 160, 140, 100};
  for (int i = 0; i < 5; ++i)
    AppGlobals.batteryThreshold[i] = thresholds[i];
  AppGlobals.batteryLevel = 120.0f;
  SendMessageW(main_, WM_BATTERY_REPORTED, 0, 0);
  SendMessageW(main_, WM_BATTERY_REPORTED, 0, 0);
  Phase(1, 0); // the link went without the person asking

  // The next connection finds the charge still low and tells it at once,
  // with no new report.
  Phase(1, 2);
  SendMessageW(main_, WM_COMMAND, kCommandConnectButton, 0); // Disconnect
  Phase(1, 0);
  std::vector<unsigned long> replaced;
  EXPECT_EQ(Bodies(&replaced), (std::vector<std::string>{connected, low, lost, connected, low}));
  // Each replaces the one before: the service's id of the first.
  ASSERT_EQ(replaced.size(), 5u);
  EXPECT_NE(replaced[1], 0u);
  for (size_t i = 2; i < replaced.size(); ++i)
    EXPECT_EQ(replaced[i], replaced[1]);

  // Once the window has closed, nothing more is told.
  StopTray();
  Phase(1, 2);
  EXPECT_EQ(Bodies().size(), 5u);
  AppGlobals.batteryLevel = 0.0f;
}

TEST_F(DesktopNotifications, NoServiceOrNoBusIsOnlyATrace) {
  // A bus without the service: the call is refused at once, not waited for.
  EXPECT_FALSE(ShowDesktopNotification("Vantrel", "Connected", false));
  setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + box_.path() + "/no-bus").c_str(), 1);
  EXPECT_FALSE(ShowDesktopNotification("Vantrel", "Connected", false));
  // The program's side goes on as before.
  StartWindow();
  Phase(1, 2);
  EXPECT_NE(GetDlgItem(main_, kConnectButtonId), nullptr);
}

} // namespace
