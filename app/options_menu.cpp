#include "app/options_menu.h"

#include "app/instance.h"
#include "app/main_window.h"
#include "app/menu_state.h"
#include "app/shutdown.h"
#include "app/tray.h"
#include "common/globals.h"
#include "common/messages.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "dialogs/about_dialog.h"
#include "dialogs/battery_dialog.h"
#include "dialogs/calibration_dialog.h"
#include "dialogs/help_page.h"
#include "dialogs/hot_tips_dialog.h"
#include "dialogs/selection_dialog.h"
#include "dialogs/text_page.h"
#include "dialogs/typing_settings_dialog.h"
#include "keys/keycode_table.h"
#include "link/link_controller.h"
#include "link/port_discovery.h"
#include "platform/autostart.h"
#include "platform/gdi.h"
#include "platform/menus.h"
#include "platform/qt_app.h"
#include "platform/system.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace {

HWND LinkWindow() { return AppGlobals.link ? AppGlobals.link->typingWnd : nullptr; }

// The connection time-out choices: the item and the index stored as
// "Keyboard Timeout", which names the milliseconds given to the link
// (TimeoutChoiceMilliseconds).
struct TimeoutChoice {
  UINT command;
  int32_t index;
};
constexpr TimeoutChoice kTimeouts[] = {
    {kCommandTimeout1, 0},
    {kCommandTimeout5, 1},
    {kCommandTimeout10, 2},
    {kCommandTimeoutNever, 3},
};
static_assert(sizeof kTimeouts / sizeof kTimeouts[0] == kTimeoutChoiceCount);

void ChooseTimeout(const TimeoutChoice &choice) {
  SettingsStore::WriteDword(u"Keyboard Timeout", choice.index);
  for (const TimeoutChoice &other : kTimeouts) {
    if (other.command == choice.command)
      MenuState::Check(other.command);
    else
      MenuState::Uncheck(other.command);
  }
  PostMessageW(LinkWindow(), WM_SET_CONNECTION_TIMEOUT, 0, TimeoutChoiceMilliseconds(choice.index));
}

// Writes or removes the autostart entry; a failure (a read-only config
// folder, a full disk) is told in a message box, and the check mark shows
// what is on disk afterwards either way.
void ToggleStartAtLogin(HWND hwnd) {
  std::string why;
  bool done;
  if (AutostartEnabled()) {
    done = AutostartDisable(&why);
  } else {
    const std::vector<std::string> arguments(std::begin(kStartAtLoginArguments),
                                             std::end(kStartAtLoginArguments));
    done = AutostartEnable(OwnProgramPath(), arguments, &why);
  }
  ShowStartAtLogin();
  if (!done) {
    const std::u16string text =
        std::u16string(UiText(kUiStartAtLoginFailed,
                              u"Vantrel could not change its start at login:")) +
        u" " + Utf8ToUtf16(why);
    MessageBoxW(hwnd, text.c_str(), u"Vantrel", MB_OK | MB_ICONEXCLAMATION);
  }
}

void ToggleKeyclicks() {
  int32_t value;
  if (SettingsStore::ReadNumber(Settings::kKeyclicks) != 0) {
    value = 0;
    SettingsStore::WriteDword(u"Keyclicks", 0);
    MenuState::Uncheck(kCommandKeyclicks);
  } else {
    value = 1;
    SettingsStore::WriteDword(u"Keyclicks", 1);
    MenuState::Check(kCommandKeyclicks);
  }
  PostMessageW(LinkWindow(), WM_SET_KEYCLICKS, 0, value);
}

void Quit(HWND hwnd) {
  // Sent, not posted: the link has sent its disconnect packet to the
  // keyboard before the program starts to close.
  if (HWND link = LinkWindow())
    SendMessageW(link, WM_LINK_QUIT, 0, 0);
  PostMessageW(hwnd, WM_CLOSE, 0, 0);
}

// The person's language takes effect at once: the UI strings are loaded
// anew, the option lists labelled from them, the toolkit's own buttons
// translated, and the menu bar, the main window and the tray show them.
// Dialogs, menus and message boxes read the strings when they show.
void ApplyLanguage(HWND hwnd) {
  if (!LoadUiStrings())
    return; // neither the file nor English could be read: the program ends
  SetToolkitLanguage(UiLanguageLocale());
  labelSettingChoices();
  ShowNewLanguage(hwnd);
  TrayAfterLanguageChange();
}

// The selection dialog in layout mode (0) or language mode (1). A new
// layout is loaded only at start-up, so a changed layout offers to restart
// the program; a new language is applied at once.
void ChangeLanguageOrLayout(HWND hwnd, uint8_t mode) {
  WCHAR layoutBefore[kSettingTextUnits];
  WCHAR layoutAfter[kSettingTextUnits];
  WCHAR languageBefore[kSettingTextUnits];
  WCHAR languageAfter[kSettingTextUnits];
  SettingsStore::ReadString(u"keycode", layoutBefore);
  SettingsStore::ReadString(u"language", languageBefore);
  AppGlobals.selectionMode = mode;
  OpenSelectionDialog(hwnd);
  AppGlobals.selectionMode = 0;
  SettingsStore::ReadString(u"keycode", layoutAfter);
  SettingsStore::ReadString(u"language", languageAfter);
  if (wcscmp(languageBefore, languageAfter) != 0)
    ApplyLanguage(hwnd);
  if (wcscmp(layoutBefore, layoutAfter) == 0)
    return;
  // The layout is read at start-up: Vantrel restarts itself to use it, as
  // it ends on Quit (the keyboard told), or uses it from its next start.
  if (AskWithVerbsW(hwnd,
                    UiText(kUiAskRestartForLayout, u"The new keyboard layout is used once Vantrel "
                                                   u"has restarted. Restart Vantrel now?"),
                    u"Vantrel", MB_ICONQUESTION, UiText(kUiVerbRestartNow, u"Restart Now"),
                    UiText(kUiVerbLater, u"Later")) != IDYES)
    return;
  RequestRestart();
  Quit(hwnd);
}

