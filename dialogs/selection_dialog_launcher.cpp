#include "dialogs/selection_dialog.h"

#include "app/globals.h"
#include "platform/win32.h"

namespace {

constexpr WORD kTemplatePocketPc = 146;
constexpr WORD kTemplateSmartphone = 138;

// Stand-in until the dialog's own procedure lands, which replaces it: it
// handles nothing.
INT_PTR SelectionDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

} // namespace

void OpenSelectionDialog(HWND owner) {
  const WORD id = AppGlobals.isSmartphone ? kTemplateSmartphone : kTemplatePocketPc;
  HRSRC resource = FindResourceW(AppGlobals.hInstance, MAKEINTRESOURCEW(id), RT_DIALOG);
  if (resource == nullptr) {
    return;
  }
  HGLOBAL loaded = LoadResource(AppGlobals.hInstance, resource);
  const auto *tmpl = static_cast<const DLGTEMPLATE *>(LockResource(loaded));
  DialogBoxIndirectParamW(AppGlobals.hInstance, tmpl, owner, SelectionDialogProc, 0);
}
