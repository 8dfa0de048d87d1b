// Painting and laying out the main window: the keyboard picture at the top,
// UI string 0 (bold, at least the desktop's default size) under it, the
// connect button at its natural size, UI string 40 under the button, and
// the painted status line at the bottom where there is one. Nothing is
// painted under the button, and the colours are the desktop theme's.
#include "app/keys_reach.h"
#include "app/main_window.h"
#include "common/globals.h"
#include "common/ui_strings.h"
#include "platform/controls.h"
#include "platform/gdi.h"
#include "platform/win32.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace {

constexpr int kStartHeight = 10;
constexpr int kHeightStep = 2;

HFONT MakeFont(int height, int weight) {
  LOGFONTW font = {};
  font.lfHeight = height;
  font.lfWeight = weight;
  return CreateFontIndirectW(&font);
}

// The height of text drawn in area's width (wrapped at words) with a font
// of the height and weight.
LONG TextHeight(HDC hdc, const WCHAR *text, int height, int weight, LONG width) {
  HFONT font = MakeFont(height, weight);
  HGDIOBJ old = SelectObject(hdc, font);
  RECT measured = {0, 0, width, 0};
  DrawTextW(hdc, text, -1, &measured, DT_CALCRECT | DT_CENTER | DT_WORDBREAK);
  SelectObject(hdc, old);
  DeleteObject(font);
  return measured.bottom - measured.top;
}

void DrawPart(HDC hdc, const WCHAR *text, int height, int weight, RECT area, UINT format) {
  HFONT font = MakeFont(height, weight);
  HGDIOBJ old = SelectObject(hdc, font);
  DrawTextW(hdc, text, -1, &area, format);
  SelectObject(hdc, old);
  DeleteObject(font);
}

// The size of a picture of InstallDir, 0 x 0 when it cannot be loaded.
// Each picture is decoded once for its size and the size kept: the layout
// runs several times before the window first shows (creation, each resize,
// each caption of the button) and asks up to three times each, and decoding
// the pictures again every time cost more than the rest of the start-up's
// own work. The program's pictures do not change while it runs; one that
// could not be read is tried again next time. UI thread only.
SIZE PictureSize(const WCHAR *name) {
  WCHAR path[MAX_PATH];
  wnsprintfW(path, MAX_PATH, u"%s%s", AppGlobals.InstallDir, name);
  struct Known {
    std::u16string path;
    SIZE size;
  };
  static Known known[4]; // the narrow and the wide picture, with room to spare
  static size_t next = 0;
  for (const Known &k : known)
    if (!k.path.empty() && k.path == path)
      return k.size;
  SIZE size = {0, 0};
  if (HBITMAP picture = SHLoadDIBitmap(path)) {
    BITMAP info = {};
    GetObjectW(picture, sizeof info, &info);
    size = {info.bmWidth, info.bmHeight};
    DeleteObject(picture);
  }
  if (size.cx > 0 && size.cy > 0) {
    known[next] = {path, size};
    next = (next + 1) % std::size(known);
  }
  return size;
}

// The painted status line, or null when there is none to paint:
// Smartphone-class devices paint their status; the others paint it only to
// say that keys cannot reach the windows.
const WCHAR *PaintedStatus() {
  return AppGlobals.isSmartphone == 1 ? AppGlobals.statusLine : KeysReachShownStatus();
}

} // namespace

const WCHAR *MainPictureName(LONG clientRight, bool smartphone) {
  if (clientRight <= 240 || (smartphone && clientRight > 300))
    return u"vtr.bmp";
  return u"vtr_wide.bmp";
}

int FitTextHeight(HDC hdc, const WCHAR *text, const RECT &area, int cap) {
  const LONG width = area.right - area.left;
  int height = kStartHeight;
  // Grow while the text still fits. Once height - 2 is past the cap the
  // answer is the cap whatever comes next, so the loop stops there too:
  // this also ends it for an empty text, which fits at any height.
  while (height - kHeightStep <= cap) {
    HFONT font = MakeFont(height, FW_BOLD);
    HGDIOBJ old = SelectObject(hdc, font);
    RECT measured = area;
    DrawTextW(hdc, text, -1, &measured, DT_CALCRECT | DT_CENTER | DT_SINGLELINE);
    SelectObject(hdc, old);
    DeleteObject(font);
    if (measured.right - measured.left > width)
      break;
    height += kHeightStep;
  }
  height -= kHeightStep;
  return height > cap ? cap : height;
}

