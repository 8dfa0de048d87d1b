// The formats of the program's resources: plain C++ data, registered at
// start-up with RegisterResource(type, id, &data, sizeof data). The platform
// keeps the pointer, so every resource (and the texts and arrays it points
// to) must live for the whole process: static data.
//
//   RT_MENU      MENURESOURCE        LoadMenuW, menu bars
//   RT_MENUBAR   MENUBARRESOURCE     SHCreateMenuBar (nToolBarId)
//   RT_DIALOG    DLGTEMPLATE         DialogBoxIndirectParamW
//   RT_STRING    STRINGRESOURCE      LoadStringW (one entry per string id)
//   RT_ICON      IMAGERESOURCE       LoadIconW, the window icon
//   RT_ACCELERATOR                   none are defined; LoadAcceleratorsW
//                                    answers null
#pragma once

#include "platform/window.h"

// The resources hold their texts in English. The program may give a lookup
// that answers, for such a text, the text to show in the person's language
// (nullptr: show the resource's own). Menu items, window titles, control
// texts and soft-key captions of the resources pass through it each time
// they are shown; LoadStringW gives the resource's own text. One lookup for
// the process, set on the user-interface thread before windows are made.
// On Windows the texts pass through it once, when the menus and dialogs
// are made.
using ResourceTextLookup = const WCHAR *(*)(const WCHAR *text);
void SetResourceTextLookup(ResourceTextLookup lookup);
// The text to show for the resource text text: the lookup's answer, or text
// itself (null only when text is null).
LPCWSTR ResourceText(LPCWSTR text);

#ifndef _WIN32 // Win32's own on Windows
#define RT_ACCELERATOR MAKEINTRESOURCEW(9)
#define RT_RCDATA MAKEINTRESOURCEW(10)
#define RT_GROUP_ICON MAKEINTRESOURCEW(14)
#endif
#define RT_MENUBAR u"SHMENUBAR"

// One menu item. An item with children is a pop-up (its id is not used);
// flags may hold MF_GRAYED, MF_CHECKED and MF_SEPARATOR (menus.h).
struct MENUITEMRESOURCE {
  LPCWSTR text;
  UINT id;
  UINT flags;
  const MENUITEMRESOURCE *children;
  UINT childCount;
};

// A menu: its top-level items. A menu used by a menu bar usually holds one
// pop-up per drop-down button.
struct MENURESOURCE {
  const MENUITEMRESOURCE *items;
  UINT count;
};

// Menu bar button styles and states (the common controls' own on Windows).
#ifndef TBSTATE_ENABLED
#define TBSTATE_ENABLED 0x04
#define TBSTYLE_BUTTON 0x0000
#define TBSTYLE_DROPDOWN 0x0008
#define TBSTYLE_AUTOSIZE 0x0010
#endif

// One soft key. A button with popupIndex >= 0 opens pop-up number
// popupIndex of the bar's menu resource; otherwise pressing it posts
// WM_COMMAND command to the bar's parent. The caption is string table entry
// captionId when that exists, else the text caption.
struct MENUBARBUTTON {
  UINT command;
  BYTE state; // TBSTATE_ENABLED
  BYTE style; // TBSTYLE_*
  UINT captionId;
  LPCWSTR caption;
  int popupIndex; // -1: no pop-up
};

struct MENUBARRESOURCE {
  WORD menuId; // the menu resource holding the pop-ups (0: none)
  UINT buttonCount;
  const MENUBARBUTTON *buttons; // left to right, at most 2 are shown
};

// A control of a dialog template. Geometry in dialog units.
struct DLGITEMTEMPLATEW {
  LPCWSTR className; // "BUTTON", "COMBOBOX", "LISTBOX", "EDIT", "STATIC" or a registered class
  LPCWSTR text;      // may be null
  int id;
  DWORD style;
  DWORD exStyle;
  short x, y, cx, cy;
};

// Dialog styles (Win32's own on Windows).
#ifndef _WIN32
#define DS_SETFONT 0x40L
#define DS_MODALFRAME 0x80L
#define DS_CENTER 0x0800L
#endif

// A dialog template (the type DialogBoxIndirectParamW takes). Dialog units
// become pixels through the average character width and the height of the
// template's font: x * avgWidth / 4, y * height / 8.
struct DLGTEMPLATE {
  DWORD style;
  DWORD exStyle;
  LPCWSTR caption;
  LPCWSTR fontName; // null or unknown: the desktop's default face
  WORD pointSize;   // 0: the default size
  short x, y, cx, cy;
  const DLGITEMTEMPLATEW *items;
  UINT itemCount;
};

// A string table entry, registered under its string id.
struct STRINGRESOURCE {
  LPCWSTR text;
};

// An image (PNG, BMP, ICO, ... as a file's bytes), e.g. the program icon.
struct IMAGERESOURCE {
  const BYTE *bytes;
  DWORD size;
};
