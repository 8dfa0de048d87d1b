#include "app/main_window.h"

#include "app/instance.h"
#include "app/options_menu.h"
#include "app/tray.h"
#include "common/globals.h"
#include "common/messages.h"
#include "common/ui_strings.h"
#include "dialogs/menu_bar.h"
#include "platform/controls.h"
#include "platform/gdi.h"
#include "platform/process.h"
#include "platform/qt_app.h"
#include "platform/shell.h"
#include "platform/threads.h"
#include "platform/win32.h"
#include "resources/resource_ids.h"

#include <string>
#include <utility>

namespace {

constexpr int kTitleUnits = 100;

// The help viewer could not show the help: the person is told why, not only
// the trace.
void TellHelpNotShown(HWND hwnd, DWORD why) {
  const WCHAR *text;
  if (why == ERROR_NO_ASSOCIATION)
    text = UiText(kUiHelpNoViewer,
                  u"The help cannot be shown: no program to open it was found. Vantrel opens "
                  u"its help with xdg-open. Please install it (Debian package xdg-utils) and "
                  u"try again.");
  else if (why == ERROR_FILE_NOT_FOUND)
    text = UiText(kUiHelpMissing, u"The help cannot be shown: its document Vantrel.htm is missing "
                                  u"from Vantrel's installation.");
  else
    text = UiText(kUiHelpNotStarted,
                  u"The help cannot be shown: the program that opens it could not be started.");
  MessageBoxW(hwnd, text, u"Vantrel", MB_OK | MB_ICONEXCLAMATION);
}

// The help document's device path: Vantrel.htm in InstallDir, the folder
// the help viewer opens it from.
std::u16string HelpDocumentPath() { return std::u16string(AppGlobals.InstallDir) + u"Vantrel.htm"; }

// WM_CREATE: the menu bar and its Options menu, the Done button, the
// connect button (placed by the layout) and the first status line.
void OnCreate(HWND hwnd) {
  AppGlobals.menuBar = CreateMenuBar(hwnd, kMenuMain);

  HMENU options = nullptr;
  if (AppGlobals.menuBar) {
    TBBUTTONINFO button = {};
    button.cbSize = sizeof button;
    button.dwMask = TBIF_BYINDEX | TBIF_LPARAM;
    SendMessageW(AppGlobals.menuBar, TB_GETBUTTONINFO, 0, reinterpret_cast<LPARAM>(&button));
    options = reinterpret_cast<HMENU>(button.lParam);
    if (!options)
      options = reinterpret_cast<HMENU>(SendMessageW(AppGlobals.menuBar, SHCMBM_GETMENU, 0, 0));
  }
  AppGlobals.optionsMenu = options;

  SHINITDLGINFO done = {SHIDIM_FLAGS, hwnd, SHIDIF_DONEBUTTON};
  SHInitDialog(&done);

  CreateWindowExW(0, u"BUTTON", UiString(kUiConnect), WS_VISIBLE, 0, 0, 0, 0, hwnd,
                  reinterpret_cast<HMENU>(static_cast<uintptr_t>(kConnectButtonId)),
                  AppGlobals.hInstance, nullptr);
  PlaceConnectButton(hwnd);

  WStrCopyN(AppGlobals.statusLine, sizeof AppGlobals.statusLine / sizeof(WCHAR),
            UiString(kUiStatusNotConnected));
}

// WM_CLOSE and WM_DESTROY: the bar goes, and with it the Options menu it
// owns; item updates that still arrive before the loop ends must not reach
// that menu, so optionsMenu is cleared with it.
void OnClose() {
  StopTray();
  DestroyWindow(AppGlobals.menuBar);
  AppGlobals.menuBar = nullptr;
  AppGlobals.optionsMenu = nullptr;
  PostQuitMessage(0);
}

// The step waiting for the first paint (AfterFirstPaint), null when none.
void (*gAfterFirstPaint)() = nullptr;

void RunAfterFirstPaint(HWND hwnd) {
  KillTimer(hwnd, kFirstPaintTimer);
  if (void (*step)() = std::exchange(gAfterFirstPaint, nullptr))
    step();
}

} // namespace

void AfterFirstPaint(HWND hwnd, void (*step)()) {
  gAfterFirstPaint = step;
  SetTimer(hwnd, kFirstPaintTimer, kFirstPaintWaitMs, nullptr);
}

