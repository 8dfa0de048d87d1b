// What a toolkit backend reads from and tells the window core about its
// windows, besides the hooks the core calls (WindowSystemHooks). Each call
// takes the core's lock itself, calls nothing back, and may be made from any
// thread; a backend never takes the core's lock or reads its records itself.
// An unknown or destroyed window is ignored (false / null / nothing done).
#pragma once

#include "platform/window.h"

#include <string>

namespace wincore {

// The size of a top-level window made with CW_USEDEFAULT: portrait, as on
// the handheld. A page that asks for the full screen while there is no main
// window to take the size of gets it too.
constexpr int kDefaultTopLevelWidth = 480;
constexpr int kDefaultTopLevelHeight = 640;

// Stores where the window is, in the core's terms (top-level: its client
// area in screen coordinates; child: its rectangle in the parent's client
// area), without sending any message. The toolkit calls it whenever its
// widget was placed or sized, by the program, the window manager or a parent
// that was resized; the toolkit's own resize handling sends WM_SIZE. The
// shell also uses it to size a dialog that has no widget.
void RecordWindowRect(HWND hwnd, const RECT &rect);
// The rectangle as stored (see RecordWindowRect), false for an unknown window.
bool RecordedWindowRect(HWND hwnd, RECT *rect);
// The toolkit has just delivered WM_PAINT to the window (it was exposed, or
// an update was asked for): the window needs no painting until it is
// invalidated again.
void WindowPainted(HWND hwnd);
// Whether one of the toolkit's windows is the desktop's active window now
// (OwnWindowActive); the toolkit tells each change.
void RecordOwnWindowActive(bool active);

// The class the window was made from: its name (kept even when the class has
// been unregistered since), and its background brush and icon (null when
// unregistered or not set; the handles stay the class's). False for an
// unknown window.
bool WindowClassOf(HWND hwnd, std::u16string *className, HBRUSH *background, HICON *icon);
// Makes the window a child of its parent (controls live inside the window
// given as their parent, WS_CHILD or not).
void MarkChildWindow(HWND hwnd);
// Sets, then clears style bits in one step; *before receives the style as it
// was. False for an unknown window.
bool ChangeWindowStyle(HWND hwnd, DWORD set, DWORD clear, DWORD *before);
// The title the window was made with or last given; false for an unknown
// window.
bool SetWindowTitle(HWND hwnd, const std::u16string &title);
bool WindowTitle(HWND hwnd, std::u16string *title);
// The first-made child of parent with the identifier (GWL_ID), skipping
// children being destroyed; null for none.
HWND ChildWithId(HWND parent, int id);

} // namespace wincore
