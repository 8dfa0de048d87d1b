#include "dialogs/hot_tips_dialog.h"

#include "app/globals.h"
#include "dialogs/dialog_template.h"

uint8_t hotTipsOpen = 0;
HWND hotTipsReturnWindow = nullptr;

void OpenHotTipsDialog(HWND owner, HWND returnWindow) {
  if (hotTipsOpen == 1) {
    ShowWindow(AppGlobals.openDialog.load(), SW_SHOW);
    return;
  }
  hotTipsOpen = 1;
  hotTipsReturnWindow = returnWindow;
  // A missing template opens nothing; the flag must not then claim the page
  // is open, or Alt+Esc would never open it again.
  if (!RunDialogTemplate(133, owner, PlainDialogProc))
    hotTipsOpen = 0;
}
