#include "dialogs/menu_bar.h"

#include "common/globals.h"
#include "common/ui_strings.h"
#include "platform/shell.h"
#include "platform/win32.h"

HWND CreateMenuBar(HWND window, UINT barId) {
  SHMENUBARINFO info = {};
  info.cbSize = 36;
  info.hwndParent = window;
  info.dwFlags = 0;
  info.nToolBarId = barId;
  info.hInstRes = AppGlobals.hInstance;
  info.nBmpId = 0;
  info.cBmpImages = 0;
  if (!SHCreateMenuBar(&info)) {
    MessageBoxW(AppGlobals.mainWindow, UiText(kUiMenuBarFailed, u"SHCreateMenuBar Failed"),
                u"Vantrel", MB_OK);
    return nullptr;
  }
  return info.hwndMB;
}
