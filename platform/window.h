// Windows, messages and timers: a toolkit-independent core. Every window
// belongs to the thread that created it; that thread's queue receives the
// window's posted messages and timer messages. PostMessageW, SetTimer and
// KillTimer work from any thread. A message for a destroyed or unknown window
// is dropped. The desktop toolkit attaches through WindowSystemHooks; without
// hooks, windows are records only and everything here still works, which is
// how the logic and its tests run headless.
//
// Handles: an HWND is a number from the core, never reused in the process,
// so a destroyed or made-up handle is recognised (ERROR_INVALID_WINDOW_HANDLE
// where a call sets the last error) rather than followed. A window belongs to
// whoever destroys it; DestroyWindow also destroys its owned and child
// windows. Strings passed in (class names, titles) are copied.
#pragma once

#include "platform/wintypes.h"

#include "platform/message_verbs.h"

typedef LRESULT (*WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void (*TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};

struct WNDCLASSW {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCWSTR lpszMenuName;
  LPCWSTR lpszClassName;
};

struct CREATESTRUCTW {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy, cx, y, x;
  LONG style;
  LPCWSTR lpszName;
  LPCWSTR lpszClass;
  DWORD dwExStyle;
};

// Messages.
#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_MOVE 0x0003
#define WM_SIZE 0x0005
#define WM_ACTIVATE 0x0006
#define WM_SETFOCUS 0x0007
#define WM_KILLFOCUS 0x0008
#define WM_ENABLE 0x000A
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_ERASEBKGND 0x0014
#define WM_SHOWWINDOW 0x0018
#define WM_SETTINGCHANGE 0x001A
#define WM_SETFONT 0x0030
#define WM_HELP 0x0053
#define WM_NOTIFY 0x004E
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define SC_CLOSE 0xF060 // WM_SYSCOMMAND: the window's close button
#define WM_TIMER 0x0113
#define WM_INITMENUPOPUP 0x0117
#define WM_CTLCOLORSTATIC 0x0138
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_USER 0x0400
#define WM_APP 0x8000

// Window styles.
#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_BORDER 0x00800000L
#define WS_CAPTION 0x00C00000L
#define WS_SYSMENU 0x00080000L
#define WS_VSCROLL 0x00200000L
#define WS_TABSTOP 0x00010000L
#define WS_GROUP 0x00020000L
#define WS_EX_CAPTIONOKBTN 0x80000000L
#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define CW_USEDEFAULT ((int)0x80000000)

// ShowWindow.
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5
#define SW_MINIMIZE 6

// Command identifiers and message box results.
#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7

// MessageBoxW flags.
#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define MB_YESNO 0x00000004u
#define MB_ICONHAND 0x00000010u
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONQUESTION 0x00000020u
#define MB_ICONEXCLAMATION 0x00000030u
#define MB_ICONASTERISK 0x00000040u
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_SETFOREGROUND 0x00010000u
#define MB_TOPMOST 0x00040000u

#define GWL_USERDATA (-21)
#define GWL_WNDPROC (-4)
#define GWL_ID (-12)
#define GWL_STYLE (-16)
#define GWL_EXSTYLE (-20)
// Dialog slots; any index >= 0 is a free slot of the window.
#define DWL_MSGRESULT 0
#define DWL_DLGPROC 4
#define DWL_USER 8

// Copies the class (name and all; lpszMenuName is not kept) and returns its
// atom (0xC000 upwards). 0 with ERROR_INVALID_PARAMETER for a null class,
// name or procedure or an atom as name, ERROR_CLASS_ALREADY_EXISTS for a
// name taken (compared without regard to ASCII case). cbClsExtra and
// cbWndExtra are ignored: any index >= 0 is a free window slot.
ATOM RegisterClassW(const WNDCLASSW *cls);
// FALSE (ERROR_CLASS_DOES_NOT_EXIST) for an unknown name or atom. Unlike
// Win32, windows of the class may still exist: they keep working, without
// the class's brush and icon.
BOOL UnregisterClassW(LPCWSTR className, HINSTANCE inst);
// Sends WM_CREATE (lParam: CREATESTRUCTW*) before returning; a WM_CREATE
// result of -1 destroys the window and returns nullptr (ERROR_GEN_FAILURE).
// Also nullptr for an unknown class (ERROR_CLASS_DOES_NOT_EXIST) or parent
// (ERROR_INVALID_WINDOW_HANDLE). The window belongs to the calling thread.
// CW_USEDEFAULT places a top-level window at the origin with a 480 x 640
// client area, and gives a child an empty rectangle; WS_VISIBLE shows the
// window after WM_CREATE. WM_NCCREATE and the other creation messages of
// Win32 are not sent.
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE inst, LPVOID param);
// Destroys the owned windows, sends WM_DESTROY, destroys the children, then
// forgets the handle with its timers and posted messages; messages other
// threads are sending to it return 0. May be called from any thread (Win32
// allows only the owner's). TRUE also when destruction is already under way
// further up the call chain; FALSE (ERROR_INVALID_WINDOW_HANDLE) for an
// unknown window.
BOOL DestroyWindow(HWND hwnd);
// TRUE for a window not yet destroyed (also during its WM_DESTROY).
BOOL IsWindow(HWND hwnd);
// Does nothing and returns 0, except that WM_CLOSE destroys the window and
// WM_SYSCOMMAND SC_CLOSE (the close button) sends the window WM_CLOSE.
LRESULT DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// GWL_USERDATA, GWL_WNDPROC, GWL_STYLE, GWL_EXSTYLE, GWL_ID, or a free slot
// at any index >= 0 (0 until set). 0 for an unknown window
// (ERROR_INVALID_WINDOW_HANDLE) or another negative index
// (ERROR_INVALID_PARAMETER); a value of 0 is only told apart by the last
// error.
LONG_PTR GetWindowLongW(HWND hwnd, int index);
// Returns the previous value (0 and the last error as GetWindowLongW on
// failure). Setting GWL_WNDPROC to null keeps the procedure. Changing
// GWL_STYLE does not show, hide or enable the window.
LONG_PTR SetWindowLongW(HWND hwnd, int index, LONG_PTR value);
HWND GetParent(HWND hwnd);      // the owner or parent, nullptr for none
// The window that contains hwnd: climbs from child controls to the first
// window that is not a child (an owned dialog is its own top-level window).
HWND GetTopLevelWindow(HWND hwnd);
// Finds a top-level window of this process by class name (without regard
// to ASCII case) and/or exact title; null matches any. Of several matches the
// oldest; nullptr for none. Never windows of other processes.
HWND FindWindowW(LPCWSTR className, LPCWSTR title);

