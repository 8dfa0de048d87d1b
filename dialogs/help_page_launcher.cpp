#include "dialogs/help_page.h"

#include "app/globals.h"
#include "dialogs/dialog_template.h"
#include "dialogs/selection_dialog.h"
#include "platform/text.h"

// Links the selection dialog's procedure into every program that has the
// Options menu (see selection_dialog_launcher.cpp): the menu's commands pull
// in this file.
extern const DLGPROC kLinkedSelectionDialogProc;
const DLGPROC kLinkedSelectionDialogProc = SelectionDialogProc;

void OpenHelpPage(HWND owner, LPCWSTR path) {
  WStrCopyN(AppGlobals.helpPagePath, sizeof AppGlobals.helpPagePath / sizeof(WCHAR),
            path ? path : u"");
  RunDialogTemplate(135, owner, HelpPageProc);
}
