// The 52 UI strings from the language file, loaded at start-up and again
// when the person chooses another language (user interface thread). A
// string once handed out is never freed or changed: a later load only makes
// UiString return the new texts.
#pragma once

#include "platform/wintypes.h"

constexpr int kUiStringCount = 52;

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
  // Status line: keys typed while one of Vantrel's own windows is active
  // are dropped.
  kUiKeysKeptFromOwnWindows = 51,
};

// Loads the UI strings from InstallDir + SettingsStore "language", falling
// back to InstallDir + "English.lang". Returns true when loaded; when neither
// file opens, posts the quit request and returns false.
bool LoadUiStrings();

// UI string n (0..40). Never null: "" before loading or for a missing field.
const WCHAR *UiString(int n);

// Tests: frees the loaded strings and goes back to the state before loading;
// no pointer from UiString may be kept across this call.
void ResetUiStrings();
