// The main window: the keyboard picture, two texts, the connect button that
// shows the link's status, the menu bar with the Options menu, and on
// Smartphone-class devices a painted status line.
#pragma once

#include "platform/controls.h"
#include "platform/window.h"

// The connect button's control identifier (also its command).
constexpr int kConnectButtonId = 138;
// The main window's own timer: keeps the on-screen keyboard down while the
// keyboard is connected.
constexpr UINT_PTR kSipTimer = 4;
// The main window's timer that runs the step after the first paint when no
// paint has come by then (see AfterFirstPaint).
constexpr UINT_PTR kFirstPaintTimer = 5;
// How long AfterFirstPaint waits for a paint at most.
constexpr UINT kFirstPaintWaitMs = 250;
// Posted to the main window by its first paint; runs the AfterFirstPaint step.
constexpr UINT WM_AFTER_FIRST_PAINT = WM_APP + 125;

// Creates the main window and shows it with showCommand. Returns false when
// start-up is to stop: another instance runs (it has been brought forward
// and, across processes, handed this launch's request), or the class or the
// window could not be made. Sets AppGlobals.hInstance and mainWindow.
bool CreateMainWindow(HINSTANCE instance, int showCommand);

LRESULT MainWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Runs step once on the user-interface thread, from the message loop, right
// after hwnd's (the main window's) next paint has been drawn, so that work
// the window does not need for its first picture does not delay it; or
// after kFirstPaintWaitMs when no paint has come by then (a window the
// desktop does not expose). A step asked for earlier and not yet run is
// replaced. UI thread only.
void AfterFirstPaint(HWND hwnd, void (*step)());

// Gives the Options menu its first states from the stored settings and the
// pairing, and passes the stored key-click setting to the link.
void InitOptionsMenu(HMENU menu);

// The link's notifications (Part of MainWndProc, exposed for the tests).
void OnLinkPhase(HWND hwnd, WPARAM buttonState, LPARAM phase);
void OnStatusTextChanged(HWND hwnd, WPARAM buttonState);
// WM_KEYS_NOT_ALLOWED: the desktop refused or ended the leave to type; the
// status says so while connected, and a message box says what to do.
void OnKeysNotAllowed(HWND hwnd);
// WM_KEYS_BACKEND_CHOSEN: while connected, the status and the message that
// say what keeps keys from the windows follow the backend now chosen.
void OnKeysBackendChosen(HWND hwnd);
// WM_KEYS_KEPT_FROM_OWN_WINDOWS: while connected, the painted status says
// that keys are not typed into Vantrel's own windows, from the first press
// dropped (kept 1) until keys go out again (kept 0) or the link's phase
// changes. The key test, which hears the keyboard itself, shows no word.
void OnKeysKeptFromOwnWindows(HWND hwnd, WPARAM kept);

// The UI strings were loaded anew (another language): the connect button,
// the status line and the painted texts show them.
void ShowNewLanguage(HWND hwnd);

// Painting (main_window_paint.cpp).
void PaintMainWindow(HWND hwnd);

// Where the parts of the main window go in a client area (client
// coordinates): the picture (null when none fits: the texts and the button
// come first), the welcome text with its font height, the button, the
// footer and the painted status line, one under the other with the default
// font's spacing, centred as a block. content is the client size that shows
// them all with the wide picture (the window's size at the start).
struct MainLayout {
  const WCHAR *picture;
  SIZE pictureSize;
  RECT pictureRect;
  RECT welcome;
  int welcomeHeight;
  RECT button;
  RECT footer;
  RECT status;
  SIZE content;
};
// hdc measures (a paint or GetDC context of hwnd); the button's natural size
// comes from hwnd's connect button.
MainLayout LayoutMainWindow(HDC hdc, HWND hwnd, const RECT &client);
// Moves the connect button to its place in the layout of hwnd's client area
// (after a resize or a new caption).
void PlaceConnectButton(HWND hwnd);
// The picture for a client area whose right edge is clientRight: "vtr.bmp"
// up to 240 pixels, and on Smartphone-class devices above 300; otherwise
// "vtr_wide.bmp".
const WCHAR *MainPictureName(LONG clientRight, bool smartphone);
// The fitting loop: the bold font height at which text still fits the width
// of area on one line, found in steps of 2 from 10, capped at cap.
int FitTextHeight(HDC hdc, const WCHAR *text, const RECT &area, int cap);
