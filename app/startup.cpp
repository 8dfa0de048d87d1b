#include "app/startup.h"

#include "app/inject_host.h"
#include "app/install_dir.h"
#include "app/main_window.h"
#include "app/options_menu.h"
#include "app/shutdown.h"
#include "app/tray.h"
#include "common/globals.h"
#include "common/messages.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "dialogs/selection_dialog.h"
#include "link/link_controller.h"
#include "platform/files.h"
#include "platform/power.h"
#include "platform/process.h"
#include "platform/qt_app.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "platform/system_info.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "platform/win32.h"
#include "resources/resource_ids.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kLanguageNameUnits = 256;
constexpr UINT kAcceleratorTable = 2;

bool IsUnset(const WCHAR *value) { return value[0] == 0 || wcscmp(value, u"None") == 0; }

bool IsFile(const WCHAR *path) {
  const DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Says on stderr, in the trace and, on a display, in a message box why
// Vantrel cannot start and what to do about it.
void TellCannotStart(const std::string &problem) {
  std::string text = "Vantrel cannot start: " + problem +
                     ". Install Vantrel again (sudo apt install --reinstall vantrel)";
  if (const char *root = getenv("VANTREL_ROOT"); root && *root)
    text += ", or set VANTREL_ROOT to the folder that holds usr/share/vantrel";
  text += ".";
  fprintf(stderr, "vantrel: %s\n", text.c_str());
  const std::u16string wide = Utf8ToUtf16(text);
  NKDbgPrintfW(u"%s\r\n", wide.c_str());
  // Not offscreen: nobody would see the box, and it would hold the program.
  if (VantrelQtOnScreen())
    MessageBoxW(nullptr, wide.c_str(), u"Vantrel", MB_OK | MB_ICONHAND);
}

// The start-up's steps that the window's first picture does not need: the
// tray icon, the link (its window and the reader thread, which opens the
// port), the sleep watch, the Options menu's first states and the link's
// time-out. Run from the message loop once the window has painted, they no
// longer hold up the window, nor compete with it for the processor.
void FinishStartup() {
  StartTray(AppGlobals.mainWindow);

  static LinkController link;
  link.askForLayout = &OpenSelectionDialog;
  AppGlobals.link = &link;
  CreateLinkController(&link, AppGlobals.hInstance, AppGlobals.mainWindow);
  // A link lost to a suspend is connected again after the resume.
  StartSleepWatch(link.typingWnd, WM_MACHINE_SLEEP);

  SendMessageW(AppGlobals.mainWindow, WM_INITMENUPOPUP,
               reinterpret_cast<WPARAM>(AppGlobals.optionsMenu), kMenuMain);
  // The link runs with the time-out the menu shows checked.
  PostMessageW(link.typingWnd, WM_SET_CONNECTION_TIMEOUT, 0, CheckedTimeoutMilliseconds());
  // What the start-up freed (the layouts' measuring surfaces, the pictures
  // decoded for their sizes, the language file's buffer) goes back to the
  // system instead of staying with the program while it waits.
  ReleaseFreedMemory();
}

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

bool FindDataFolder() {
  const bool listed = FindInstallDir();
  const std::string root = HostPathFor(u"");
  std::string problem;
  if (!listed) {
    problem = "its device root " + root + " cannot be read";
  } else if (AppGlobals.InstallDir[0] == 0) {
    const std::string system = SystemDataDir()[0] ? HostPathFor(SystemDataDir()) : std::string();
    problem = (system.empty() ? "no" : "neither " + system + " nor a") +
              std::string(" folder named Vantrel below ") + root + " was found";
  } else {
    WCHAR english[MAX_PATH];
    wnsprintfW(english, MAX_PATH, u"%sEnglish.lang", AppGlobals.InstallDir);
    if (IsFile(english))
      return true;
    problem = "its data folder " + HostPathFor(AppGlobals.InstallDir) +
              " lacks its files (English.lang is not there)";
  }
  TellCannotStart(problem);
  return false;
}

int VantrelStartup(HINSTANCE instance, int showCommand) {
  AppGlobals.hInstance = instance;
  // Nothing of the program's work starts before its files are known to be
  // there: without them it cannot show a word.
  if (!FindDataFolder())
    return kCannotStartExitCode;
  SetHelpFolder(AppGlobals.InstallDir);
  // The way to type keys is chosen beside the rest of the start-up: the
  // desktop's portal starts on demand and may take seconds to answer, and
  // the window is not to wait for it (nor is connecting).
  StartChoosingInjectBackend();

  SettleLanguage();
  // A quit signal during a message box of the steps so far (a settings
  // database that cannot be used) ends the program before it has a window.
  if (QuitSignalled())
    return 0;
  if (!LoadUiStrings()) {
    TellCannotStart("its language files cannot be read from " + HostPathFor(AppGlobals.InstallDir));
    return kCannotStartExitCode;
  }
  SetToolkitLanguage(UiLanguageLocale());
  CheckTestMode();
  if (QuitSignalled() || !CreateMainWindow(instance, showCommand))
    return 0;
  DirectQuitSignalsTo(AppGlobals.mainWindow);
  InjectHostWindowMade(AppGlobals.mainWindow);
  HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(kAcceleratorTable));
  // Before the first paint: the layout depends on the kind of device.
  DetectPlatform();
  // The rest waits for the window's first picture; a window that is not
  // shown has none to wait for.
  if (showCommand == SW_HIDE || !VantrelQtActive())
    FinishStartup();
  else
    AfterFirstPaint(AppGlobals.mainWindow, &FinishStartup);

  MSG msg = {};
  while (GetMessageW(&msg, nullptr, 0, 0)) {
    if (!TranslateAcceleratorW(msg.hwnd, accelerators, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return static_cast<int>(msg.wParam);
}
