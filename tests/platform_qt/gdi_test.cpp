// Drawing: measuring agrees with drawing, a font-fitting loop ends, BMP
// files load (and damaged ones are refused), and a painted window shows
// its picture and text.
#include "platform/gdi.h"
#include "tests/support/temp_root.h"
#include "tests/support/toolkit.h"

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QWidget>
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

using namespace testsupport;

namespace {

// The bounding box of the pixels darker than mid-grey.
QRect Ink(const QImage &image) {
  QRect box;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (qGray(image.pixel(x, y)) < 128)
        box |= QRect(x, y, 1, 1);
  return box;
}

class Pictures : public ::testing::Test {
protected:
  void SetUp() override { root.Use(kDeviceRoot); }
  void Write(const char *name, const QByteArray &bytes) {
    ASSERT_TRUE(WriteFile(root.File(name), bytes.toStdString()));
  }
  QByteArray GoodBmp(int w, int h, QColor color) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(color);
    const QString path = QString::fromStdString(root.File("tmp.bmp"));
    image.save(path, "BMP");
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
  }
  TempRoot root{"gdi"};
};

TEST_F(Pictures, GoodBmpLoadsWithItsSize) {
  Write("vtr.bmp", GoodBmp(40, 24, Qt::red));
  HBITMAP bitmap = SHLoadDIBitmap(u"vtr.bmp");
  ASSERT_NE(bitmap, nullptr);
  BITMAP bm{};
  EXPECT_EQ(GetObjectW(bitmap, 24, &bm), 24); // the handheld's record size
  EXPECT_EQ(bm.bmWidth, 40);
  EXPECT_EQ(bm.bmHeight, 24);
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_EQ(GetObjectW(bitmap, sizeof bm, &bm), 0); // gone
}

TEST_F(Pictures, MissingAndDamagedBmpGiveNull) {
  EXPECT_EQ(SHLoadDIBitmap(u"absent.bmp"), nullptr);
  QByteArray good = GoodBmp(16, 16, Qt::blue);
  Write("truncated.bmp", good.left(30));
  EXPECT_EQ(SHLoadDIBitmap(u"truncated.bmp"), nullptr);
  QByteArray huge = good;
  huge[18] = '\xff', huge[19] = '\xff', huge[20] = '\xff', huge[21] = '\x7f'; // absurd width
  Write("huge.bmp", huge);
  EXPECT_EQ(SHLoadDIBitmap(u"huge.bmp"), nullptr);
  QByteArray badOffset = good;
  badOffset[10] = '\xff', badOffset[11] = '\xff', badOffset[12] = '\xff';
  Write("offset.bmp", badOffset);
  EXPECT_EQ(SHLoadDIBitmap(u"offset.bmp"), nullptr);
  Write("text.bmp", QByteArray("BMnot a picture at all, just some words"));
  EXPECT_EQ(SHLoadDIBitmap(u"text.bmp"), nullptr);
}

// A 60-byte file whose info header claims 0x7FFFFFF5 bytes: the size check
// must not overflow into accepting it.
TEST_F(Pictures, AnInfoHeaderSizeNearTheLargestNumberIsRefused) {
  QByteArray bytes = QByteArray::fromHex("424D3C000000000000001E000000F5FFFF7F0400000004000000");
  bytes.append(QByteArray(60 - bytes.size(), '\0'));
  Write("overflow.bmp", bytes);
  EXPECT_EQ(SHLoadDIBitmap(u"overflow.bmp"), nullptr);
}

