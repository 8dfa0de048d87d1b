// The language and layout selection dialog.
#pragma once

#include "platform/window.h"

// Runs the selection dialog modally with owner as its owner and returns when
// it has closed; the choice is stored in SettingsStore ("keycode" in layout
// mode, "language" in language mode, after AppGlobals.selectionMode). Uses
// the Smartphone template on Smartphone-class devices. Opens nothing when the
// dialog template is not present.
void OpenSelectionDialog(HWND owner);

// Lists the ".lang" and ".kcod" files of InstallDir and stores their names
// (cut at the first ".") as "Languages" and "Layouts", each name followed by
// ",". Folders are not listed.
void ScanLanguageAndLayoutFiles();

// The dialog procedure of templates 146 (radio buttons made at run time) and
// 138 (list boxes 1018 and 1020).
INT_PTR SelectionDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);

// Control ids of the selection dialog.
constexpr int kSelectionFirstButton = 500; // button i has id 500 + i
constexpr int kSelectionMaxButtons = 10;
constexpr int kSelectionLayoutList = 1018;
constexpr int kSelectionLanguageList = 1020;
