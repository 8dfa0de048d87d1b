#include "dialogs/help_page.h"

#include "dialogs/dialog_template.h"
#include "platform/text.h"

WCHAR helpPagePath[256] = {};

void OpenHelpPage(HWND owner, LPCWSTR path) {
  WStrCopyN(helpPagePath, sizeof helpPagePath / sizeof helpPagePath[0], path ? path : u"");
  RunDialogTemplate(135, owner, PlainDialogProc);
}
