// The desktop's system tray: one icon of the program's, marked with the
// link's state, with a tooltip and a menu whose choices post WM_COMMAND to
// a window of the program's. Calls are made on the user-interface thread.
// On Windows the icon is the notification area's (Shell_NotifyIconW): the
// mark is told by the tooltip only, the icon being the owner window's.
#pragma once

#include "platform/wintypes.h"

#include <string>
#include <vector>

// The mark painted on the icon's corner.
enum class TrayIconMark { Grey, Amber, Green };

struct TrayMenuItem {
  UINT command;
  std::u16string text;
  bool enabled;
};

// True when the desktop toolkit runs and the desktop offers a system tray.
bool TrayIconAvailable();

// Shows the icon, drawn from the window class icon of `owner`; a click on
// it posts WM_COMMAND `clickCommand` to owner. Returns false (with a trace
// line) when there is no tray; true when shown (also when already shown).
bool TrayIconShow(HWND owner, UINT clickCommand);

// Gives the shown icon its mark, tooltip and menu (each menu item posts
// WM_COMMAND with its command to the owner). Does nothing while no icon is
// shown.
void TrayIconUpdate(TrayIconMark mark, const std::u16string &tooltip,
                    const std::vector<TrayMenuItem> &menu);

// Removes the icon; nothing when none is shown.
void TrayIconRemove();

// True while the icon is shown.
bool TrayIconShown();
