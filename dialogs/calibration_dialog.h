// The calibration dialog (template 134): asks whether to calibrate, then
// shows which key to press at each step until the keyboard reports its result
// or a failure; declining offers to reset the stored calibration instead.
#pragma once

#include "platform/window.h"

#include <cstdint>

// Starts at the first step (AppGlobals.calibrationStep := 0) and runs the dialog
// modally, owned by owner; returns when it has closed. Opens nothing when the
// template is not present.
void OpenCalibrationDialog(HWND owner);

// The dialog procedure of template 134.
INT_PTR CalibrationDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);

// The file name (in InstallDir) of the picture of `step` on a client area
// `clientWidth` pixels wide, and the UI string number of its instruction;
// null and -1 for a step that shows nothing.
const WCHAR *CalibrationPictureName(int32_t step, int clientWidth);
int CalibrationInstruction(int32_t step);
