// The desktop toolkit in tests: started once per process on the offscreen
// platform, windows whose procedure is a lambda, and driving the UI
// thread's loop for a while. Links Qt; the toolkit-free helpers are in
// temp_root.h, pty_port.h, scripted_message_boxes.h and thread_messages.h.
#pragma once

#include "platform/gdi.h"
#include "platform/window.h"

#include <functional>

class QPalette;
class QWidget;

namespace testsupport {

// Starts the toolkit on the offscreen platform (QT_QPA_PLATFORM is set) and
// registers the program's resources; later calls do nothing. argc/argv are
// the program's when given (kept by the caller for the process's life),
// else a made-up one. Returns false when the toolkit could not start.
bool StartToolkitOnce(int *argc = nullptr, char **argv = nullptr);

using TestProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;
// A visible top-level window (class "QtTestWindow", white background) of
// the given client size; its procedure falls back to DefWindowProcW when it
// returns -2. The window belongs to the caller (DestroyWindow).
HWND MakeTestWindow(TestProc proc, int width = 320, int height = 240, DWORD style = WS_VISIBLE);
// Runs the program's classic loop until WM_QUIT or until timeoutMs (then a
// watchdog posts the quit); false on the time-out.
bool RunMessageLoop(int timeoutMs);
// Lets the toolkit process its events (paints, posted events) for ms.
void Spin(int ms);
// The widget showing a window's client area (owned by the toolkit).
QWidget *ClientWidget(HWND hwnd);
// A dark theme of the desktop, as the tests set it: light text on dark
// pages, and links of their own colour.
QPalette DarkPalette();

} // namespace testsupport
