#include "dialogs/typing_settings_dialog.h"

#include "app/globals.h"
#include "dialogs/dialog_template.h"

void OpenTypingSettingsDialog(HWND owner) {
  const WORD id = AppGlobals.isSmartphone == 1 ? kTypingSettingsSmartphoneTemplate
                                               : kTypingSettingsTemplate;
  RunDialogTemplate(id, owner, TypingSettingsDialogProc);
}
