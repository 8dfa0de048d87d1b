#include "app/menu_state.h"

#include "common/globals.h"
#include "platform/menus.h"

namespace MenuState {

void Check(UINT command) {
  if (HMENU menu = AppGlobals.optionsMenu) {
    EnableMenuItem(menu, command, MF_BYCOMMAND | MF_ENABLED);
    CheckMenuItem(menu, command, MF_BYCOMMAND | MF_CHECKED);
  }
}

void Uncheck(UINT command) {
  if (HMENU menu = AppGlobals.optionsMenu)
    CheckMenuItem(menu, command, MF_BYCOMMAND | MF_UNCHECKED);
}

void Grey(UINT command) {
  if (HMENU menu = AppGlobals.optionsMenu)
    EnableMenuItem(menu, command, MF_BYCOMMAND | MF_GRAYED);
}

void Enable(UINT command) {
  if (HMENU menu = AppGlobals.optionsMenu)
    EnableMenuItem(menu, command, MF_BYCOMMAND | MF_ENABLED);
}

} // namespace MenuState
