// The main window's side of the link: the Options menu's first states, and
// what the link's phase and status notifications change on screen.
#include "app/instance.h"
#include "app/keys_reach.h"
#include "app/main_window.h"
#include "app/menu_state.h"
#include "common/globals.h"
#include "common/messages.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "dialogs/key_test.h"
#include "link/link_controller.h"
#include "link/port_discovery.h"
#include "platform/controls.h"
#include "platform/gdi.h"
#include "platform/shell.h"
#include "platform/win32.h"

namespace {

constexpr UINT kSipTimerPeriodMs = 1000;

// The link controller's window, or null before the link exists.
HWND LinkControllerWindow() { return AppGlobals.link ? AppGlobals.link->typingWnd : nullptr; }

// wParam 0 or 1 of a notification: the connect button and "Connected?"
// follow it together.
void ApplyButtonState(HWND hwnd, WPARAM buttonState) {
  if (buttonState == 0) {
    EnableWindow(GetDlgItem(hwnd, kConnectButtonId), FALSE);
    MenuState::Grey(110);
  } else if (buttonState == 1) {
    EnableWindow(GetDlgItem(hwnd, kConnectButtonId), TRUE);
    MenuState::Enable(110);
  }
}

// The button takes the width its new caption needs (PlaceConnectButton
// traces where it now is).
void SetConnectCaption(HWND hwnd, const WCHAR *text) {
  SetWindowTextW(GetDlgItem(hwnd, kConnectButtonId), text);
  PlaceConnectButton(hwnd);
  NKDbgPrintfW(u"Connect button: %s\r\n", text);
}

// Smartphone-class devices paint the status in the window itself.
void SetStatusLine(HWND hwnd, const WCHAR *text) {
  if (AppGlobals.isSmartphone != 1)
    return;
  WStrCopyN(AppGlobals.statusLine, sizeof AppGlobals.statusLine / sizeof(WCHAR), text);
  InvalidateRect(hwnd, nullptr, TRUE);
}

// What keeps keys from the windows, shown for the link's phase: the status
// line, and the connect button's place when the painted status comes or
// goes (it takes a line of the layout). Returns true when the message box
// that says what to do is due (TellKeysCannotReach).
bool ShowKeysReach(HWND hwnd, long phase) {
  const bool wasShown = KeysReachShownStatus() != nullptr;
  bool tell = false;
  if (const WCHAR *unreached = KeysReachOnLinkPhase(phase, &tell))
    SetStatusLine(hwnd, unreached);
  if (wasShown != (KeysReachShownStatus() != nullptr)) {
    PlaceConnectButton(hwnd);
    InvalidateRect(hwnd, nullptr, TRUE);
  }
  return tell;
}

} // namespace

void InitOptionsMenu(HMENU) {
  // The MenuState operations act on optionsMenu, which the caller has just
  // set to this menu.
  MenuState::Enable(110);
  MenuState::Uncheck(110);

  switch (SettingsStore::ReadNumber(Settings::kKeyboardTimeout)) {
  case 0:
    MenuState::Check(125);
    break;
  case 1:
    MenuState::Check(126);
    break;
  case 2:
    MenuState::Check(113);
    break;
  case 3:
    MenuState::Check(114);
    break;
  default:
    break;
  }

  const int32_t keyclicks = SettingsStore::ReadNumber(Settings::kKeyclicks);
  if (keyclicks != 0)
    MenuState::Check(115);
  else
    MenuState::Uncheck(115);
  PostMessageW(LinkControllerWindow(), WM_SET_KEYCLICKS, 0, keyclicks);

  MenuState::Grey(117);
  MenuState::Grey(118);
  MenuState::Grey(120);
  MenuState::Grey(116);
  MenuState::Enable(119);
  MenuState::Enable(122);
  MenuState::Enable(121);
  if (IsKeyboardPaired())
    MenuState::Enable(146);
  else
    MenuState::Grey(146);
}