// Queues the message for the window's thread (hwnd null: the calling
// thread). FALSE for an unknown window (ERROR_INVALID_WINDOW_HANDLE), or
// when that thread's queue already holds 10000 posted messages
// (ERROR_NOT_ENOUGH_QUOTA, traced once until the queue drains). Pointers in
// wParam/lParam are not copied: what they point to must outlive the message.
BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Queues a thread message (hwnd null) for the thread `threadId`, as
// PostMessageW does for a window; WM_QUIT posted so ends that thread's
// GetMessageW loop and any modal loop it is in, as PostQuitMessage would on
// that thread. FALSE for thread 0 (ERROR_INVALID_PARAMETER) and on a full
// queue as above.
BOOL PostThreadMessageW(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam);
// On the window's own thread a direct call of its procedure. From another
// thread the message is queued and the caller waits until it has been
// handled, handling messages sent to its own thread meanwhile (or until the
// window is destroyed, which returns 0). 0 for an unknown window
// (ERROR_INVALID_WINDOW_HANDLE).
LRESULT SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Blocks until a message for this thread arrives (handling messages sent
// from other threads meanwhile) and copies it into *msg (required). Returns
// 0 for WM_QUIT, else nonzero; never fails. hwnd and the filter range are
// accepted as on the original (0 = all). Posted messages come before
// WM_QUIT, WM_QUIT before due timers; messages for windows destroyed since
// are dropped.
BOOL GetMessageW(MSG *msg, HWND hwnd, UINT filterMin, UINT filterMax);
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
// As GetMessageW without waiting: FALSE when nothing is there.
BOOL PeekMessageW(MSG *msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT remove);
// Does nothing and returns FALSE: key messages come from the toolkit
// already translated.
BOOL TranslateMessage(const MSG *msg);
// Calls the window's procedure (a timer's own procedure for its WM_TIMER)
// and returns its result; 0 for a null msg, a thread message or a window
// destroyed since.
LRESULT DispatchMessageW(const MSG *msg);
// The calling thread's next GetMessageW returns WM_QUIT with exitCode.
void PostQuitMessage(int exitCode);

// The timer runs on the window's thread and arrives as WM_TIMER (wParam = id;
// with proc, DispatchMessageW calls proc instead of the window). Periods
// below 10 ms count as 10 ms. Setting a running timer again restarts it with
// the new period. Returns id; with hwnd null (a thread timer) a new id is
// made and returned each time. 0 (ERROR_INVALID_WINDOW_HANDLE) for an
// unknown window or one being destroyed. A late timer fires once, not once
// per missed period.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT milliseconds, TIMERPROC proc);
// FALSE when no such timer runs, or for an unknown window
// (ERROR_INVALID_WINDOW_HANDLE).
BOOL KillTimer(HWND hwnd, UINT_PTR id);

// Focus, foreground and visibility, answered by the toolkit hooks when
// present; headless, the focus window is the last one shown or made
// foreground.
//
// ShowWindow returns whether the window was visible before; FALSE
// (ERROR_INVALID_WINDOW_HANDLE) also for an unknown window. Any cmd but
// SW_HIDE shows it.
BOOL ShowWindow(HWND hwnd, int cmd);
// The lowest bit of the handle may be set (the owned windows come along).
// FALSE (ERROR_INVALID_WINDOW_HANDLE) for an unknown window.
BOOL SetForegroundWindow(HWND hwnd);
// The window with the keyboard focus, nullptr for none or another
// application's.
HWND GetFocus();
// TRUE while one of the program's own windows (a message box or a menu
// among them) is the desktop's active window, so that keys typed on the
// computer now would reach the program itself; FALSE while another
// program's window is active, and without the toolkit. Any thread.
BOOL OwnWindowActive();
// Headless only: sets the focus window and returns the previous one; nullptr
// (ERROR_INVALID_WINDOW_HANDLE) for an unknown window. WM_SETFOCUS and
// WM_KILLFOCUS are not sent, and the toolkit's focus is not moved.
HWND SetFocus(HWND hwnd);
// The window's own visible flag (its parent's is not looked at, unlike
// Win32); FALSE for an unknown window.
BOOL IsWindowVisible(HWND hwnd);

// Geometry and painting. The core keeps each window's rectangle and whether
// it needs painting, so these answer the same with or without the toolkit;
// the toolkit shows the changes and reports where its widgets really are
// (resized by the window manager, moved along with a resized parent).
//
// The client area, (0, 0, width, height). FALSE (rect zeroed, last error
// ERROR_INVALID_WINDOW_HANDLE) for an unknown window; FALSE for a null rect.
BOOL GetClientRect(HWND hwnd, RECT *rect);
// The window's rectangle in screen coordinates; a child's is its rectangle in
// the parent's client area offset by the parents' positions. Unlike Win32, a
// top-level window's rectangle is its client area alone: the title strip,
// the soft-key bar (directly below) and any window manager frame lie outside
// it, so MoveWindow with these numbers leaves the window where it is.
// Failures as GetClientRect.
BOOL GetWindowRect(HWND hwnd, RECT *rect);
// Places the window: top-level windows in screen coordinates, children in
// the parent's client area. Unlike Win32, width and height are the client
// area's (the strips are added around it); negative ones count as 0. WM_SIZE
// follows when the size changed: before returning without the toolkit,
// otherwise from the toolkit's resize handling (a hidden window hears it when
// shown). repaint asks the toolkit to repaint; headless it does nothing.
// FALSE (ERROR_INVALID_WINDOW_HANDLE) for an unknown window.
BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);
// Marks the window for painting: the toolkit repaints the area (null: the
// whole client area) soon, from any thread. The core keeps one flag for the
// whole window, not a region; erase is ignored (the class brush always fills
// the background first). FALSE for an unknown window (no last error).
BOOL InvalidateRect(HWND hwnd, const RECT *rect, BOOL erase);
// Paints now: a window the toolkit shows is repainted before returning when
// it is visible (a hidden one is not painted); without a widget the
// procedure hears WM_PAINT if the window was invalidated since it last
// painted. FALSE for an unknown window (no last error).
BOOL UpdateWindow(HWND hwnd);

