// The handheld shell's calls the program uses, the same on every platform:
// the soft-key menu bar, dialog set-up and the on-screen keyboard
// preference. Included by platform/shell.h: include that one.
#pragma once

#include "platform/menus.h"
#include "platform/resource_formats.h"
#include "platform/window.h"

typedef DWORD COLORREF;

// SHCreateMenuBar: builds a bar with the buttons of menu bar resource
// nToolBarId (RT_MENUBAR) at the bottom of hwndParent, below its client area.
// The left button of the program's bar opens its pop-up (after the parent
// hears WM_INITMENUPOPUP with the pop-up's menu), a plain button posts its
// command to the parent as WM_COMMAND. On success TRUE and hwndMB = the bar
// window, which belongs to the parent (destroyed with it, or earlier with
// DestroyWindow); FALSE when the resource is missing or the parent is not a
// window. cbSize is not checked. On Windows the bar is the parent's own
// menu (buttons with a pop-up become drop-down menus, the others commands)
// and hwndMB is the parent itself, which answers SHCMBM_GETMENU.
struct SHMENUBARINFO {
  DWORD cbSize;
  HWND hwndParent;
  DWORD dwFlags;
  UINT nToolBarId;
  HINSTANCE hInstRes;
  int nBmpId;
  int cBmpImages;
  HWND hwndMB;
  COLORREF clrBk;
};
#define SHCMBF_EMPTYBAR 0x0001
#define SHCMBF_HIDDEN 0x0002
#define SHCMBF_HIDESIPBUTTON 0x0004
BOOL SHCreateMenuBar(SHMENUBARINFO *info);

// Messages to the menu bar window.
// TB_GETBUTTONINFO: wParam = index (TBIF_BYINDEX) or command, lParam =
// TBBUTTONINFO*; fills the fields named in dwMask and returns the index, or
// -1 for no such button. lParam of a drop-down button is its pop-up HMENU
// (owned by the bar).
#ifndef TB_GETBUTTONINFO // the common controls' own on Windows
#define TB_GETBUTTONINFO (WM_USER + 63)
#endif
// SHCMBM_GETMENU: returns the bar's menu (the whole menu resource, owned by
// the bar), or null when it has none.
#define SHCMBM_GETMENU (WM_USER + 402)
#define SHCMBM_GETSUBMENU (WM_USER + 401) // lParam = button command

#ifndef TBIF_IMAGE // the common controls' own on Windows
#define TBIF_IMAGE 0x00000001
#define TBIF_TEXT 0x00000002
#define TBIF_STATE 0x00000004
#define TBIF_STYLE 0x00000008
#define TBIF_LPARAM 0x00000010
#define TBIF_COMMAND 0x00000020
#define TBIF_SIZE 0x00000040
#define TBIF_BYINDEX 0x80000000

struct TBBUTTONINFOW {
  UINT cbSize;
  DWORD dwMask;
  int idCommand;
  int iImage;
  BYTE fsState;
  BYTE fsStyle;
  WORD cx;
  UINT_PTR lParam;
  LPWSTR pszText; // TBIF_TEXT: the caller's buffer of cchText units
  int cchText;
};
typedef TBBUTTONINFOW TBBUTTONINFO;
#endif

// SHInitDialog. SHIDIF_DONEBUTTON gives the window a Done button in its title
// strip that sends WM_COMMAND IDOK (1) to the window; SHIDIF_SIZEDLGFULLSCREEN
// makes the dialog cover the main window's client area (its own menu bar,
// if any, then sits where the main window's bar is). Works for dialogs and
// for ordinary top-level windows. Returns FALSE for a bad window. On Windows
// it sizes nothing: TRUE for a dialog.
struct SHINITDLGINFO {
  DWORD dwMask;
  HWND hDlg;
  DWORD dwFlags;
};
#define SHIDIM_FLAGS 0x0001
#define SHIDIF_DONEBUTTON 0x0001
#define SHIDIF_SIZEDLG 0x0002
#define SHIDIF_SIZEDLGFULLSCREEN 0x0004
#define SHIDIF_SIPDOWN 0x0008
#define SHIDIF_FULLSCREENNOMENUBAR 0x0010
BOOL SHInitDialog(SHINITDLGINFO *info);

// The software input panel. SIP_DOWN hides the desktop's on-screen keyboard
// where there is one; otherwise nothing happens (always so on Windows).
// Always TRUE.
enum SIPSTATE { SIP_UNCHANGED = 0, SIP_UP = 1, SIP_DOWN = 2, SIP_FORCEDOWN = 3 };
BOOL SHSipPreference(HWND hwnd, SIPSTATE state);
// Whether there is a software input panel for SHSipPreference to lower: the
// toolkit's own on-screen keyboard is in use. A desktop with a physical
// keyboard has none (false; always so on Windows).
bool HasSoftwareInputPanel();
