#include "dialogs/about_dialog.h"

#include "dialogs/dialog_template.h"

void OpenAboutDialog(HWND owner) { RunDialogTemplate(107, owner, AboutDialogProc); }

void OpenAboutMoreDialog(HWND owner) { RunDialogTemplate(137, owner, AboutMoreDialogProc); }
