// The main window's commands: the Options menu, the soft keys, the connect
// button and the Done button.
#pragma once

#include "platform/window.h"
#include "resources/resource_ids.h"

// Handles WM_COMMAND for the main window hwnd (the command is the low 16
// bits of wParam; lParam matters to command 120 only). Returns true when the
// command is one of the window's; false leaves it to DefWindowProcW.
bool OnOptionsCommand(HWND hwnd, WPARAM wParam, LPARAM lParam);