// Message boxes are shown by a presenter (platform/message_verbs.h): the
// desktop toolkit supplies one, tests supply scripted ones. Without a
// presenter the box is traced and answered with IDOK (IDNO for MB_YESNO).
// Returns the presenter's answer (IDOK, IDYES, ...); null text or caption
// count as "". Blocks until answered.
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
// The program is ending: from now on every message box is traced and
// answered as without a presenter, and no box or dialog is shown any more,
// also none already on its way to the toolkit (UserInterfaceEnded tells
// it); a dialog asked for then returns -1. Cannot be undone.
void EndUserInterface();
bool UserInterfaceEnded();

// Resources: the program's resources are registered at start-up by the
// resources/ folder (type and integer identifier; the bytes stay the
// caller's and must live as long as the process). FindResourceW returns
// nullptr for a resource that was not registered, so a dialog whose template
// is absent opens nothing. The instance handle is ignored: there is one
// set of resources. Registering an identifier again replaces its bytes.
// LoadResource returns its argument, SizeofResource the size (0 for null),
// LockResource the registered bytes (nullptr for null); nothing is freed.
#define RT_DIALOG MAKEINTRESOURCEW(5)
#define RT_STRING MAKEINTRESOURCEW(6)
#define RT_MENU MAKEINTRESOURCEW(4)
#define RT_ICON MAKEINTRESOURCEW(3)
typedef intptr_t INT_PTR;
typedef INT_PTR (*DLGPROC)(HWND, UINT, WPARAM, LPARAM);
struct DLGTEMPLATE; // opaque here: the toolkit reads the template bytes
void RegisterResource(LPCWSTR type, WORD id, const void *data, DWORD size);
HRSRC FindResourceW(HINSTANCE inst, LPCWSTR name, LPCWSTR type);
HGLOBAL LoadResource(HINSTANCE inst, HRSRC res);
DWORD SizeofResource(HINSTANCE inst, HRSRC res);
const void *LockResource(HGLOBAL res);
// Runs a dialog modally; the calling thread keeps dispatching its messages
// and timers meanwhile. Returns the EndDialog result, or -1 when no toolkit is
// attached, the template is null or the user interface has ended.
INT_PTR DialogBoxIndirectParamW(HINSTANCE inst, const DLGTEMPLATE *tmpl, HWND owner, DLGPROC proc,
                                LPARAM param);
