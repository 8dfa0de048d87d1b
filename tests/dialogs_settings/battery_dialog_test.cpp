// The battery status page: the charge shown for a level, its colour and the
// bar as painted.
#include "common/globals.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "dialogs/battery_dialog.h"
#include "platform/gdi.h"
#include "platform/text.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/sandbox.h"
#include "tests/support/scripted_message_boxes.h"
#include "tests/support/toolkit.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QWidget>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// The dialogs here are painted: each is shown before its script runs.

// Full at 200, empty at 100.
const float kThresholds[5] = {200.0f, 180.0f, 160.0f, 140.0f, 100.0f};

TEST(BatteryCharge, PercentFollowsTheLevelBetweenEmptyAndFullAndStaysBelow100) {
  EXPECT_EQ(BatteryChargePercent(150.0f, kThresholds), 50);
  EXPECT_EQ(BatteryChargePercent(199.5f, kThresholds), 99);
  EXPECT_EQ(BatteryChargePercent(200.0f, kThresholds), 99); // exactly full is capped too
  EXPECT_EQ(BatteryChargePercent(255.0f, kThresholds), 99);
  EXPECT_EQ(BatteryChargePercent(0.0f, kThresholds), 0); // no status frame yet
  EXPECT_EQ(BatteryChargePercent(100.0f, kThresholds), 0);
}

TEST(BatteryCharge, ThresholdsWithoutAScaleGiveAnEmptyOrFullBarNotAFault) {
  const float flat[5] = {120.0f, 120.0f, 120.0f, 120.0f, 120.0f};
  EXPECT_EQ(BatteryChargePercent(120.0f, flat), 0);
  EXPECT_EQ(BatteryChargePercent(50.0f, flat), 0);
  EXPECT_EQ(BatteryChargePercent(130.0f, flat), 99);
  const float reversed[5] = {100.0f, 120.0f, 140.0f, 160.0f, 200.0f};
  EXPECT_EQ(BatteryChargePercent(250.0f, reversed), 0);
}

TEST(BatteryCharge, ReachingAnyOfTheFirstFourThresholdsIsNormal) {
  EXPECT_TRUE(BatteryChargeNormal(140.0f, kThresholds));
  EXPECT_TRUE(BatteryChargeNormal(255.0f, kThresholds));
  EXPECT_FALSE(BatteryChargeNormal(139.9f, kThresholds));
  EXPECT_FALSE(BatteryChargeNormal(0.0f, kThresholds));
  const float unordered[5] = {150.0f, 130.0f, 170.0f, 145.0f, 100.0f};
  EXPECT_TRUE(BatteryChargeNormal(135.0f, unordered)); // T2 reached though T4 is not
}

class BatteryPageTest : public ::testing::Test {
protected:
  void SetUp() override {
    StartToolkitOnce();
    boxes_ = std::make_unique<ScriptedMessageBoxes>();
    main_ = MakeMainWindowStandIn();
    box_.CopyData("English.lang", "opt/Vantrel/English.lang");
    WStrCopyN(AppGlobals.InstallDir, MAX_PATH, u"opt\\Vantrel\\");
    SettingsStore::WriteString(u"language", u"English.lang");
    ASSERT_TRUE(LoadUiStrings());
    for (int i = 0; i < 5; ++i)
      AppGlobals.batteryThreshold[i] = kThresholds[i];
  }
  void TearDown() override {
    boxes_.reset();
    DestroyWindow(main_);
  }

  // Paints the page and reports the bar row's colours.
  struct Bar {
    int width = 0;
    int right = 0;        // first x past the coloured bar
    QRgb colour = 0;      // the bar's colour at x = 12
    QRgb after = 0;       // the colour just past the bar
  };
  Bar PaintedBar() {
    Bar bar;
    EXPECT_TRUE(DriveDialog([] { OpenBatteryDialog(AppGlobals.mainWindow); }, [&](HWND dialog) {
      RECT client = {};
      GetClientRect(dialog, &client);
      bar.width = client.right;
      QImage image = ClientWidget(dialog)->grab().toImage();
      int y = client.bottom / 4 + 10;
      bar.colour = image.pixel(12, y) & 0xFFFFFF;
      int x = 12;
      while (x < image.width() && (image.pixel(x, y) & 0xFFFFFF) == bar.colour)
        ++x;
      bar.right = x;
      bar.after = x < image.width() ? image.pixel(x, y) & 0xFFFFFF : 0;
      SendMessageW(dialog, WM_COMMAND, 40004, 0);
    }, kDriveShown));
    return bar;
  }
  ProgramSandbox box_;
  HWND main_ = nullptr;
  std::unique_ptr<ScriptedMessageBoxes> boxes_;
};

// The theme's colour of a role, as the page paints it.
QRgb Theme(QPalette::ColorRole role) { return QApplication::palette().color(role).rgb() & 0xFFFFFF; }

TEST_F(BatteryPageTest, NormalChargeShowsAThemeColouredBarOfWholePixelSteps) {
  AppGlobals.batteryLevel = 150.0f; // 50 %
  Bar bar = PaintedBar();
  ASSERT_GT(bar.width, 110);
  EXPECT_EQ(bar.colour, Theme(QPalette::Highlight));
  EXPECT_EQ(bar.right, 10 + ((bar.width - 10) / 100) * 50);
  EXPECT_EQ(bar.after, Theme(QPalette::Window));
}

TEST_F(BatteryPageTest, LowChargeIsRedAndBelowEmptyShowsNoBar) {
  AppGlobals.batteryLevel = 120.0f; // 20 %, below T4
  Bar low = PaintedBar();
  EXPECT_EQ(low.colour, 0xFF0000u);
  EXPECT_EQ(low.right, 10 + ((low.width - 10) / 100) * 20);
  AppGlobals.batteryLevel = 0.0f;
  Bar empty = PaintedBar();
  EXPECT_EQ(empty.colour, Theme(QPalette::Window)); // the page's: nothing filled
}

TEST_F(BatteryPageTest, CommandOneAsOnLinkLossClosesThePage) {
  HWND seen = nullptr;
  ASSERT_TRUE(DriveDialog([] { OpenBatteryDialog(AppGlobals.mainWindow); }, [&](HWND dialog) {
    seen = dialog;
    SendMessageW(dialog, WM_COMMAND, IDOK, 0);
  }, kDriveShown));
  EXPECT_NE(seen, nullptr);
  EXPECT_FALSE(IsWindow(seen));
}

} // namespace
