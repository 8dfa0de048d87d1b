// The UI strings from the language file, loaded at start-up and again
// when the person chooses another language (user interface thread). A
// string once handed out is never freed or changed: a later load only makes
// UiString return the new texts.
#pragma once

#include "platform/wintypes.h"

constexpr int kUiStringCount = 119;

// Only this many bytes of a language file are read; the rest is ignored.
// The shipped files stay well below it (a test checks each one).
constexpr unsigned kLanguageFileReadLimit = 32768;

// The UI strings by their line in the language file.
enum UiStringId : int {
  kUiWelcome = 0, // main window text
  kUiAppName = 1, // not shown
  kUiConnect = 2, // connect button caption
  kUiConnecting = 3, // connect button caption
  kUiDisconnect = 4, // connect button caption
  kUiBatteryExplanation = 5,
  kUiBatteryFine = 6,
  kUiBatteryLow = 7,
  kUiAskCalibrateNewKeyboard = 8,
  kUiConnectionTitle = 9,
  kUiTypingSettingsTitle = 10,
  kUiCalibrationTitle = 11,
  kUiAskCalibrate = 12,
  kUiAskResetCalibration = 13,
  kUiCalibrationStep1 = 14,
  kUiCalibrationStep2 = 15,
  kUiCalibrationStep3 = 16,
  kUiCalibrationFinished = 17,
  kUiAskRetryCalibration = 18,
  kUiAskKeepTypingSettings = 19,
  kUiStatusNotConnected = 20, // status line, small screens
  kUiStatusConnecting = 21, // status line, small screens
  kUiStatusConnected = 22, // status line, small screens
  kUiKeyboardFound = 23, // status text
  kUiPortOpened = 24, // status text
  kUiDisconnecting = 25, // status text
  kUiKeyboardAskedToDisconnect = 26, // status text
  kUiKeyboardEndedConnection = 27, // status text
  kUiOpeningPort = 28, // status text, then the port name
  kUiLevelLowest = 29, // typing-setting levels (at most 9 characters)
  kUiLevelLow = 30,
  kUiLevelMedium = 31,
  kUiLevelHigh = 32,
  kUiLevelSlow = 33,
  kUiLevelFast = 34,
  kUiLevelShort = 35,
  kUiLevelLong = 36,
  kUiKeyboardDisconnected = 37,
  kUiConnectFailed = 38, // handheld
  kUiConnectFailedPhone = 39, // phone
  kUiFooter = 40,
  // Keys that cannot reach the person's windows: status lines, the
  // message's opening and the next steps it offers.
  kUiKeysNowhereStatus = 41,
  kUiKeysNotAllowedStatus = 42,
  kUiKeysNowhereWhy = 43,
  kUiKeysNotAllowedWhy = 44,
  kUiWhatToDo = 45,
  kUiStepAllowRequest = 46,
  kUiStepInstallPackage = 47, // a system-wide install (the Debian package)
  kUiStepInstallRule = 48,    // Vantrel run from its own folder
  kUiStepX11Session = 49,
  kUiStepOtherDesktop = 50,
  // Verbs that answer the questions (button captions).
  kUiVerbCalibrate = 51,
  kUiVerbNotNow = 52,
  kUiVerbReset = 53,
  kUiVerbKeepCurrent = 54,
  kUiVerbTryAgain = 55,
  kUiVerbCancel = 56,
  kUiVerbKeep = 57,
  kUiVerbDiscard = 58,
  // Texts of the menus, window titles, labels and buttons (the resources'
  // own English texts name them, see UiResourceText), then the messages.
  kUiMenuOptions = 59,
  kUiMenuQuit = 60,
  kUiMenuConnected = 61,
  kUiMenuConnectionTimeout = 62,
  kUiMenuTimeout1 = 63,
  kUiMenuTimeout5 = 64,
  kUiMenuTimeout10 = 65,
  kUiMenuTimeoutNever = 66,
  kUiMenuKeyclicks = 67,
  kUiMenuStartAtLogin = 68,
  kUiMenuBatteryStatus = 69,
  kUiMenuTypingSettings = 70,
  kUiMenuHotTips = 71,
  kUiMenuKeyboardLayout = 72,
  kUiMenuLanguage = 73,
  kUiMenuResetComport = 74,
  kUiMenuHelp = 75,
  kUiMenuAbout = 76,
  kUiButtonMore = 77,
  kUiButtonDone = 78,
  kUiTrayShow = 79,
  kUiTitleHotTips = 80,
  kUiTitleAboutMore = 81,
  kUiTitleKeyTest = 82,
  kUiTitleLayoutAndLanguage = 83,
  kUiLabelSensitivity = 84,
  kUiLabelRepeatRate = 85,
  kUiLabelRepeatDelay = 86,
  kUiLabelTest = 87,
  kUiLabelKeyboardLayout = 88,
  kUiChooseLanguage = 89,
  kUiChooseLayout = 90,
  kUiHelpNoViewer = 91,
  kUiHelpMissing = 92,
  kUiHelpNotStarted = 93,
  kUiStartAtLoginFailed = 94,
  kUiAskRestartForLayout = 95,
  kUiVerbRestartNow = 96,
  kUiVerbLater = 97,
  kUiAskForgetKeyboard = 98,
  kUiAboutNoKeyboard = 99,
  kUiAboutSerial = 100,
  kUiAboutFirmware = 101,
  kUiAboutLicence = 102,
  kUiKeyTestWrongKey = 103,
  kUiKeyTestCompleted = 104,
  kUiKeyTestPress = 105,
  kUiKeyTestNoList = 106,
  kUiKeyTestAskQuit = 107,
  kUiLayoutFileFailed = 108,
  kUiUnexpectedStatus = 109,
  kUiMenuBarFailed = 110,
  kUiTitleHelpWindow = 111,
  kUiTrayBattery = 112,
  kUiKeysXwaylandStatus = 113,
  kUiKeysXwaylandWhy = 114,
  kUiStepNoInjectSetting = 115,
  kUiAppRequestedDisconnect = 116, // the keyboard's status code 1
  kUiStatusMessageTitle = 117,     // caption of the status code 1 and 4 boxes
  // Status line: keys typed while one of Vantrel's own windows is active
  // are dropped.
  kUiKeysKeptFromOwnWindows = 118,
};

// Loads the UI strings from InstallDir + SettingsStore "language", falling
// back to InstallDir + "English.lang", and makes UiResourceText the
// platform's resource text lookup. Returns true when loaded; when neither
// file opens, posts the quit request and returns false.
bool LoadUiStrings();

// UI string n (0..kUiStringCount - 1). Never null: "" before loading or for a missing field.
const WCHAR *UiString(int n);

// UI string n, or english when the loaded file has no text for it (none
// loaded yet, or a language file written before the string was added), so
// that a person never meets an empty message or button. Never null.
const WCHAR *UiText(int n, const WCHAR *english);

// The text to show for a text of the program's resources (a menu item, a
// window title, a label, a button), given as the resource holds it in
// English: the UI string that translates it, or nullptr when there is none
// or the language file left it out (the resource's own text is shown).
const WCHAR *UiResourceText(const WCHAR *text);

// The locale of the language last loaded ("de", "fr", "es", "en"), by its
// file's name, for the toolkit's own texts (standard buttons, edit menus).
// "en" before loading and for a file the table does not know. Static text.
const char *UiLanguageLocale();

// Tests: frees the loaded strings and goes back to the state before loading;
// no pointer from UiString may be kept across this call.
void ResetUiStrings();
