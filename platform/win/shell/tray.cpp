// The notification area's icon on Windows (Shell_NotifyIconW): the
// program's icon with the link's state in its tooltip; a click posts the
// click command to the owner, the context menu posts the chosen item's
// command. Its messages come to a hidden window of its own, on the
// user-interface thread that showed it.
#include "platform/notify.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "platform/tray.h"
#include "platform/window.h"

#include <string>
#include <vector>

#include "platform/win/core/real_calls.h"

namespace {

constexpr UINT kTrayMessage = WM_APP + 0x3A1;
constexpr UINT kIconId = 1;

HWND gTrayWindow = nullptr;
HWND gOwner = nullptr;
UINT gClickCommand = 0;
bool gShown = false;
std::vector<TrayMenuItem> gMenu;
UINT gTaskbarCreated = 0;

NOTIFYICONDATAW IconData() {
  NOTIFYICONDATAW data = {};
  data.cbSize = sizeof data;
  data.hWnd = gTrayWindow;
  data.uID = kIconId;
  return data;
}

bool AddIcon() {
  NOTIFYICONDATAW data = IconData();
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kTrayMessage;
  // The owner's window icon, which is the program's.
  data.hIcon = gOwner ? reinterpret_cast<HICON>(GetClassLongPtrW(gOwner, GCLP_HICON)) : nullptr;
  if (!data.hIcon)
    data.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
  WStrCopyN(data.szTip, sizeof data.szTip / sizeof(WCHAR), u"Vantrel");
  return Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
}

void ShowMenu() {
  HMENU menu = CreatePopupMenu();
  for (const TrayMenuItem &item : gMenu)
    AppendMenuW(menu, MF_STRING | (item.enabled ? 0 : MF_GRAYED), item.command,
                item.text.c_str());
  POINT at = {};
  GetCursorPos(&at);
  // The menu closes when the person clicks elsewhere only if its window is
  // in front while it shows.
  SetForegroundWindow(gTrayWindow);
  const UINT chosen = static_cast<UINT>(TrackPopupMenuEx(
      menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, at.x, at.y, gTrayWindow, nullptr));
  DestroyMenu(menu);
  if (chosen && gOwner)
    PostMessageW(gOwner, WM_COMMAND, chosen, 0);
}

LRESULT CALLBACK TrayProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == kTrayMessage) {
    switch (LOWORD(lParam)) {
    case WM_LBUTTONUP:
      if (gOwner)
        PostMessageW(gOwner, WM_COMMAND, gClickCommand, 0);
      return 0;
    case WM_RBUTTONUP:
    case WM_CONTEXTMENU:
      ShowMenu();
      return 0;
    }
    return 0;
  }
  // Explorer started again: the icon is shown again.
  if (gTaskbarCreated && msg == gTaskbarCreated && gShown)
    AddIcon();
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

} // namespace

bool TrayIconAvailable() { return FindWindowExW(nullptr, nullptr, u"Shell_TrayWnd", nullptr); }

bool TrayIconShow(HWND owner, UINT clickCommand) {
  gOwner = owner;
  gClickCommand = clickCommand;
  if (gShown)
    return true;
  if (!gTrayWindow) {
    WNDCLASSW cls = {};
    cls.lpfnWndProc = TrayProc;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.lpszClassName = u"VantrelTray";
    RegisterClassW(&cls);
    gTrayWindow = CreateWindowExW(0, u"VantrelTray", u"", 0, 0, 0, 0, 0, nullptr, nullptr,
                                  cls.hInstance, nullptr);
    gTaskbarCreated = RegisterWindowMessageW(u"TaskbarCreated");
  }
  gShown = gTrayWindow && AddIcon();
  PlatformTrace("tray: %s", gShown ? "icon shown" : "no icon");
  return gShown;
}

void TrayIconUpdate(TrayIconMark mark, const std::u16string &tooltip,
                    const std::vector<TrayMenuItem> &menu) {
  if (!gShown)
    return;
  gMenu = menu;
  NOTIFYICONDATAW data = IconData();
  data.uFlags = NIF_TIP;
  WStrCopyN(data.szTip, sizeof data.szTip / sizeof(WCHAR), tooltip.c_str());
  Shell_NotifyIconW(NIM_MODIFY, &data);
  (void)mark;
}

void TrayIconRemove() {
  if (gShown) {
    NOTIFYICONDATAW data = IconData();
    Shell_NotifyIconW(NIM_DELETE, &data);
  }
  gShown = false;
  if (gTrayWindow)
    DestroyWindow(gTrayWindow);
  gTrayWindow = nullptr;
}

bool TrayIconShown() { return gShown; }

bool ShowDesktopNotification(const std::string &summary, const std::string &body, bool urgent) {
  if (!gShown)
    return false;
  NOTIFYICONDATAW data = IconData();
  data.uFlags = NIF_INFO;
  WStrCopyN(data.szInfoTitle, sizeof data.szInfoTitle / sizeof(WCHAR),
            Utf8ToUtf16(summary).c_str());
  WStrCopyN(data.szInfo, sizeof data.szInfo / sizeof(WCHAR), Utf8ToUtf16(body).c_str());
  data.dwInfoFlags = urgent ? NIIF_WARNING : NIIF_INFO;
  return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}
