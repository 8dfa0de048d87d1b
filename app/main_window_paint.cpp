// Painting the main window: the keyboard picture at the top, UI string 0
// in the lower half, UI string 40 at the bottom, each in the largest bold
// font (up to a cap) that keeps it on one line across the window, and on
// Smartphone-class devices the status line.
#include "app/keys_reach.h"
#include "app/main_window.h"
#include "common/globals.h"
#include "common/ui_strings.h"
#include "platform/gdi.h"
#include "platform/win32.h"

namespace {

constexpr int kStartHeight = 10;
constexpr int kHeightStep = 2;

HFONT MakeFont(int height, int weight) {
  LOGFONTW font = {};
  font.lfHeight = height;
  font.lfWeight = weight;
  return CreateFontIndirectW(&font);
}

void DrawFitted(HDC hdc, const WCHAR *text, int height, RECT area) {
  HFONT font = MakeFont(height, FW_BOLD);
  HGDIOBJ old = SelectObject(hdc, font);
  DrawTextW(hdc, text, -1, &area, DT_CENTER | DT_WORDBREAK);
  SelectObject(hdc, old);
  DeleteObject(font);
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

void PaintMainWindow(HWND hwnd) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(hwnd, &ps);
  if (!hdc)
    return;
  HDC pictureDc = CreateCompatibleDC(hdc);
  RECT c = {};
  GetClientRect(hwnd, &c);

  WCHAR path[MAX_PATH];
  wnsprintfW(path, MAX_PATH, u"%s%s", AppGlobals.InstallDir,
             MainPictureName(c.right, AppGlobals.isSmartphone == 1));
  // A picture that cannot be loaded is left out and the texts are laid out
  // as for a picture 0 pixels high.
  LONG pictureHeight = 0;
  if (HBITMAP picture = SHLoadDIBitmap(path)) {
    HGDIOBJ old = SelectObject(pictureDc, picture);
    BITMAP info = {};
    GetObjectW(picture, sizeof info, &info);
    BitBlt(hdc, c.right / 2 - info.bmWidth / 2, c.top + 5, info.bmWidth, info.bmHeight, pictureDc,
           0, 0, SRCCOPY);
    SelectObject(pictureDc, old);
    DeleteObject(picture);
    pictureHeight = info.bmHeight;
  }

  const int yLine = pictureHeight + 25;
  const int t = (c.bottom - yLine) / 10;
  NKDbgPrintfW(u"yLine = %d\r\n", yLine);
  NKDbgPrintfW(u"textWindowHeight = %d\r\n", t);

  const WCHAR *welcome = UiString(kUiWelcome);
  DrawFitted(hdc, welcome, FitTextHeight(hdc, welcome, c, 3 * t),
             RECT{c.left, (c.bottom - c.top) / 2, c.right, c.bottom});
  const WCHAR *footer = UiString(kUiFooter);
  DrawFitted(hdc, footer, FitTextHeight(hdc, footer, c, 2 * t),
             RECT{c.left, c.bottom - 5 * t, c.right, c.bottom});

  // Smartphone-class devices paint their status line; the others paint it
  // only to say that keys cannot reach the windows.
  const WCHAR *statusLine = AppGlobals.isSmartphone == 1 ? AppGlobals.statusLine
                                                         : KeysReachShownStatus();
  if (statusLine) {
    HFONT font = MakeFont(0, FW_MEDIUM);
    HGDIOBJ old = SelectObject(hdc, font);
    RECT line = {c.left, c.bottom - 2 * t, c.right, c.bottom};
    DrawTextW(hdc, statusLine, -1, &line, DT_CENTER | DT_SINGLELINE);
    SelectObject(hdc, old);
    DeleteObject(font);
  }

  DeleteDC(pictureDc);
  EndPaint(hwnd, &ps);
}
