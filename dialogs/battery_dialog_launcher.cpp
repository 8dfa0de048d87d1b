#include "dialogs/battery_dialog.h"

#include "dialogs/dialog_template.h"

void OpenBatteryDialog(HWND owner) { RunDialogTemplate(132, owner, BatteryDialogProc); }