// Ends a dialog run by DialogBoxIndirectParamW with result; FALSE when no
// toolkit is attached or dialog is not such a dialog.
BOOL EndDialog(HWND dialog, INT_PTR result);

// The toolkit's attachment. All members may be null.
struct WindowSystemHooks {
  // A message or timer became due for thread `threadId` while it may be
  // waiting inside the toolkit's own loop: the toolkit schedules a pump
  // (PumpThreadMessages) on that thread.
  void (*wake)(DWORD threadId, void *context);
  void (*created)(HWND hwnd, const CREATESTRUCTW *cs, void *context);
  void (*destroyed)(HWND hwnd, void *context);
  BOOL (*show)(HWND hwnd, int cmd, void *context);
  BOOL (*setForeground)(HWND hwnd, void *context);
  HWND (*getFocus)(void *context);
  INT_PTR (*dialogBox)(HINSTANCE inst, const DLGTEMPLATE *tmpl, HWND owner, DLGPROC proc,
                       LPARAM param, void *context);
  BOOL (*endDialog)(HWND dialog, INT_PTR result, void *context);
  void *context;
  // GetMessageW found nothing for the calling thread: the toolkit waits in
  // its own event loop until something happens (a wake, a toolkit event or
  // the next timer) and returns true; false when the calling thread is not
  // the toolkit's, which then waits on its queue as without a toolkit.
  bool (*wait)(void *context);
  // MoveWindow: the core has stored the new rectangle; the toolkit places
  // its widget (and with repaint repaints it) and returns TRUE, or returns
  // FALSE when no widget of its shows the window, and the core then sends
  // WM_SIZE itself.
  BOOL (*move)(HWND hwnd, int x, int y, int width, int height, BOOL repaint, void *context);
  // InvalidateRect: the area (null: the whole client area) is to be
  // repainted soon. rect is only valid during the call.
  void (*invalidate)(HWND hwnd, const RECT *rect, void *context);
  // UpdateWindow: returns TRUE when a widget shows the window (having
  // repainted it if it is visible), FALSE to let the core send WM_PAINT.
  BOOL (*update)(HWND hwnd, void *context);
  // Optional. The earliest timer deadline of thread `threadId` changed:
  // dueMs milliseconds from now (0: due already), -1 when it has no timer.
  // The toolkit re-arms the wait it keeps for that thread's timers without
  // waking the thread, so that a timer restarted or killed leaves no wake-up
  // at its old deadline, and returns true; false when it keeps no timer for
  // that thread, which SetTimer then wakes as without the hook. A deadline
  // that only moved later is told once the one the toolkit holds is nearer
  // than half the way to it, so timers restarted at every key cost a re-arm
  // now and then, not one a key. Unlike the
  // others it is called with the core's lock held, so that calls from
  // several threads arrive in the order of their changes: it must return
  // promptly and not call back into the core.
  bool (*timerDue)(DWORD threadId, int dueMs, void *context);
};
// Copies the table (null: detach). The hooks are called without the core's
// lock held, on whichever thread made the call that needs them.
void SetWindowSystemHooks(const WindowSystemHooks *hooks);
// Dispatches every message and due timer of the calling thread's queue
// without blocking; returns false once WM_QUIT has been taken (its exit code
// in *exitCode).
bool PumpThreadMessages(int *exitCode);
// Milliseconds until the calling thread's next timer is due (-1: none).
int NextTimerDueMs();
// Calls the timerDue hook (when set) with the calling thread's next timer,
// as a toolkit does when it starts waiting.
void ReportNextTimerDue();
