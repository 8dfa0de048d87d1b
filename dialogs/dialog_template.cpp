#include "dialogs/dialog_template.h"

#include "common/globals.h"

bool RunDialogTemplate(WORD templateId, HWND owner, DLGPROC proc) {
  HRSRC resource = FindResourceW(AppGlobals.hInstance, MAKEINTRESOURCEW(templateId), RT_DIALOG);
  if (resource == nullptr)
    return false;
  HGLOBAL loaded = LoadResource(AppGlobals.hInstance, resource);
  const auto *tmpl = static_cast<const DLGTEMPLATE *>(LockResource(loaded));
  DialogBoxIndirectParamW(AppGlobals.hInstance, tmpl, owner, proc, 0);
  return true;
}

INT_PTR PlainDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
