// The typing settings dialog (template 136).
#pragma once

#include "platform/wintypes.h"

// Runs the dialog modally, owned by owner; returns when it has closed. Opens
// nothing when the template is not present.
void OpenTypingSettingsDialog(HWND owner);
