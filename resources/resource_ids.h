// The identifiers of the program's resources and of the commands its menus,
// soft keys and buttons send. Each number is defined here once; the
// resources register under these names and the windows and dialogs look
// them up by them.
#pragma once

#include "platform/wintypes.h"

// String table.
constexpr WORD kStringAppName = 1; // "Vantrel": window class and title
constexpr WORD kStringQuit = 108;  // menu bar caption
constexpr WORD kStringOptions = 109;
constexpr WORD kStringDone = 111; // caption of the dialogs' Done soft key
constexpr WORD kStringMore = 112; // caption of the About page's More soft key

// Menu 200 (the Options pop-up and Quit) and the soft-key bars.
constexpr WORD kMenuMain = 200;        // menu 200 and the main window's bar 200
constexpr WORD kMenuBarDone = 201;     // dialogs and pages: Done
constexpr WORD kMenuBarDoneMore = 202; // the About page: Done and More
constexpr WORD kMenuBarOkCancel = 203; // a choice: OK (Done's command) and Cancel

constexpr WORD kIconApp = 145;

// Dialog templates.
constexpr WORD kDialogAbout = 107;
constexpr WORD kDialogBattery = 132;
constexpr WORD kDialogKeyTest = 139;
constexpr WORD kDialogHotTips = 133;
constexpr WORD kDialogCalibration = 134;
constexpr WORD kDialogHelp = 135;
constexpr WORD kDialogTypingSettings = 136;
constexpr WORD kDialogAboutMore = 137;
constexpr WORD kDialogSelectionSmartphone = 138;
constexpr WORD kDialogSelection = 146;
constexpr WORD kDialogTypingSettingsSmartphone = 236;

// Commands (the low 16 bits of WM_COMMAND's wParam).
enum : UINT {
  // The main window's Done button.
  kCommandDone = 1,
  // Items of menu 200.
  kCommandConnected = 110,
  kCommandTimeout10 = 113,
  kCommandTimeoutNever = 114,
  kCommandKeyclicks = 115,
  kCommandBattery = 116,
  kCommandCalibration = 117,
  kCommandTypingSettings = 118,
  kCommandAbout = 119,
  kCommandHotTips = 120,
  kCommandLanguage = 121,
  kCommandHelp = 122,
  kCommandMenuQuit = 123, // the menu's own Quit item, which no soft key shows
  kCommandTimeout1 = 125,
  kCommandTimeout5 = 126,
  kCommandConnectButton = 138,
  kCommandResetComPort = 146,
  // The program's own items beside them: the desktop's start at login, and
  // the choice of the language (kCommandLanguage chooses the layout).
  kCommandStartAtLogin = 147,
  kCommandDisplayLanguage = 148,
  // Soft keys.
  kCommandOptions = 40001,
  kCommandQuit = 40002,
  kCommandPageDone = 40004, // Done on every dialog and page
  kCommandPageMore = 40005, // More on the About page
  // Keyboard shortcuts of the main window (accelerator table).
  kCommandGeneralHelp = 40006,
  kCommandConnectivityHelp = 40007,
  kCommandOptionsHelp = 40008,
  kCommandQuickMenu = 40010,
  // The tray icon's Show (and a click on the icon): the main window shows.
  kCommandShowWindow = 40011,
};
