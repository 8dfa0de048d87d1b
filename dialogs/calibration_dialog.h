// The calibration dialog (template 134).
#pragma once

#include "platform/wintypes.h"

#include <cstdint>

// The calibration step the dialog shows (0: the first).
extern int32_t calibrationStep;

// Starts at the first step (calibrationStep := 0) and runs the dialog
// modally, owned by owner; returns when it has closed. Opens nothing when the
// template is not present.
void OpenCalibrationDialog(HWND owner);