void ResetComPort(HWND hwnd) {
  const int answer = MessageBoxW(
      hwnd,
      UiText(kUiAskForgetKeyboard,
             u"This removes the Bluetooth pairing of your keyboard with this computer and restarts "
             u"Vantrel. You then pair the keyboard again. Continue?"),
      u"Vantrel", MB_YESNO | MB_ICONQUESTION);
  if (answer != IDYES)
    return;
  ForgetKeyboard();
  MenuState::Grey(kCommandResetComPort);
  // The restart is made once the program has ended as Quit ends it: the
  // keyboard is told and the machine may sleep again before the fresh start.
  RequestRestart();
  Quit(hwnd);
}

void OpenHelpText(HWND hwnd, const WCHAR *file) {
  WCHAR path[MAX_PATH];
  LanguageTextPath(path, file);
  OpenHelpPage(hwnd, path);
}

void ShowQuickMenu(HWND hwnd) {
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_BYPOSITION | MF_STRING, kCommandAbout, u"About");
  const UINT greyed = AppGlobals.linkState.load() == LINK_TYPING ? MF_GRAYED : 0;
  AppendMenuW(menu, MF_BYPOSITION | MF_STRING | greyed, kCommandResetComPort, u"Reset ComPort");
  RECT window = {};
  GetWindowRect(hwnd, &window);
  TrackPopupMenuEx(menu, TPM_BOTTOMALIGN, 0, window.bottom, hwnd, nullptr);
  DestroyMenu(menu);
}

} // namespace

const char *const kStartAtLoginArguments[2] = {"--connect", "--hidden"};

int32_t CheckedTimeoutMilliseconds() {
  const int32_t milliseconds =
      TimeoutChoiceMilliseconds(SettingsStore::ReadNumber(Settings::kKeyboardTimeout));
  return milliseconds >= 0 ? milliseconds : SettingsStore::ReadNumber(Settings::kConnectionTimeout);
}

void ShowStartAtLogin() {
  if (AutostartEnabled())
    MenuState::Check(kCommandStartAtLogin);
  else
    MenuState::Uncheck(kCommandStartAtLogin);
}

bool OnOptionsCommand(HWND hwnd, WPARAM wParam, LPARAM lParam) {
  const UINT command = LOWORD(wParam);
  for (const TimeoutChoice &choice : kTimeouts) {
    if (choice.command == command) {
      ChooseTimeout(choice);
      return true;
    }
  }
  switch (command) {
  case kCommandDone:
    ShowWindow(hwnd, SW_HIDE);
    return true;
  case kCommandShowWindow:
    ShowWindow(hwnd, SW_SHOW);
    SetForegroundWindow(hwnd);
    return true;
  case kCommandConnected:
  case kCommandConnectButton:
    PostMessageW(LinkWindow(), WM_TOGGLE_CONNECTION, 0, 0);
    return true;
  case kCommandKeyclicks:
    ToggleKeyclicks();
    return true;
  case kCommandStartAtLogin:
    ToggleStartAtLogin(hwnd);
    return true;
  case kCommandBattery:
    OpenBatteryDialog(hwnd);
    return true;
  case kCommandCalibration:
    OpenCalibrationDialog(hwnd);
    return true;
  case kCommandTypingSettings:
    OpenTypingSettingsDialog(hwnd);
    return true;
  case kCommandAbout:
    OpenAboutDialog(hwnd);
    return true;
  case kCommandHotTips:
    OpenHotTipsDialog(hwnd, reinterpret_cast<HWND>(lParam));
    return true;
  case kCommandLanguage:
    ChangeLanguageOrLayout(hwnd, 0);
    return true;
  case kCommandDisplayLanguage:
    ChangeLanguageOrLayout(hwnd, 1);
    return true;
  case kCommandHelp:
    PostMessageW(hwnd, WM_HELP, 0, 0);
    return true;
  case kCommandResetComPort:
    ResetComPort(hwnd);
    return true;
  case kCommandGeneralHelp:
    OpenHelpText(hwnd, u"GeneralHelp.txt");
    return true;
  case kCommandConnectivityHelp:
    OpenHelpText(hwnd, u"ConnectivityHelp.txt");
    return true;
  case kCommandOptionsHelp:
    OpenHelpText(hwnd, u"OptionsHelp.txt");
    return true;
  case kCommandQuickMenu:
    ShowQuickMenu(hwnd);
    return true;
  case kCommandQuit:
    Quit(hwnd);
    return true;
  default:
    return false;
  }
}
