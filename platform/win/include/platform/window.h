// Windows build: windows, messages, timers and dialogs are Win32's own.
// What the program adds: its resources kept in memory (RegisterResource and
// the lookups that read them), dialogs from its own template tables (made
// into Win32 templates in memory), and a few words of its own.
#pragma once

#include "platform/wintypes.h"

#include "platform/message_verbs.h"

// The window that contains hwnd: GetAncestor(GA_ROOT).
HWND GetTopLevelWindow(HWND hwnd);
// Finds a top-level window of this process by class name and/or title
// (null matches any), the oldest of several; never another program's
// window, so that a second instance hands its launch to the first through
// the instance claim (platform/single_instance.h) instead of stopping here.
HWND VantrelFindWindowW(LPCWSTR className, LPCWSTR title);
#define FindWindowW VantrelFindWindowW
// Win32's, taking the handheld's form too: the lowest bit of the handle set
// (bring the owned windows along, as a desktop does anyway).
BOOL VantrelSetForegroundWindow(HWND hwnd);
#define SetForegroundWindow VantrelSetForegroundWindow
// TRUE when the foreground window belongs to this process.
BOOL OwnWindowActive();
// The program's windows are gone for good: later message boxes are not
// shown (they return IDCANCEL), so that shutting down never waits on one.
void EndUserInterface();
bool UserInterfaceEnded();
// Tests answer the message boxes themselves: a presenter
// (platform/message_verbs.h) is asked instead of Win32's MessageBoxW, which
// shows the box when none is set.
int VantrelMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
// Dispatches every message of the calling thread's queue without blocking;
// false once WM_QUIT has been taken (its exit code in *exitCode).
bool PumpThreadMessages(int *exitCode);
#define MessageBoxW VantrelMessageBoxW

// The program's resources, kept in memory by type and number: data must
// outlive the program (the tables are static). The lookups below read them
// alone (platform/core/resources.cpp, as on Linux), never the executable's
// own resources.
struct DLGTEMPLATE;
void RegisterResource(LPCWSTR type, WORD id, const void *data, DWORD size);
HRSRC VantrelFindResourceW(HINSTANCE inst, LPCWSTR name, LPCWSTR type);
HGLOBAL VantrelLoadResource(HINSTANCE inst, HRSRC res);
DWORD VantrelSizeofResource(HINSTANCE inst, HRSRC res);
const void *VantrelLockResource(HGLOBAL res);
#define FindResourceW VantrelFindResourceW
#define LoadResource VantrelLoadResource
#define SizeofResource VantrelSizeofResource
#define LockResource VantrelLockResource
// Makes the program's template into Win32's in memory and runs the dialog
// with the real DialogBoxIndirectParamW; -1 when the template cannot be
// made.
INT_PTR DialogBoxIndirectParamW(HINSTANCE inst, const DLGTEMPLATE *tmpl, HWND owner, DLGPROC proc,
                                LPARAM param);
