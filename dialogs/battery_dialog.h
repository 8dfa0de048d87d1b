// The battery status page (template 132).
#pragma once

#include "platform/wintypes.h"

// Runs the page modally, owned by owner; returns when it has closed. Opens
// nothing when the template is not present.
void OpenBatteryDialog(HWND owner);
