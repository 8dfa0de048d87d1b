// Dialog templates of the calibration (134) dialogs.
#include "platform/resource_formats.h"
#include "resources/resources.h"

namespace {

// The calibration dialog draws everything itself: no controls. Style 0x8 is
// kept as the template has always carried it.
const DLGTEMPLATE kCalibrationDialog{
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT | 0x8, 0, u"Calibration", u"MS Shell Dlg", 8,
    0, 0, 156, 145, nullptr, 0};

} // namespace

void RegisterCalibrationDialogTemplates() {
  RegisterResource(RT_DIALOG, kDialogCalibration, &kCalibrationDialog, sizeof kCalibrationDialog);
}