MainLayout LayoutMainWindow(HDC hdc, HWND hwnd, const RECT &client) {
  MainLayout l = {};
  // The default font's line height sets the margins and the spacing.
  const LONG line = std::max<LONG>(1, TextHeight(hdc, u"Ag", 0, FW_NORMAL, 10000));
  const LONG margin = std::max<LONG>(6, line * 3 / 4);
  const LONG width = std::max<LONG>(1, client.right - client.left - 2 * margin);

  // The welcome text in bold, up to half again the default size while it
  // fits on one line, never below the default size (it wraps instead).
  const WCHAR *welcome = UiString(kUiWelcome);
  const RECT across = {0, 0, width, 0};
  l.welcomeHeight = std::max<int>(line, FitTextHeight(hdc, welcome, across, line * 3 / 2));
  const LONG welcomeH = TextHeight(hdc, welcome, l.welcomeHeight, FW_BOLD, width);
  const LONG footerH = TextHeight(hdc, UiString(kUiFooter), 0, FW_NORMAL, width);
  const LONG statusH = PaintedStatus() ? line : 0;

  // The button at its natural size in the desktop's style, wide enough for
  // "Disconnect" and the like; without the toolkit, an estimate.
  SIZE ideal = {line * 10, line * 2};
  SendMessageW(GetDlgItem(hwnd, kConnectButtonId), BCM_GETIDEALSIZE, 0,
               reinterpret_cast<LPARAM>(&ideal));
  const LONG buttonW = std::min<LONG>(width, std::max<LONG>(ideal.cx, line * 10));
  const LONG buttonH = ideal.cy;

  const LONG textPart = welcomeH + margin + buttonH + margin + footerH + (statusH ? margin + statusH : 0);
  // The picture that fits: the one for the width, else the narrow one,
  // else none (a small window keeps its texts and button whole).
  const LONG spareH = client.bottom - client.top - 3 * margin - textPart;
  l.picture = nullptr;
  l.pictureSize = {0, 0};
  for (const WCHAR *name : {MainPictureName(client.right, AppGlobals.isSmartphone == 1), u"vtr.bmp"}) {
    SIZE size = PictureSize(name);
    if (size.cx > 0 && size.cx <= width && size.cy <= spareH) {
      l.picture = name;
      l.pictureSize = size;
      break;
    }
  }
  // The whole needs this much; what is left over goes above and below.
  const LONG wideSize = PictureSize(u"vtr_wide.bmp").cx;
  l.content.cx = std::max<LONG>({wideSize, buttonW, line * 20}) + 2 * margin;
  const SIZE widePicture = PictureSize(MainPictureName(l.content.cx, AppGlobals.isSmartphone == 1));
  l.content.cy = 3 * margin + widePicture.cy + textPart;

  const LONG used = (l.picture ? l.pictureSize.cy + margin : 0) + textPart + 2 * margin;
  LONG y = client.top + margin + std::max<LONG>(0, (client.bottom - client.top - used) / 2);
  const LONG left = client.left + margin;
  const LONG centre = (client.left + client.right) / 2;
  if (l.picture) {
    l.pictureRect = {centre - l.pictureSize.cx / 2, y, centre - l.pictureSize.cx / 2 + l.pictureSize.cx,
                     y + l.pictureSize.cy};
    y += l.pictureSize.cy + margin;
  }
  l.welcome = {left, y, left + width, y + welcomeH};
  y += welcomeH + margin;
  l.button = {centre - buttonW / 2, y, centre - buttonW / 2 + buttonW, y + buttonH};
  y += buttonH + margin;
  l.footer = {left, y, left + width, y + footerH};
  y += footerH + margin;
  l.status = {left, y, left + width, y + statusH};
  return l;
}

void PlaceConnectButton(HWND hwnd) {
  HWND button = GetDlgItem(hwnd, kConnectButtonId);
  HDC hdc = GetDC(hwnd);
  if (!button || !hdc) {
    if (hdc)
      ReleaseDC(hwnd, hdc);
    return;
  }
  RECT c = {};
  GetClientRect(hwnd, &c);
  const MainLayout l = LayoutMainWindow(hdc, hwnd, c);
  ReleaseDC(hwnd, hdc);
  MoveWindow(button, l.button.left, l.button.top, l.button.right - l.button.left,
             l.button.bottom - l.button.top, TRUE);
  // Where the button is within the client area, and that area's size, each
  // time it is placed (a caption, a resize): a window manager may move or
  // resize the window at any time, so a place on the screen would not hold.
  NKDbgPrintfW(u"Connect button at %d,%d %dx%d in the client area of %dx%d\r\n",
               static_cast<int>(l.button.left), static_cast<int>(l.button.top),
               static_cast<int>(l.button.right - l.button.left),
               static_cast<int>(l.button.bottom - l.button.top), static_cast<int>(c.right - c.left),
               static_cast<int>(c.bottom - c.top));
}

void PaintMainWindow(HWND hwnd) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(hwnd, &ps);
  if (!hdc)
    return;
  RECT c = {};
  GetClientRect(hwnd, &c);
  const MainLayout l = LayoutMainWindow(hdc, hwnd, c);
  NKDbgPrintfW(u"yLine = %d\r\n", static_cast<int>(l.welcome.top));
  NKDbgPrintfW(u"textWindowHeight = %d\r\n", static_cast<int>(l.welcome.bottom - l.welcome.top));

  if (l.picture) {
    WCHAR path[MAX_PATH];
    wnsprintfW(path, MAX_PATH, u"%s%s", AppGlobals.InstallDir, l.picture);
    if (HBITMAP picture = SHLoadDIBitmap(path)) {
      HDC pictureDc = CreateCompatibleDC(hdc);
      HGDIOBJ old = SelectObject(pictureDc, picture);
      BitBlt(hdc, l.pictureRect.left, l.pictureRect.top, l.pictureSize.cx, l.pictureSize.cy, pictureDc, 0,
             0, SRCCOPY);
      SelectObject(pictureDc, old);
      DeleteObject(picture);
      DeleteDC(pictureDc);
    }
  }

  // The theme's text colour over the theme's background (the class brush).
  SetTextColor(hdc, GetSysColor(COLOR_WINDOWTEXT));
  SetBkMode(hdc, TRANSPARENT);
  DrawPart(hdc, UiString(kUiWelcome), l.welcomeHeight, FW_BOLD, l.welcome, DT_CENTER | DT_WORDBREAK);
  DrawPart(hdc, UiString(kUiFooter), 0, FW_NORMAL, l.footer, DT_CENTER | DT_WORDBREAK);
  if (const WCHAR *statusLine = PaintedStatus())
    DrawPart(hdc, statusLine, 0, FW_MEDIUM, l.status, DT_CENTER | DT_SINGLELINE);
  EndPaint(hwnd, &ps);
}
