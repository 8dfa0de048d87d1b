// Standard controls: BUTTON, COMBOBOX, LISTBOX, EDIT and STATIC windows made
// with CreateWindowExW (class names compared without regard to case). A
// control that is given a parent is always a child of that parent, with or
// without WS_CHILD, and lives in the parent's client area at the given
// position. Controls tell their parent what happened with WM_COMMAND:
// LOWORD(wParam) = control id, HIWORD(wParam) = notification code,
// lParam = the control's window.
//
// The control classes are registered by VantrelQtInit; a headless run calls
// RegisterControlClasses itself. Headless controls keep their state (text,
// check mark, items, selection) so the messages below answer the same.
#pragma once

#include "platform/window.h"

// Registers the five control classes once (later calls do nothing).
void RegisterControlClasses();

// Button styles (the low four bits are the kind of button).
#define BS_PUSHBUTTON 0x0000L
#define BS_DEFPUSHBUTTON 0x0001L
#define BS_CHECKBOX 0x0002L
#define BS_AUTOCHECKBOX 0x0003L
#define BS_RADIOBUTTON 0x0004L
#define BS_AUTORADIOBUTTON 0x0009L
#define BS_TYPEMASK 0x000FL
// Button messages and states. BS_CHECKBOX and BS_RADIOBUTTON change their
// mark only through BM_SETCHECK; the AUTO kinds also on a click (an auto
// radio button clears the other auto radio buttons of its parent).
#define BM_GETCHECK 0x00F0
#define BM_SETCHECK 0x00F1
#define BM_CLICK 0x00F5
// A push button's natural size in the desktop's style (its caption with the
// style's margins): lParam is a SIZE filled in; returns TRUE, or FALSE for
// another control or without the toolkit (the SIZE is left as it was).
#define BCM_GETIDEALSIZE 0x1601
struct SIZE {
  LONG cx;
  LONG cy;
};
#define BST_UNCHECKED 0x0000
#define BST_CHECKED 0x0001
#define BN_CLICKED 0

// Combo box: only the drop-down list kind exists. Text searches ignore the
// case of A to Z and start after the start index, wrapping round:
// CB_SELECTSTRING (LB_SELECTSTRING) selects the first item that begins with
// the text, CB_FINDSTRINGEXACT (LB_FINDSTRINGEXACT) only finds an item equal
// to it and selects nothing.
#define CBS_DROPDOWN 0x0002L
#define CBS_DROPDOWNLIST 0x0003L
#define CBS_SORT 0x0100L
#define CB_ERR (-1)
#define CB_GETCOUNT 0x0146
#define CB_ADDSTRING 0x0143       // lParam: text; returns the new index
#define CB_GETLBTEXT 0x0148       // wParam: index, lParam: buffer; returns length or CB_ERR
#define CB_GETLBTEXTLEN 0x0149
#define CB_RESETCONTENT 0x014B
#define CB_SELECTSTRING 0x014D    // wParam: start (-1: whole list), lParam: prefix; returns index or CB_ERR
#define CB_FINDSTRINGEXACT 0x0158 // wParam: start (-1: whole list), lParam: whole text; returns index or CB_ERR
#define CB_GETCURSEL 0x0147       // returns the index or CB_ERR
#define CB_SETCURSEL 0x014E       // wParam: index (-1: none); returns it or CB_ERR
#define CBN_SELCHANGE 1
#define CBN_SELENDOK 9

// List box.
#define LBS_NOTIFY 0x0001L
#define LBS_SORT 0x0002L
#define LB_ERR (-1)
#define LB_ADDSTRING 0x0180
#define LB_RESETCONTENT 0x0184
#define LB_SETCURSEL 0x0186
#define LB_GETCURSEL 0x0188
#define LB_GETTEXT 0x0189
#define LB_GETTEXTLEN 0x018A
#define LB_GETCOUNT 0x018B
#define LB_SELECTSTRING 0x018C
#define LB_FINDSTRINGEXACT 0x01A2
#define LBN_SELCHANGE 1

// Edit.
#define ES_LEFT 0x0000L
#define ES_CENTER 0x0001L
#define ES_MULTILINE 0x0004L
#define ES_AUTOVSCROLL 0x0040L
#define ES_AUTOHSCROLL 0x0080L
#define ES_READONLY 0x0800L
#define EN_CHANGE 0x0300

// Static. A static shows its text (wrapped, top-left aligned, with a
// vertical scroll bar when the text is taller than the control) unless it
// is SS_BITMAP, which shows the bitmap given by STM_SETIMAGE. A label (a
// static without WS_TABSTOP) never takes the focus, and its "&" marks the
// next letter as the key that moves the focus to the control made after it
// ("&&" shows one "&"; SS_NOPREFIX shows the text as it stands). A static
// with WS_TABSTOP is a page of text the keyboard can scroll.
#define SS_LEFT 0x0000L
#define SS_CENTER 0x0001L
#define SS_RIGHT 0x0002L
#define SS_BITMAP 0x000EL
#define SS_NOPREFIX 0x0080L
#define SS_NOTIFY 0x0100L
#define STM_SETIMAGE 0x0172 // wParam IMAGE_BITMAP, lParam HBITMAP (still the caller's); returns the previous one
#define IMAGE_BITMAP 0
#define STN_CLICKED 0

// WM_SETFONT: wParam = HFONT (still the caller's to delete, after the
// control is gone), lParam = redraw flag.

// Enables or disables a window and its input (WS_DISABLED), from any thread.
// Returns TRUE when the window was disabled before; FALSE also for an
// unknown window. WM_ENABLE is not sent.
BOOL EnableWindow(HWND hwnd, BOOL enable);
// FALSE for a disabled or unknown window.
BOOL IsWindowEnabled(HWND hwnd);
// Window title or control text (copied; null counts as ""). A control hears
// WM_SETTEXT; for other windows the title is set directly (Win32 sends
// WM_SETTEXT to every window). FALSE for an unknown window.
BOOL SetWindowTextW(HWND hwnd, LPCWSTR text);
// Copies at most max - 1 units and a terminator into the caller's buffer;
// returns the units copied. 0 (buffer emptied when max > 0) for an unknown
// window, a null buffer or max <= 0. Controls answer through WM_GETTEXT.
int GetWindowTextW(HWND hwnd, LPWSTR buffer, int max);
// Units without the terminator; 0 for an unknown window.
int GetWindowTextLengthW(HWND hwnd);
// The child of dialog (or any window) with the id, the first made when
// several have it; null for none (no last error).
HWND GetDlgItem(HWND dialog, int id);
// The window's GWL_ID; 0 for an unknown window.
int GetDlgCtrlID(HWND hwnd);
// SendMessageW to GetDlgItem(dialog, id); 0 when there is no such child.
LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam);
