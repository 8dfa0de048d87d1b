// What the dialog paints for each step: the instruction at the top, the
// step's picture (the wide one on clients wider than 240 pixels) centred
// below it, at y = 30 or lower when the instruction takes more room, nothing
// for steps outside 1 to 3. Painted into a window of a
// chosen client size through the dialog's own procedure.
#include "calibration_test_env.h"
#include "common/globals.h"
#include "dialogs/calibration_dialog.h"
#include "tests/support/toolkit.h"

#include <QColor>
#include <QImage>
#include <QWidget>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

class CalibrationPaint : public ::testing::Test {
protected:
  void SetUp() override {
    // Narrow pictures red, wide ones blue, each its own width.
    box_.PutPicture("altkey.bmp", 40, 20, 255, 0, 0);
    box_.PutPicture("altkey_wide.bmp", 60, 20, 0, 0, 255);
    box_.PutPicture("equalskey.bmp", 41, 20, 255, 0, 0);
    box_.PutPicture("equalskey_wide.bmp", 61, 20, 0, 0, 255);
  }
  void TearDown() override {
    if (window_)
      DestroyWindow(window_);
  }
  // Paints step `step` into a client area `width` pixels wide.
  QImage Paint(int32_t step, int width) {
    if (window_)
      DestroyWindow(window_);
    AppGlobals.calibrationStep = step;
    window_ = MakeTestWindow(
        [](HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
          if (msg != WM_PAINT)
            return -2;
          CalibrationDialogProc(hwnd, msg, wParam, lParam);
          return 0;
        },
        width, 200);
    InvalidateRect(window_, nullptr, TRUE);
    UpdateWindow(window_);
    Spin(50);
    return ClientWidget(window_)->grab().toImage();
  }
  static bool InkIn(const QImage &image, int top, int bottom) {
    for (int y = top; y < bottom && y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (qGray(image.pixel(x, y)) < 128)
          return true;
    return false;
  }

  // The first row, from y = 30 down, where column x shows colour.
  static int TopOf(const QImage &image, int x, QColor colour) {
    for (int y = 30; y < image.height(); ++y)
      if (QColor(image.pixel(x, y)) == colour)
        return y;
    return -1;
  }
  // Whether the instruction's text stays above the picture, which starts
  // at row top and column left: no ink beside the picture in its rows.
  static bool TextAbove(const QImage &image, int top, int left) {
    for (int y = top; y < top + 20 && y < image.height(); ++y)
      for (int x = 0; x < left - 1; ++x)
        if (qGray(image.pixel(x, y)) < 128)
          return false;
    return true;
  }

  CalibrationSandbox box_;
  HWND window_ = nullptr;
};

TEST_F(CalibrationPaint, PictureSizeFollowsTheClientWidth) {
  // 240 pixels: the narrow picture, 40 wide, from x = 120 - 20 = 100, below
  // the instruction (two lines at this width).
  QImage narrow = Paint(1, 240);
  ASSERT_EQ(narrow.width(), 240);
  const int top = TopOf(narrow, 100, Qt::red);
  ASSERT_GE(top, 30);
  EXPECT_EQ(QColor(narrow.pixel(139, top + 19)), QColor(Qt::red));
  EXPECT_NE(QColor(narrow.pixel(99, top + 5)), QColor(Qt::red));
  EXPECT_NE(QColor(narrow.pixel(140, top + 5)), QColor(Qt::red));
  EXPECT_NE(QColor(narrow.pixel(110, top - 1)), QColor(Qt::red));
  EXPECT_TRUE(InkIn(narrow, 0, top)) << "the instruction is drawn above the picture";
  EXPECT_TRUE(TextAbove(narrow, top, 100)) << "the instruction runs into the picture";

  // 241 pixels: the wide picture, 60 wide, from x = 120 - 30 = 90.
  QImage wide = Paint(1, 241);
  const int wideTop = TopOf(wide, 90, Qt::blue);
  ASSERT_GE(wideTop, 30);
  EXPECT_EQ(QColor(wide.pixel(149, wideTop)), QColor(Qt::blue));
  EXPECT_NE(QColor(wide.pixel(89, wideTop + 5)), QColor(Qt::blue));
  EXPECT_TRUE(TextAbove(wide, wideTop, 90));

  // 100 pixels: the instruction takes three lines or more, and the picture
  // (from x = 50 - 20 = 30) goes below them.
  QImage slim = Paint(1, 100);
  const int slimTop = TopOf(slim, 30, Qt::red);
  ASSERT_GE(slimTop, 30);
  EXPECT_TRUE(TextAbove(slim, slimTop, 30)) << "the instruction runs into the picture";

  // Odd widths: each half is truncated, 301 / 2 - 61 / 2 = 150 - 30 = 120.
  QImage odd = Paint(2, 301);
  const int oddTop = TopOf(odd, 120, Qt::blue);
  ASSERT_GE(oddTop, 30);
  EXPECT_NE(QColor(odd.pixel(119, oddTop)), QColor(Qt::blue));
  EXPECT_EQ(QColor(odd.pixel(180, oddTop)), QColor(Qt::blue));
}

TEST_F(CalibrationPaint, OnlyStepsOneToThreeShowAnything) {
  for (int32_t step : {0, 4, -1, 1000}) {
    QImage image = Paint(step, 240);
    EXPECT_FALSE(InkIn(image, 0, image.height())) << "step " << step;
    EXPECT_NE(QColor(image.pixel(110, 35)), QColor(Qt::red)) << "step " << step;
  }
}

TEST_F(CalibrationPaint, AMissingPictureLeavesTheInstruction) {
  // downarrowkey.bmp is not there.
  QImage image = Paint(3, 240);
  EXPECT_TRUE(InkIn(image, 0, 30));
  EXPECT_FALSE(InkIn(image, 60, image.height()));
}

} // namespace
