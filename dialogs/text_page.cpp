#include "dialogs/text_page.h"

#include "common/globals.h"
#include "platform/controls.h"
#include "platform/files.h"
#include "platform/gdi.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/threads.h"

#include <cstring>

namespace {

// A static control's style bit the pages have always used; the platform
// shows such a static as a read-only text area that scrolls.
constexpr DWORD kTextWindowStyle = WS_VISIBLE | WS_TABSTOP | 0x4;

// Text reads best some 70 characters wide and a page of it no taller than
// about 30 lines: a page of text grows towards that (the platform keeps it
// on the screen), and whatever does not fit scrolls.
constexpr int kReadingColumns = 70;
constexpr int kReadingLines = 30;
// Between the text area and the page's edges.
constexpr int kTextMargin = 5;
// Room for the text area's frame and scroll bar beside the text.
constexpr int kTextAreaChrome = 30;

} // namespace

HWND CreateTextWindow(HWND dialog, const WCHAR *page, bool lowerHalf) {
  HDC dc = GetDC(dialog);
  // The alphabet once gives the width of an average character and the
  // height of a line.
  static const WCHAR kAlphabet[] = u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  RECT sample = {0, 0, 0x7FFF, 0x7FFF};
  DrawTextW(dc, kAlphabet, -1, &sample, DT_CALCRECT);
  const int lineHeight = sample.bottom > 0 ? sample.bottom : 16;
  if (!lowerHalf) {
    // The page grows to a reading width and to the text's height, at most
    // a reading height. About More's text sits under its logo, in a page
    // the logo has sized.
    RECT client = {};
    GetClientRect(dialog, &client);
    const int width = sample.right * kReadingColumns / 52 + kTextAreaChrome + 2 * kTextMargin;
    RECT text = {0, 0, (width > client.right ? width : client.right) - kTextAreaChrome - 2 * kTextMargin,
                 0x7FFF};
    DrawTextW(dc, page, -1, &text, DT_CALCRECT | DT_WORDBREAK);
    int height = text.bottom + kTextAreaChrome + 2 * kTextMargin;
    if (height > kReadingLines * lineHeight)
      height = kReadingLines * lineHeight;
    GrowPage(dialog, width, height);
  }
  ReleaseDC(dialog, dc);
  // The text area fills the page (its lower half for About More), with a
  // margin, and follows the page as the person resizes it.
  RECT client = {};
  GetClientRect(dialog, &client);
  const int y = lowerHalf ? client.bottom / 2 : kTextMargin;
  const int width = client.right - 2 * kTextMargin;
  const int height = client.bottom - kTextMargin - y;
  HWND window = CreateWindowExW(0, u"static", nullptr, kTextWindowStyle, kTextMargin, y,
                                width > 0 ? width : 0, height > 0 ? height : 0, dialog, nullptr,
                                AppGlobals.hInstance, nullptr);
  if (window)
    SetWindowTextW(window, page);
  SetWindowLongW(dialog, DWL_USER, reinterpret_cast<LONG_PTR>(window));
  return window;
}

LPCWSTR LogoFileName(int clientWidth, LPCWSTR narrowName, LPCWSTR wideName) {
  if (clientWidth <= 240 || (AppGlobals.isSmartphone && clientWidth > 300))
    return narrowName;
  return wideName;
}

bool LogoSize(LPCWSTR name, int *width, int *height) {
  *width = *height = 0;
  WCHAR path[MAX_PATH];
  InstallDirPath(path, name);
  HBITMAP picture = SHLoadDIBitmap(path);
  if (!picture)
    return false;
  BITMAP info = {};
  GetObjectW(picture, 24, &info);
  DeleteObject(picture);
  *width = info.bmWidth;
  *height = info.bmHeight;
  return true;
}

void GrowPage(HWND dialog, int width, int height) {
  RECT client = {}, place = {};
  GetClientRect(dialog, &client);
  GetWindowRect(dialog, &place);
  if (client.right >= width && client.bottom >= height)
    return;
  MoveWindow(dialog, place.left, place.top, client.right > width ? client.right : width,
             client.bottom > height ? client.bottom : height, FALSE);
}

void SizePage(HWND dialog, int width, int height) {
  RECT place = {};
  GetWindowRect(dialog, &place);
  MoveWindow(dialog, place.left, place.top, width, height, FALSE);
}

void FitLogo(HWND dialog, LPCWSTR narrowName, LPCWSTR wideName, int *width, int *height) {
  for (int round = 0; round < 2; ++round) {
    RECT client = {};
    GetClientRect(dialog, &client);
    LogoSize(LogoFileName(client.right, narrowName, wideName), width, height);
    GrowPage(dialog, *width + 10, 0);
  }
}

void DrawLogo(HDC dc, int clientWidth, LPCWSTR name) {
  WCHAR path[MAX_PATH];
  InstallDirPath(path, name);
  HBITMAP picture = SHLoadDIBitmap(path);
  if (!picture)
    return;
  HDC memory = CreateCompatibleDC(dc);
  SelectObject(memory, picture);
  BITMAP info = {};
  GetObjectW(picture, 24, &info);
  BitBlt(dc, clientWidth / 2 - info.bmWidth / 2, 5, info.bmWidth, info.bmHeight, memory, 0, 0,
         SRCCOPY);
  DeleteDC(memory);
  DeleteObject(picture);
}