TEST_F(Pictures, PaintedWindowShowsPictureAndText) {
  Write("pic.bmp", GoodBmp(30, 20, Qt::red));
  RECT measured{};
  HWND hwnd = MakeTestWindow([&](HWND h, UINT msg, WPARAM, LPARAM) -> LRESULT {
    if (msg != WM_PAINT)
      return -2;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP picture = SHLoadDIBitmap(u"pic.bmp");
    SelectObject(memory, picture);
    BitBlt(dc, 10, 10, 30, 20, memory, 0, 0, SRCCOPY);
    DeleteDC(memory);
    DeleteObject(picture);
    LOGFONTW lf{};
    lf.lfHeight = 20;
    lf.lfWeight = FW_BOLD;
    HFONT font = CreateFontIndirectW(&lf);
    HGDIOBJ old = SelectObject(dc, font);
    RECT area{0, 60, 300, 200};
    measured = area;
    DrawTextW(dc, u"Keyboard ready to pair", -1, &measured, DT_CALCRECT | DT_WORDBREAK);
    DrawTextW(dc, u"Keyboard ready to pair", -1, &area, DT_LEFT | DT_WORDBREAK);
    SelectObject(dc, old);
    DeleteObject(font);
    EndPaint(h, &ps);
    return 0;
  });
  Spin(100);
  QImage shot = ClientWidget(hwnd)->grab().toImage();
  EXPECT_EQ(QColor(shot.pixel(25, 20)), QColor(Qt::red));
  EXPECT_EQ(QColor(shot.pixel(5, 5)), QColor(Qt::white));
  QRect ink = Ink(shot.copy(0, 60, 320, 180)).translated(0, 60);
  ASSERT_FALSE(ink.isEmpty());
  // What DT_CALCRECT measured holds the ink, and is not much larger.
  QRect box(QPoint(measured.left, measured.top), QPoint(measured.right - 1, measured.bottom - 1));
  EXPECT_TRUE(box.adjusted(-1, -1, 1, 1).contains(ink)) << "ink outside the measured rectangle";
  EXPECT_LE(box.right() - ink.right(), 6);
  EXPECT_LE(box.bottom() - ink.bottom(), 12);
  DestroyWindow(hwnd);
}

TEST(Text, WrappedMeasureMatchesDrawingInNarrowColumns) {
  for (int width : {60, 120, 200}) {
    RECT measured{};
    HWND hwnd = MakeTestWindow([&](HWND h, UINT msg, WPARAM, LPARAM) -> LRESULT {
      if (msg != WM_PAINT)
        return -2;
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(h, &ps);
      RECT area{5, 5, 5 + width, 235};
      measured = area;
      const char16_t *text = u"Press the key shown below until the light stops";
      DrawTextW(dc, text, -1, &measured, DT_CALCRECT | DT_WORDBREAK | DT_CENTER);
      DrawTextW(dc, text, -1, &area, DT_WORDBREAK | DT_CENTER);
      EndPaint(h, &ps);
      return 0;
    });
    Spin(60);
    QRect ink = Ink(ClientWidget(hwnd)->grab().toImage());
    EXPECT_LE(measured.right - measured.left, width) << width;
    EXPECT_GE(measured.bottom, ink.bottom()) << width;
    EXPECT_LE(measured.bottom - ink.bottom(), 12) << width;
    DestroyWindow(hwnd);
  }
}

TEST(Text, FittingLoopConverges) {
  // The main window's loop: grow a bold font by 2 until the text is wider
  // than the window, then step back.
  HWND hwnd = MakeTestWindow([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return -2; }, 240, 320);
  RECT client;
  GetClientRect(hwnd, &client);
  HDC dc = GetDC(hwnd);
  LOGFONTW lf{};
  lf.lfWeight = FW_BOLD;
  int steps = 0, lastWidth = -1;
  bool grows = true;
  for (lf.lfHeight = 10;; lf.lfHeight += 2, ++steps) {
    ASSERT_LT(steps, 500) << "fitting loop does not end";
    HFONT font = CreateFontIndirectW(&lf);
    HGDIOBJ old = SelectObject(dc, font);
    RECT r = client;
    DrawTextW(dc, u"Vantrel keyboard", -1, &r, DT_CALCRECT | DT_SINGLELINE | DT_CENTER);
    SelectObject(dc, old);
    DeleteObject(font);
    grows = grows && r.right - r.left >= lastWidth;
    lastWidth = r.right - r.left;
    if (lastWidth > client.right)
      break;
  }
  EXPECT_TRUE(grows);
  EXPECT_GT(lf.lfHeight - 2, 10);
  ReleaseDC(hwnd, dc);
  DestroyWindow(hwnd);
}

