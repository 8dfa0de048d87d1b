// Running a dialog from its template in the program's resources.
#pragma once

#include "platform/window.h"

// Looks up dialog template templateId (RT_DIALOG) and runs it modally with
// owner as its owner and init parameter 0; returns when it has closed.
// Returns false, having opened nothing, when the template is not among the
// program's resources; true once the dialog has run.
bool RunDialogTemplate(WORD templateId, HWND owner, DLGPROC proc);

// A dialog procedure that handles nothing: the stand-in of a dialog whose
// own procedure has not been written yet.
INT_PTR PlainDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);

// The usual set-up of a dialog page: SHInitDialog with flags (Done button,
// full screen), then the soft-key bar of menu bar resource barId.
void InitDialogPage(HWND dialog, DWORD flags, UINT barId);
