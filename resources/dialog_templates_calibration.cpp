// Dialog templates of the calibration (134) dialogs.
#include "resources/resources.h"

void RegisterCalibrationDialogTemplates() {}
