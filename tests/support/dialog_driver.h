// Driving the program's modal dialogs from inside their own loop: a script
// runs on the UI thread once the dialog is open (AppGlobals.openDialog set),
// while the call that opened it waits as it does for a user. Needs the
// toolkit (toolkit.h) started.
#pragma once

#include "platform/window.h"

#include <functional>

namespace testsupport {

struct DialogDrive {
  // Lets the toolkit show the dialog for this long before the script runs:
  // until it is exposed, a repaint asked for with UpdateWindow cannot
  // happen at once.
  int settleMs = 0;
  // After the script, a dialog still open and visible is closed with IDOK.
  bool closeAfterScript = false;
  // A dialog still open this long after opening is ended (EndDialog -1) and
  // the drive counts as failed: a broken dialog cannot hang the test. Only
  // a hang guard, far above any dialog's real time.
  int watchdogMs = 20000;
};

// The two drives most tests use: a dialog given time to be exposed before
// the script (its painting is checked), and a dialog closed after the script.
inline constexpr DialogDrive kDriveShown{.settleMs = 150};
inline constexpr DialogDrive kDriveCloseAfter{.closeAfterScript = true};

// Runs open() (which opens a modal dialog and returns when it has closed)
// while script(dialog) runs from the dialog's loop; script may be empty.
// Drives nest: a script may drive a dialog its dialog opens. Returns false
// when the watchdog had to end the dialog. If open() shows no dialog, the
// script does not run.
bool DriveDialog(const std::function<void()> &open, const std::function<void(HWND dialog)> &script,
                 DialogDrive how = {});

// Picks entry `index` of combo box `id` the way a user does: selects it and
// tells the dialog with CBN_SELENDOK.
void PickComboEntry(HWND dialog, int id, int index);

// What a person does to a dialog's window: its title bar's close button
// (the window manager's close request), and a key press (a Qt::Key value)
// reaching the control with the focus, or the window when none has it, and
// going on to the window when the control does not take it.
void CloseDialogWindow(HWND dialog);
void PressDialogKey(HWND dialog, int qtKey);

// A plain 240 x 320 window standing in for the main window, which the
// full-screen dialogs cover; made before any other window so that it is the
// one the platform takes for the main window. Also set as
// AppGlobals.mainWindow. The caller destroys it.
HWND MakeMainWindowStandIn();

} // namespace testsupport
