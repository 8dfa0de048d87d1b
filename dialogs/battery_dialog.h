// The battery status page (template 132).
#pragma once

#include "platform/window.h"

// Runs the page modally, owned by owner; returns when it has closed. Opens
// nothing when the template is not present.
void OpenBatteryDialog(HWND owner);

INT_PTR BatteryDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);

// The charge shown for a battery level, 0..99 percent of the way from
// thresholds[4] (empty) to thresholds[0] (full).
int BatteryChargePercent(float level, const float thresholds[5]);
// Whether the level counts as normal (reaches one of thresholds[0..3]).
bool BatteryChargeNormal(float level, const float thresholds[5]);
