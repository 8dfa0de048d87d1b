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
// shows the text as a plain left-aligned static.
constexpr DWORD kTextWindowStyle = WS_VISIBLE | WS_TABSTOP | 0x4;

} // namespace

HWND CreateTextWindow(HWND dialog, const WCHAR *page, bool lowerHalf) {
  RECT client = {};
  GetClientRect(dialog, &client);
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  RECT text = {5, 0, width - 5, height};
  HDC dc = GetDC(dialog);
  DrawTextW(dc, page, -1, &text, DT_CALCRECT | DT_WORDBREAK);
  ReleaseDC(dialog, dc);
  const int y = lowerHalf ? height / 2 : 0;
  const int h = lowerHalf ? height / 2 + 10 : text.bottom - text.top;
  HWND window = CreateWindowExW(0, u"static", nullptr, kTextWindowStyle, 0, y, text.right, h,
                                dialog, nullptr, AppGlobals.hInstance, nullptr);
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

