// The soft-key menu bar's contents and the answers its window gives, apart
// from how each build shows the bar: TB_GETBUTTONINFO, SHCMBM_GETMENU and
// SHCMBM_GETSUBMENU answered from the buttons (platform/handheld_shell.h
// says what they return). Needs nothing of the window system. Internal to
// the platform layer.
#pragma once

#include "platform/shell.h"

#include <string>
#include <vector>

// One button, as the bar's resource gave it (MENUBARBUTTON).
struct MenuBarButton {
  UINT command;
  BYTE state, style;      // TBSTATE_*, TBSTYLE_*
  std::u16string caption; // the string table's or the resource's text
  HMENU popup;            // owned by the bar's menu; null for a plain button
};

struct MenuBarContents {
  HMENU menu = nullptr; // the whole menu resource; whoever shows the bar destroys it
  std::vector<MenuBarButton> buttons;
};

// Answers msg for bar (null: no bar, the answers for none): true, with the
// answer in *result, for the three messages above; false for any other.
// TBIF_TEXT copies the caption, cut to the caller's cchText units.
bool AnswerMenuBarMessage(const MenuBarContents *bar, UINT msg, WPARAM wParam, LPARAM lParam,
                          LRESULT *result);
