// Driving a modal dialog from inside its own loop: a script runs on the UI
// thread once the dialog is open (openDialog set), and message boxes are
// answered from a list while their texts are recorded.
#pragma once

#include "platform/window.h"

#include <functional>
#include <string>
#include <vector>

struct ShownBox {
  std::u16string text;
  std::u16string caption;
  UINT type;
};

// Runs open() (which opens a modal dialog and returns when it has closed)
// while script(dialog) runs from the dialog's loop. A dialog still open 5 s
// later is ended and counted as a failure. Returns false on that time-out.
bool DriveDialog(const std::function<void()> &open, const std::function<void(HWND)> &script);

// Message boxes shown from now on are recorded and answered in turn with
// answers (then IDOK).
void ScriptMessageBoxes(std::vector<int> answers);
std::vector<ShownBox> &ShownBoxes();
void StopScriptingMessageBoxes();

// A plain 240 x 320 window standing in for the main window, which the
// full-screen dialogs cover; made before any other window so that it is the
// one the platform takes for the main window. Also AppGlobals.mainWindow.
HWND MakeMainWindowStandIn();

// Picks entry index of a combo box the way a user does: selects it and
// tells the dialog with CBN_SELENDOK.
void PickComboEntry(HWND dialog, int id, int index);
