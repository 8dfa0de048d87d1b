// The main window's commands: the Options menu, the soft keys, the connect
// button and the Done button.
#pragma once

#include "platform/window.h"
#include "resources/resource_ids.h"

#include <cstdint>

// Handles WM_COMMAND for the main window hwnd (the command is the low 16
// bits of wParam; lParam matters to command 120 only). Returns true when the
// command is one of the window's; false leaves it to DefWindowProcW.
bool OnOptionsCommand(HWND hwnd, WPARAM wParam, LPARAM lParam);

// The arguments the autostart entry starts the program with: connect at
// once, and stay in the system tray.
extern const char *const kStartAtLoginArguments[2];

// "Start at login" shows whether the autostart entry exists now (it may have
// been removed or written outside the program): called as the Options menu
// opens.
void ShowStartAtLogin();

// The link's idle time-out in milliseconds for the item the time-out menu
// checks (the stored "Keyboard Timeout"), so the menu never shows a value
// that is not in force; when the stored index names no item, the stored
// "Connection Timeout". Given to the link at start-up.
int32_t CheckedTimeoutMilliseconds();
