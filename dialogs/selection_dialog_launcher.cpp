#include "dialogs/selection_dialog.h"

#include "app/globals.h"
#include "dialogs/dialog_template.h"

namespace {

constexpr WORD kTemplatePocketPc = 146;
constexpr WORD kTemplateSmartphone = 138;

} // namespace

void OpenSelectionDialog(HWND owner) {
  const WORD id = AppGlobals.isSmartphone ? kTemplateSmartphone : kTemplatePocketPc;
  RunDialogTemplate(id, owner, SelectionDialogProc);
}
