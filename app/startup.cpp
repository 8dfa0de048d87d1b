#include "app/startup.h"

#include "app/install_dir.h"
#include "app/main_window.h"
#include "app/shutdown.h"
#include "app/tray.h"
#include "common/globals.h"
#include "common/messages.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "dialogs/selection_dialog.h"
#include "link/link_controller.h"
#include "platform/power.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/system_info.h"
#include "platform/win32.h"
#include "resources/resource_ids.h"

namespace {

constexpr int kLanguageNameUnits = 256;
constexpr int32_t kDefaultConnectionTimeoutMs = 180000;
constexpr UINT kAcceleratorTable = 2;

bool IsUnset(const WCHAR *value) { return value[0] == 0 || wcscmp(value, u"None") == 0; }

} // namespace

void SettleLanguage() {
  WCHAR deviceLanguage[kLanguageNameUnits] = {};
  const LANGID language = GetUserDefaultLangID();
  if (GetLocaleInfoW(MAKELCID(language, SORT_DEFAULT), LOCALE_SLANGUAGE, deviceLanguage,
                     kLanguageNameUnits) == 0)
    deviceLanguage[0] = 0;
  NKDbgPrintfW(u"default language is %s\r\n", deviceLanguage);

  WCHAR stored[kSettingTextUnits];
  SettingsStore::ReadString(u"language", stored);
  NKDbgPrintfW(u"registry language is %s\r\n", stored);
  if (!IsUnset(stored))
    return;

  NKDbgPrintfW(u"No language detected, forcing to device language\r\n");
  // The first word of the language's name, then ".lang".
  WCHAR fileName[kLanguageNameUnits + 8];
  size_t word = 0;
  while (deviceLanguage[word] != 0 && deviceLanguage[word] != u' ')
    ++word;
  WStrCopyN(fileName, word + 1, deviceLanguage);
  wcscat(fileName, u".lang");
  NKDbgPrintfW(u"Trying to find language file %s\r\n", fileName);
  SettingsStore::WriteString(u"language", fileName);
  SettingsStore::WriteDword(u"Initialised", 0);
  SettingsStore::WriteString(u"keycode", u"Intl English.kcod");
}

void CheckTestMode() {
  WCHAR path[MAX_PATH];
  wnsprintfW(path, MAX_PATH, u"%stestmode.txt", AppGlobals.InstallDir);
  HANDLE file = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    AppGlobals.testMode = 1;
    CloseHandle(file);
  }
}

void DetectPlatform() {
  WCHAR platformName[64] = {}; // 128 bytes
  AppGlobals.isSmartphone = 0;
  if (SystemParametersInfoW(SPI_GETPLATFORMTYPE, sizeof platformName, platformName, 0)) {
    platformName[63] = 0;
    AppGlobals.isSmartphone = _wcsicmp(platformName, u"Smartphone") == 0 ? 1 : 0;
  }
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (GetVersionExW(&version))
    AppGlobals.osMajorVersion = static_cast<int32_t>(version.dwMajorVersion);
}

int VantrelStartup(HINSTANCE instance, int showCommand) {
  AppGlobals.hInstance = instance;
  if (!FindInstallDir())
    return 0;
  SetHelpFolder(AppGlobals.InstallDir);

  SettleLanguage();
  HACCEL accelerators = nullptr;
  if (LoadUiStrings()) {
    CheckTestMode();
    if (!CreateMainWindow(instance, showCommand))
      return 0;
    DirectQuitSignalsTo(AppGlobals.mainWindow);
    StartTray(AppGlobals.mainWindow);
    accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(kAcceleratorTable));
    DetectPlatform();

    static LinkController link;
    link.askForLayout = &OpenSelectionDialog;
    AppGlobals.link = &link;
    CreateLinkController(&link, instance, AppGlobals.mainWindow);
    // A link lost to a suspend is connected again after the resume.
    StartSleepWatch(link.typingWnd, WM_MACHINE_SLEEP);

    SendMessageW(AppGlobals.mainWindow, WM_INITMENUPOPUP,
                 reinterpret_cast<WPARAM>(AppGlobals.optionsMenu), kMenuMain);
    const int32_t timeout =
        SettingsStore::ReadDword(u"Connection Timeout", kDefaultConnectionTimeoutMs);
    PostMessageW(link.typingWnd, WM_SET_CONNECTION_TIMEOUT, 0, timeout);
  }

  MSG msg = {};
  while (GetMessageW(&msg, nullptr, 0, 0)) {
    if (!TranslateAcceleratorW(msg.hwnd, accelerators, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return static_cast<int>(msg.wParam);
}
