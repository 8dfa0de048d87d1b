// Windows build: the handheld shell's calls the program uses, made of
// Win32's: a menu bar is the window's own menu (the program's bar table
// made into a Win32 menu), SHInitDialog sizes nothing, and the strings and
// the icon come from the program's tables in memory.
#pragma once

#include "platform/menus.h"
#include "platform/resource_formats.h"
#include "platform/window.h"

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
// Sets the parent's menu to the bar table nToolBarId (buttons with a
// pop-up become drop-down menus, the others commands); hwndMB is the
// parent itself, which answers SHCMBM_GETMENU with its menu. FALSE for a
// table not registered.
BOOL SHCreateMenuBar(SHMENUBARINFO *info);
#define TB_GETBUTTONINFO (WM_USER + 63)
#define SHCMBM_GETMENU (WM_USER + 402)
#define SHCMBM_GETSUBMENU (WM_USER + 401)
#ifndef TBIF_IMAGE
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
  DWORD_PTR lParam;
  LPWSTR pszText;
  int cchText;
};
typedef TBBUTTONINFOW TBBUTTONINFO;
#endif

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
// TRUE for a dialog; nothing to do on a desktop.
BOOL SHInitDialog(SHINITDLGINFO *info);
enum SIPSTATE { SIP_UNCHANGED = 0, SIP_UP = 1, SIP_DOWN = 2, SIP_FORCEDOWN = 3 };
// No input panel on a desktop: TRUE.
BOOL SHSipPreference(HWND hwnd, SIPSTATE state);
// A desktop with a physical keyboard has no input panel: false.
bool HasSoftwareInputPanel();

// The string table entry id from the program's table (then the
// executable's); as Win32's LoadStringW otherwise.
int VantrelLoadStringW(HINSTANCE inst, UINT id, LPWSTR buffer, int max);
// The program's icon (RT_ICON, a .ico image) when registered; else
// Win32's.
HICON VantrelLoadIconW(HINSTANCE inst, LPCWSTR name);
#define LoadStringW VantrelLoadStringW
#define LoadIconW VantrelLoadIconW
