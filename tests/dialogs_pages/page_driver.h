// Drives a modal dialog from inside its own loop: the action is posted to a
// helper window before the dialog is opened and runs once the dialog's loop
// dispatches it, with the dialog (AppGlobals.openDialog) set up.
#pragma once

#include "platform/window.h"

#include <functional>

// The action runs on the next pump of this thread's messages. If the dialog
// it was meant for is still open afterwards, it is closed with IDOK so that a
// failing test cannot hang.
void WhenOpen(std::function<void(HWND dialog)> action);

