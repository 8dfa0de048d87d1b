// The help page: the text of the file the help launcher chose, full screen,
// with a Done soft key.
#include "dialogs/help_page.h"

#include "common/globals.h"
#include "dialogs/dialog_template.h"
#include "dialogs/text_page.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "resources/resource_ids.h"

INT_PTR HelpPageProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
  case WM_INITDIALOG: {
    // No Done button in the title: the soft key closes the page.
    InitDialogPage(dialog, SHIDIF_SIZEDLGFULLSCREEN, kMenuBarDone);
    static WCHAR page[kTextPageUnits];
    ReadTextPage(AppGlobals.helpPagePath, page);
    CreateTextWindow(dialog, page, false);
    AppGlobals.openDialog = dialog;
    return TRUE;
  }
  case WM_COMMAND:
    // Done, a lost link (IDOK) or the window closed (IDCANCEL).
    if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == kCommandPageDone) {
      EndDialog(dialog, 0);
      return TRUE;
    }
    return FALSE;
  default:
    return FALSE;
  }
}

void OpenHelpPage(HWND owner, LPCWSTR path) {
  WStrCopyN(AppGlobals.helpPagePath, sizeof AppGlobals.helpPagePath / sizeof(WCHAR),
            path ? path : u"");
  RunDialogTemplate(kDialogHelp, owner, HelpPageProc);
}
