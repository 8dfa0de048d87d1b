// Test windows whose procedure is a lambda, and helpers that drive the UI
// thread's loop for a while.
#pragma once

#include "platform/gdi.h"
#include "platform/window.h"

#include <functional>

using TestProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// A visible top-level window (class "QtTestWindow", white background) of the
// given client size; the procedure falls back to DefWindowProcW when it
// returns -2.
HWND MakeTestWindow(TestProc proc, int width = 320, int height = 240, DWORD style = WS_VISIBLE);
// Runs the program's classic loop until WM_QUIT or the time runs out
// (a watchdog posts the quit); returns false on timeout.
bool RunMessageLoop(int timeoutMs);
// Lets Qt process events for a while (paints, posted events).
void Spin(int ms);
// The widget showing a window's client area.
class QWidget;
QWidget *ClientWidget(HWND hwnd);