TEST(Windows, DefaultSizeAndResizeKeepsChildInPlace) {
  HWND button = nullptr;
  HWND hwnd = MakeTestWindow(
      [&](HWND h, UINT msg, WPARAM, LPARAM) -> LRESULT {
        if (msg == WM_CREATE) {
          RECT c;
          GetClientRect(h, &c);
          int sixth = c.bottom / 6;
          button = CreateWindowExW(0, u"BUTTON", u"Connect", WS_VISIBLE, 5, 4 * sixth, c.right - 10, sixth, h,
                                   reinterpret_cast<HMENU>(138), nullptr, nullptr);
        }
        return -2;
      },
      CW_USEDEFAULT, CW_USEDEFAULT);
  RECT c;
  GetClientRect(hwnd, &c);
  EXPECT_EQ(c.right, 480);
  EXPECT_EQ(c.bottom, 640);
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(GetParent(button), hwnd);
  RECT w;
  GetWindowRect(hwnd, &w);
  MoveWindow(hwnd, w.left, w.top, 600, 480, TRUE);
  Spin(50);
  QWidget *widget = ClientWidget(button);
  ASSERT_NE(widget, nullptr);
  EXPECT_EQ(widget->x(), 5);
  EXPECT_EQ(widget->width(), 590);
  EXPECT_EQ(widget->y(), 4 * 106 * 480 / 640);
  DestroyWindow(hwnd);
}

} // namespace

namespace {

QRect Qr(const RECT &r) { return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top); }

TEST(Windows, GeometryFollowsWhatTheWindowManagerDoesAndUpdatePaintsAtOnce) {
  HWND button = nullptr;
  int paints = 0;
  std::vector<QSize> sizes, seen; // WM_SIZE, and GetClientRect at that moment
  HWND hwnd = MakeTestWindow(
      [&](HWND h, UINT msg, WPARAM, LPARAM lParam) -> LRESULT {
        if (msg == WM_CREATE)
          button = CreateWindowExW(0, u"BUTTON", u"Connect", WS_VISIBLE, 5, 10, 100, 30, h,
                                   reinterpret_cast<HMENU>(138), nullptr, nullptr);
        if (msg == WM_SIZE) {
          RECT c;
          GetClientRect(h, &c);
          sizes.push_back(QSize(LOWORD(lParam), HIWORD(lParam)));
          seen.push_back(QSize(c.right, c.bottom));
        }
        if (msg == WM_PAINT) {
          ++paints;
          PAINTSTRUCT ps;
          BeginPaint(h, &ps);
          EndPaint(h, &ps);
          return 0;
        }
        return -2;
      },
      320, 240);
  ASSERT_NE(button, nullptr);
  Spin(50);
  QWidget *client = ClientWidget(hwnd);
  ASSERT_NE(client, nullptr);
  QWidget *frame = client->window();

  // The window manager resizes the window: the procedure hears the new size
  // and reads it back, and so does another thread.
  sizes.clear();
  seen.clear();
  frame->resize(400, 300);
  Spin(50);
  ASSERT_FALSE(sizes.empty());
  EXPECT_EQ(sizes.back(), QSize(400, 300));
  EXPECT_EQ(seen.back(), QSize(400, 300));
  RECT fromThread{};
  std::thread([&] { GetClientRect(hwnd, &fromThread); }).join();
  EXPECT_EQ(Qr(fromThread), QRect(0, 0, 400, 300));

  // ... and moves it: the window and its button are where their widgets are.
  frame->move(frame->pos() + QPoint(30, 20));
  Spin(50);
  RECT w, b;
  GetWindowRect(hwnd, &w);
  GetWindowRect(button, &b);
  EXPECT_EQ(Qr(w), QRect(client->mapToGlobal(QPoint(0, 0)), client->size()));
  QWidget *buttonWidget = ClientWidget(button);
  ASSERT_NE(buttonWidget, nullptr);
  EXPECT_EQ(Qr(b), QRect(buttonWidget->mapToGlobal(QPoint(0, 0)), buttonWidget->size()));

  // A visible window is painted before UpdateWindow returns.
  Spin(50);
  int before = paints;
  EXPECT_TRUE(InvalidateRect(hwnd, nullptr, TRUE));
  EXPECT_TRUE(UpdateWindow(hwnd));
  EXPECT_EQ(paints, before + 1);
  DestroyWindow(hwnd);
}

} // namespace
