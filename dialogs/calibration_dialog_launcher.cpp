#include "dialogs/calibration_dialog.h"

#include "app/globals.h"
#include "dialogs/dialog_template.h"
#include "link/messages.h"

int32_t calibrationStep = 0;

void OpenCalibrationDialog(HWND owner) {
  calibrationStep = 0;
  if (RunDialogTemplate(134, owner, CalibrationDialogProc))
    return;
  // No calibration dialog to run. If the link was put into calibration for
  // it (the user agreed to calibrate a new keyboard), nothing would ever end
  // that calibration and the status poll would stay stopped: hand the link
  // back to typing as a finished calibration does.
  if (AppGlobals.linkState.load() == LINK_CALIBRATING)
    PostMessageW(AppGlobals.typingWnd.load(), WM_END_CALIBRATION, 0, 0);
}
