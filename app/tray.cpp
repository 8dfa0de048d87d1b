#include "app/tray.h"

#include "app/main_window.h"
#include "app/tray_state.h"
#include "common/globals.h"
#include "common/ui_strings.h"
#include "dialogs/battery_dialog.h"
#include "platform/controls.h"
#include "platform/notify.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/tray.h"
#include "resources/resource_ids.h"

namespace {

TrayState gState;
// False once the program ends (and before it starts): nothing is told then.
bool gFollowing = false;

std::u16string ConnectCaption(HWND mainWindow) {
  WCHAR text[256] = {};
  GetWindowTextW(GetDlgItem(mainWindow, kConnectButtonId), text, 256);
  return text;
}

void ShowTrayState() {
  if (!TrayIconShown())
    return;
  TrayIconMark mark = TrayIconMark::Grey;
  if (gState.phase == TrayPhase::Connected)
    mark = TrayIconMark::Green;
  else if (gState.phase == TrayPhase::Busy)
    mark = TrayIconMark::Amber;
  const TrayTexts texts = {UiString(kUiConnect), UiString(kUiConnecting), UiString(kUiDisconnect),
                           UiText(kUiTrayShow, u"Show"), UiText(kUiMenuQuit, u"Quit")};
  std::vector<TrayMenuItem> menu;
  for (const TrayMenuEntry &entry : TrayMenu(gState, texts))
    menu.push_back({entry.command, entry.text, entry.enabled});
  TrayIconUpdate(mark, TrayTooltip(gState, UiText(kUiTrayBattery, u"Battery")), menu);
}

// The notices' texts come from the language file.
void Tell(TrayNotice notice) {
  if (!gFollowing || notice == TrayNotice::None)
    return;
  const std::string title = Utf16ToUtf8(UiString(kUiConnectionTitle));
  switch (notice) {
  case TrayNotice::Connected:
    ShowDesktopNotification(title, Utf16ToUtf8(UiString(kUiStatusConnected)), false);
    break;
  case TrayNotice::ConnectionLost: {
    const std::u16string how =
        gState.lastStatus.empty() ? UiString(kUiKeyboardDisconnected) : gState.lastStatus;
    ShowDesktopNotification(title, Utf16ToUtf8(how), false);
    break;
  }
  case TrayNotice::BatteryLow:
    ShowDesktopNotification(title, Utf16ToUtf8(UiString(kUiBatteryLow)), true);
    break;
  default:
    break;
  }
}

} // namespace

void TrayAfterLanguageChange() { ShowTrayState(); }

bool StartTray(HWND mainWindow) {
  gState = TrayState{};
  gState.caption = ConnectCaption(mainWindow);
  gFollowing = true;
  if (!TrayIconShow(mainWindow, kCommandShowWindow))
    return false;
  ShowTrayState();
  return true;
}

bool TrayInUse() { return TrayIconShown(); }

void TrayAfterLinkPhase(HWND mainWindow, WPARAM buttonState, LPARAM phase) {
  const TrayNotice notice = TrayOnLinkPhase(gState, static_cast<unsigned>(buttonState),
                                            static_cast<long>(phase), ConnectCaption(mainWindow));
  ShowTrayState();
  Tell(notice);
  // The handshake's status frame came before the connection was told; a
  // level the same as the last connection's is not reported again.
  if (phase == 2)
    TrayAfterBatteryReport();
}

void TrayAfterStatusText(HWND mainWindow, WPARAM buttonState) {
  TrayOnStatusText(gState, static_cast<unsigned>(buttonState), ConnectCaption(mainWindow));
  ShowTrayState();
}

void TrayBeforeCommand(UINT command) {
  switch (command) {
  case kCommandConnected:
  case kCommandConnectButton:
  case kCommandQuit:
    TrayOnDisconnectAsked(gState);
    break;
  default:
    break;
  }
}

void TrayAfterBatteryReport() {
  // The level is 0 until the keyboard's first status report.
  const float level = AppGlobals.batteryLevel.load();
  if (!(level > 0.0f))
    return;
  float thresholds[5];
  for (int i = 0; i < 5; ++i)
    thresholds[i] = AppGlobals.batteryThreshold[i];
  const int before = gState.batteryPercent;
  const TrayNotice notice = TrayOnBattery(gState, BatteryChargePercent(level, thresholds),
                                          !BatteryChargeNormal(level, thresholds));
  if (gState.batteryPercent != before)
    ShowTrayState();
  Tell(notice);
}

void StopTray() {
  gFollowing = false;
  TrayIconRemove();
}
