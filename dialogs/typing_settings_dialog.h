// The typing settings dialog (template 136).
#pragma once

#include "platform/window.h"

// Template 136 (kDialogTypingSettings) is the Pocket PC layout (combo boxes
// 1013, 1014, 1015). The Smartphone layout (list boxes 1003, 1006, 1009)
// lives beside it as its own template (kDialogTypingSettingsSmartphone),
// since both platforms' resources are present in one program.
//
// Runs the dialog modally (the layout of the platform in use), owned by owner; returns when it has
// closed. Opens nothing when the template is not present.
void OpenTypingSettingsDialog(HWND owner);

// Its procedure: each list choice is stored and sent to the keyboard at
// once; Done asks whether to keep the changes and otherwise puts back the
// values the dialog opened with.
INT_PTR TypingSettingsDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