LRESULT MainWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
  case WM_CREATE:
    OnCreate(hwnd);
    return 0;
  case WM_PAINT:
    PaintMainWindow(hwnd);
    // Posted, not run here: the picture reaches the screen when the paint
    // returns.
    if (gAfterFirstPaint)
      PostMessageW(hwnd, WM_AFTER_FIRST_PAINT, 0, 0);
    return 0;
  case WM_AFTER_FIRST_PAINT:
    RunAfterFirstPaint(hwnd);
    return 0;
  case WM_SIZE:
    PlaceConnectButton(hwnd);
    return 0;
  case WM_CLOSE:
  case WM_DESTROY:
    OnClose();
    return 0;
  case WM_HELP:
    if (!CreateProcessW(u"peghelp", u"file:Vantrel.htm", nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, nullptr, nullptr)) {
      const DWORD why = GetLastError();
      // No program of the desktop can open it: Vantrel shows it itself.
      if (why != ERROR_FILE_NOT_FOUND && ShowHelpWindow(HelpDocumentPath().c_str()))
        return 0;
      TellHelpNotShown(hwnd, why);
    }
    return 0;
  case WM_SYSCOMMAND:
    // The window's close button: with a tray icon the window only hides,
    // as its Done button hides it; the tray's Quit ends the program.
    if ((wParam & 0xFFF0) == SC_CLOSE && TrayInUse()) {
      ShowWindow(hwnd, SW_HIDE);
      return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  case WM_COMMAND:
    TrayBeforeCommand(LOWORD(wParam));
    if (OnOptionsCommand(hwnd, wParam, lParam))
      return 0;
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  case WM_TIMER:
    if (wParam == kSipTimer)
      SHSipPreference(GetFocus(), SIP_DOWN);
    else if (wParam == kFirstPaintTimer)
      RunAfterFirstPaint(hwnd);
    return 0;
  case WM_BATTERY_REPORTED:
    TrayAfterBatteryReport();
    return 0;
  case WM_INITMENUPOPUP:
    if (AppGlobals.optionsMenuPending == 1) {
      AppGlobals.optionsMenu = reinterpret_cast<HMENU>(wParam);
      if (wParam != 0) {
        AppGlobals.optionsMenuPending = 0;
        InitOptionsMenu(AppGlobals.optionsMenu);
      }
    }
    if (wParam != 0 && reinterpret_cast<HMENU>(wParam) == AppGlobals.optionsMenu)
      ShowStartAtLogin();
    return 0;
  case WM_LINK_PHASE:
    OnLinkPhase(hwnd, wParam, lParam);
    TrayAfterLinkPhase(hwnd, wParam, lParam);
    return 0;
  case WM_CALIBRATE:
    PostMessageW(hwnd, WM_COMMAND, kCommandCalibration, 0);
    return 0;
  case WM_STATUS_TEXT_CHANGED:
    OnStatusTextChanged(hwnd, wParam);
    TrayAfterStatusText(hwnd, wParam);
    return 0;
  case WM_KEYS_NOT_ALLOWED:
    OnKeysNotAllowed(hwnd);
    return 0;
  case WM_KEYS_BACKEND_CHOSEN:
    OnKeysBackendChosen(hwnd);
    return 0;
  case WM_KEYS_KEPT_FROM_OWN_WINDOWS:
    OnKeysKeptFromOwnWindows(hwnd, wParam);
    return 0;
  default:
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

bool CreateMainWindow(HINSTANCE instance, int showCommand) {
  AppGlobals.hInstance = instance;
  WCHAR title[kTitleUnits] = {};
  WCHAR className[kTitleUnits] = {};
  LoadStringW(instance, 1, title, kTitleUnits);
  LoadStringW(instance, 1, className, kTitleUnits);

  // One instance: in this process by its window, across processes by the
  // instance claim (which hands this launch's request to the running one).
  if (HWND running = FindWindowW(className, nullptr)) {
    SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(running) | 1u));
    ShowWindow(running, SW_SHOW);
    return false;
  }
  if (!ClaimInstance())
    return false;

  WNDCLASSW cls = {};
  cls.style = CS_HREDRAW | CS_VREDRAW;
  cls.lpfnWndProc = MainWndProc;
  cls.hInstance = instance;
  cls.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconApp));
  cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  // The theme's window background, light or dark.
  cls.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_BTNFACE + 1));
  cls.lpszClassName = className;
  if (!RegisterClassW(&cls))
    return false;

  HWND hwnd = CreateWindowExW(0, className, title, WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
  if (!hwnd)
    return false;
  AppGlobals.mainWindow = hwnd;

  // The window's size is its content's (the screen's edge permitting,
  // which the toolkit sees to).
  if (HDC hdc = GetDC(hwnd)) {
    RECT window = {}, client = {};
    GetWindowRect(hwnd, &window);
    GetClientRect(hwnd, &client);
    const MainLayout layout = LayoutMainWindow(hdc, hwnd, client);
    ReleaseDC(hwnd, hdc);
    MoveWindow(hwnd, window.left, window.top, layout.content.cx, layout.content.cy, FALSE);
  }
  ShowWindow(hwnd, showCommand);
  UpdateWindow(hwnd);
  return true;
}
