// The language and layout selection dialog.
#pragma once

#include "platform/wintypes.h"

// Runs the selection dialog modally with owner as its owner and returns when
// it has closed; the choice is stored in SettingsStore ("keycode" in layout
// mode). Uses the Smartphone template on Smartphone-class devices. Opens
// nothing when the dialog template is not present.
void OpenSelectionDialog(HWND owner);
