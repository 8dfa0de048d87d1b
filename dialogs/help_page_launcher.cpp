#include "dialogs/help_page.h"

#include "app/globals.h"
#include "dialogs/dialog_template.h"
#include "platform/text.h"

void OpenHelpPage(HWND owner, LPCWSTR path) {
  WStrCopyN(AppGlobals.helpPagePath, sizeof AppGlobals.helpPagePath / sizeof(WCHAR),
            path ? path : u"");
  RunDialogTemplate(135, owner, HelpPageProc);
}
