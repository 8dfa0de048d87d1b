#include "dialogs/calibration_dialog.h"

#include "dialogs/dialog_template.h"

int32_t calibrationStep = 0;

void OpenCalibrationDialog(HWND owner) {
  calibrationStep = 0;
  RunDialogTemplate(134, owner, PlainDialogProc);
}
