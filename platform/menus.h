// Menus: pop-up menus built from a menu resource or item by item, their
// check and grey states, and showing one at a point. An item is addressed by
// command (MF_BYCOMMAND, the default: sub-menus are searched as well) or by
// position (MF_BYPOSITION, in this menu only).
//
// Ownership: a menu from LoadMenuW or CreatePopupMenu belongs to the caller
// (DestroyMenu), except once it is given to a menu bar (the bar destroys it)
// or appended as an MF_POPUP item (the parent destroys it). A sub-menu from
// GetSubMenu stays its parent's. A menu appended to two menus goes with the
// first of them destroyed; the other keeps its item without the pop-up.
// Menus are kept as they are headless; only showing one needs the toolkit.
// Every call accepts a bad or destroyed menu and then fails as it says.
#pragma once

#include "platform/window.h"

#define MF_BYCOMMAND 0x00000000u
#define MF_BYPOSITION 0x00000400u
#define MF_STRING 0x00000000u
#define MF_ENABLED 0x00000000u
#define MF_UNCHECKED 0x00000000u
#define MF_GRAYED 0x00000001u
#define MF_DISABLED 0x00000002u
#define MF_CHECKED 0x00000008u
#define MF_POPUP 0x00000010u
#define MF_SEPARATOR 0x00000800u

#define TPM_LEFTALIGN 0x0000u
#define TPM_CENTERALIGN 0x0004u
#define TPM_RIGHTALIGN 0x0008u
#define TPM_TOPALIGN 0x0000u
#define TPM_VCENTERALIGN 0x0010u
#define TPM_BOTTOMALIGN 0x0020u
#define TPM_RETURNCMD 0x0100u

struct TPMPARAMS {
  UINT cbSize;
  RECT rcExclude;
};

// The first pop-up of a menu resource keeps its position: GetSubMenu(menu, 0).
// Returns null when the resource is not registered.
HMENU LoadMenuW(HINSTANCE inst, LPCWSTR name);
// A new empty menu (CreateMenu makes the same kind: there are no menu bars
// of that sort here).
HMENU CreatePopupMenu();
HMENU CreateMenu();
// flags: MF_STRING, MF_SEPARATOR, MF_POPUP (id is then the HMENU),
// MF_GRAYED, MF_CHECKED. The text is copied. Returns FALSE for a bad menu,
// or with MF_POPUP a bad sub-menu or the menu itself.
BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR id, LPCWSTR text);
// Returns the previous state (MF_CHECKED or MF_UNCHECKED), or (DWORD)-1 when
// the item does not exist.
DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags);
// flags MF_ENABLED or MF_GRAYED (MF_DISABLED counts as grey). Returns the
// previous state (MF_ENABLED or MF_GRAYED) or -1 when the item does not exist.
BOOL EnableMenuItem(HMENU menu, UINT item, UINT flags);
// The item's MF_CHECKED | MF_GRAYED | MF_POPUP | MF_SEPARATOR bits, or
// (UINT)-1 when it does not exist.
UINT GetMenuState(HMENU menu, UINT item, UINT flags);
int GetMenuItemCount(HMENU menu); // -1 for a bad menu
UINT GetMenuItemID(HMENU menu, int pos); // (UINT)-1 for a pop-up or none
HMENU GetSubMenu(HMENU menu, int pos);   // null when that item is no pop-up
// Shows the menu at (x, y) in screen coordinates and returns when it has
// closed. The owner hears WM_INITMENUPOPUP (wParam = menu) first, and for each
// sub-menu as it opens. The chosen item is posted to the owner as WM_COMMAND
// (LOWORD(wParam) = id) and TRUE returned, also when nothing was chosen;
// with TPM_RETURNCMD the id (0 for none) is returned instead. Nothing is
// shown and 0 returned for a bad menu, off the user-interface thread,
// without the toolkit, or once the program is quitting. params is ignored.
BOOL TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND owner, TPMPARAMS *params);
// Frees the menu and its sub-menus; FALSE for a bad menu.
BOOL DestroyMenu(HMENU menu);