void OnLinkPhase(HWND hwnd, WPARAM buttonState, LPARAM phase) {
  ApplyButtonState(hwnd, buttonState);
  switch (phase) {
  case 0:
    SetStatusLine(hwnd, UiString(kUiStatusNotConnected));
    SetConnectCaption(hwnd, UiString(kUiConnect));
    MenuState::Uncheck(110);
    MenuState::Grey(116);
    MenuState::Grey(117);
    MenuState::Grey(118);
    MenuState::Grey(120);
    MenuState::Enable(121);
    if (IsKeyboardPaired())
      MenuState::Enable(146);
    KillTimer(hwnd, kSipTimer);
    break;
  case 1:
    SetStatusLine(hwnd, UiString(kUiStatusConnecting));
    SetConnectCaption(hwnd, UiString(kUiConnecting));
    break;
  case 2:
    SetStatusLine(hwnd, UiString(kUiStatusConnected));
    SetConnectCaption(hwnd, UiString(kUiDisconnect));
    if (AppGlobals.testMode == 1) {
      runKeyTest(hwnd);
      AppGlobals.testMode = 0;
    }
    MenuState::Check(110);
    MenuState::Enable(116);
    MenuState::Enable(117);
    MenuState::Enable(118);
    MenuState::Enable(120);
    MenuState::Grey(146);
    MenuState::Grey(121);
    // The timer only asks for the software input panel to stay lowered:
    // where the platform has none, it would wake the program every second
    // for nothing, so it runs only where there is a panel to lower.
    if (HasSoftwareInputPanel())
      SetTimer(hwnd, kSipTimer, kSipTimerPeriodMs, nullptr);
    break;
  default:
    break;
  }
  // Keys that cannot reach the person's windows are never typed into
  // nowhere silently: the status says so while connected (painted on every
  // kind of device), and the first connection explains what to do.
  const bool tell = ShowKeysReach(hwnd, static_cast<long>(phase));
  if (AppGlobals.isSmartphone == 1)
    UpdateWindow(hwnd);
  ConnectRequestOnLinkPhase(static_cast<unsigned>(buttonState), static_cast<long>(phase));
  if (tell)
    TellKeysCannotReach(hwnd);
}

void OnKeysBackendChosen(HWND hwnd) {
  // Before the choice every backend counts as reaching the windows; a link
  // connected meanwhile learns now whether that holds.
  if (!KeysReachConnected())
    return;
  if (ShowKeysReach(hwnd, 2))
    TellKeysCannotReach(hwnd);
}

void OnKeysKeptFromOwnWindows(HWND hwnd, WPARAM kept) {
  // The key test hears the keyboard itself; what is dropped meanwhile is
  // only the Ctrl of a shortcut, which it does not test.
  if (kept != 0 && AppGlobals.keyTestDialog.load() != nullptr)
    return;
  const WCHAR *before = KeysReachShownStatus();
  MarkKeysKeptFromOwnWindows(kept != 0);
  const WCHAR *now = KeysReachShownStatus();
  if (now == before)
    return;
  if (now)
    NKDbgPrintfW(u"Status: %s\r\n", now);
  SetStatusLine(hwnd, now ? now : UiString(kUiStatusConnected));
  if ((before != nullptr) != (now != nullptr))
    PlaceConnectButton(hwnd);
  InvalidateRect(hwnd, nullptr, TRUE);
}

void OnKeysNotAllowed(HWND hwnd) {
  MarkKeysNotAllowed();
  if (const WCHAR *status = KeysReachShownStatus())
    SetStatusLine(hwnd, status);
  InvalidateRect(hwnd, nullptr, TRUE);
  TellKeysNotAllowed(hwnd);
}

void OnStatusTextChanged(HWND hwnd, WPARAM buttonState) {
  ApplyButtonState(hwnd, buttonState);
  WCHAR text[256];
  ReadStatusText(text, sizeof text / sizeof text[0]);
  // statusLine holds 99 characters: a longer status is cut there.
  SetStatusLine(hwnd, text);
  SetConnectCaption(hwnd, text);
}

void ShowNewLanguage(HWND hwnd) {
  // The texts of the phase the link is in; a status text of an attempt
  // under way is replaced by the attempt's next notice.
  const int32_t state = AppGlobals.linkState.load();
  if (state == LINK_TYPING || state == LINK_CALIBRATING) {
    SetStatusLine(hwnd, UiString(kUiStatusConnected));
    SetConnectCaption(hwnd, UiString(kUiDisconnect));
  } else if ((state == LINK_IDLE && AppGlobals.connectRequested.load() == 0) || state == 0) {
    SetStatusLine(hwnd, UiString(kUiStatusNotConnected));
    SetConnectCaption(hwnd, UiString(kUiConnect));
  }
  InvalidateRect(hwnd, nullptr, TRUE);
}
