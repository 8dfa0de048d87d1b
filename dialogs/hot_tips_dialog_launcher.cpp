#include "dialogs/hot_tips_dialog.h"

#include "app/globals.h"
#include "dialogs/dialog_template.h"

void OpenHotTipsDialog(HWND owner, HWND returnWindow) {
  if (AppGlobals.hotTipsOpen == 1) {
    ShowWindow(AppGlobals.openDialog.load(), SW_SHOW);
    return;
  }
  AppGlobals.hotTipsOpen = 1;
  AppGlobals.hotTipsReturnWindow = returnWindow;
  // A missing template opens nothing; the flag must not then claim the page
  // is open, or Alt+Esc would never open it again.
  if (!RunDialogTemplate(133, owner, HotTipsDialogProc))
    AppGlobals.hotTipsOpen = 0;
}
