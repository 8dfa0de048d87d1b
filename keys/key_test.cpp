#include "keys/key_test.h"

#include "dialogs/dialog_template.h"

void runKeyTest(HWND owner) { RunDialogTemplate(132, owner, PlainDialogProc); }
