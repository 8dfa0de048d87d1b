#include "dialogs/typing_settings_dialog.h"

#include "dialogs/dialog_template.h"

void OpenTypingSettingsDialog(HWND owner) { RunDialogTemplate(136, owner, PlainDialogProc); }
