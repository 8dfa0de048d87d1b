// Kept apart from dialog_template.cpp: programs without the window system
// link the template runner but never a dialog page's set-up.
#include "dialogs/dialog_template.h"

#include "dialogs/menu_bar.h"
#include "platform/shell.h"

void InitDialogPage(HWND dialog, DWORD flags, UINT barId) {
  SHINITDLGINFO info = {};
  info.dwMask = SHIDIM_FLAGS;
  info.hDlg = dialog;
  info.dwFlags = flags;
  SHInitDialog(&info);
  CreateMenuBar(dialog, barId);
}
