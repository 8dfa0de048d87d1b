#include "dialogs/selection_dialog.h"

#include "app/globals.h"
#include "dialogs/dialog_template.h"

// The layout loader opens this dialog, and the loader is also linked into
// programs without a window system (the key and link tests, the benchmarks),
// which cannot link the dialog's procedure: it draws and uses the shell's
// menu bar. The reference is therefore weak; the program proper links the
// procedure through the text pages' launcher (help_page_launcher.cpp), and
// without it the dialog runs with the plain procedure.
__attribute__((weak)) INT_PTR SelectionDialogProc(HWND dialog, UINT msg, WPARAM wParam,
                                                  LPARAM lParam);

namespace {

constexpr WORD kTemplatePocketPc = 146;
constexpr WORD kTemplateSmartphone = 138;

} // namespace

void OpenSelectionDialog(HWND owner) {
  const WORD id = AppGlobals.isSmartphone ? kTemplateSmartphone : kTemplatePocketPc;
  DLGPROC proc = SelectionDialogProc ? SelectionDialogProc : PlainDialogProc;
  RunDialogTemplate(id, owner, proc);
}
