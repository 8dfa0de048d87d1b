// The main window's commands: the Options menu, the soft keys, the connect
// button and the Done button.
#pragma once

#include "platform/window.h"

// Command identifiers.
enum : UINT {
  kCommandDone = 1,
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
  kCommandTimeout1 = 125,
  kCommandTimeout5 = 126,
  kCommandConnectButton = 138,
  kCommandResetComPort = 146,
  kCommandGeneralHelp = 40006,
  kCommandConnectivityHelp = 40007,
  kCommandOptionsHelp = 40008,
  kCommandQuickMenu = 40010,
  kCommandQuit = 40002,
};

// Handles WM_COMMAND for the main window hwnd (the command is the low 16
// bits of wParam; lParam matters to command 120 only). Returns true when the
// command is one of the window's; false leaves it to DefWindowProcW.
bool OnOptionsCommand(HWND hwnd, WPARAM wParam, LPARAM lParam);
