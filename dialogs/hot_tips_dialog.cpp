// The hot tips page: "PDA_Hottips.txt" of InstallDir, full screen. When it
// closes it hides itself first and then brings back the window that had the
// focus when Alt+Esc opened it.
#include "dialogs/hot_tips_dialog.h"

#include "common/globals.h"
#include "dialogs/dialog_template.h"
#include "dialogs/text_page.h"
#include "platform/shell.h"
#include "resources/resource_ids.h"

namespace {

void ShowReturnWindow() {
  if (AppGlobals.hotTipsReturnWindow)
    ShowWindow(AppGlobals.hotTipsReturnWindow, SW_SHOW);
}

} // namespace

INT_PTR HotTipsDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
  case WM_INITDIALOG: {
    InitDialogPage(dialog, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN, kMenuBarDone);
    static WCHAR page[kTextPageUnits];
    WCHAR path[MAX_PATH];
    LanguageTextPath(path, u"PDA_Hottips.txt");
    ReadTextPage(path, page);
    if (CreateTextWindow(dialog, page, false)) {
      AppGlobals.openDialog = dialog;
      return TRUE;
    }
    // Without its text the page is not counted as open: the next Alt+Esc
    // opens a new one rather than showing this one.
    AppGlobals.hotTipsOpen = 0;
    ShowReturnWindow();
    return FALSE;
  }
  case WM_COMMAND:
    // Done, a lost link (IDOK) or the window closed (IDCANCEL).
    if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == kCommandPageDone) {
      AppGlobals.hotTipsOpen = 0;
      ShowWindow(dialog, SW_HIDE);
      ShowReturnWindow();
      EndDialog(dialog, 0);
      return TRUE;
    }
    return FALSE;
  default:
    return FALSE;
  }
}

void OpenHotTipsDialog(HWND owner, HWND returnWindow) {
  if (AppGlobals.hotTipsOpen == 1) {
    ShowWindow(AppGlobals.openDialog.load(), SW_SHOW);
    return;
  }
  AppGlobals.hotTipsOpen = 1;
  AppGlobals.hotTipsReturnWindow = returnWindow;
  // A missing template opens nothing; the flag must not then claim the page
  // is open, or Alt+Esc would never open it again.
  if (!RunDialogTemplate(kDialogHotTips, owner, HotTipsDialogProc))
    AppGlobals.hotTipsOpen = 0;
}
