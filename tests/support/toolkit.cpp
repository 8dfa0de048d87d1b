#include "tests/support/toolkit.h"

#include "platform/qt/qt_internal.h"
#include "platform/qt_app.h"
#include "resources/resources.h"

#include <QCoreApplication>
#include <QColor>
#include <QElapsedTimer>
#include <QPalette>
#include <QTimer>

#include <cstdlib>
#include <map>

namespace testsupport {

namespace {

std::map<HWND, TestProc> &Procs() {
  static std::map<HWND, TestProc> procs;
  return procs;
}
TestProc gPending;
bool gTimedOut = false;

LRESULT CALLBACK_TestProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto it = Procs().find(hwnd);
  if (it == Procs().end() && gPending) {
    Procs()[hwnd] = gPending; // WM_CREATE comes before CreateWindowExW returns
    it = Procs().find(hwnd);
  }
  LRESULT r = it == Procs().end() ? -2 : it->second(hwnd, msg, wParam, lParam);
  if (msg == WM_DESTROY)
    Procs().erase(hwnd);
  return r == -2 ? DefWindowProcW(hwnd, msg, wParam, lParam) : r;
}

} // namespace

bool StartToolkitOnce(int *argc, char **argv) {
  static const bool started = [argc, argv] {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int madeArgc = 1;
    static char name[] = "vantrel-test";
    static char *madeArgv[] = {name, nullptr};
    if (!VantrelQtInit(argc ? *argc : madeArgc, argc ? argv : madeArgv))
      return false;
    RegisterVantrelResources();
    return true;
  }();
  return started;
}

HWND MakeTestWindow(TestProc proc, int width, int height, DWORD style) {
  static const bool registered = [] {
    WNDCLASSW cls{};
    cls.lpfnWndProc = CALLBACK_TestProc;
    cls.hbrBackground = GetStockObject(WHITE_BRUSH);
    cls.lpszClassName = u"QtTestWindow";
    return RegisterClassW(&cls) != 0;
  }();
  (void)registered;
  gPending = std::move(proc);
  HWND hwnd = CreateWindowExW(0, u"QtTestWindow", u"test", style, CW_USEDEFAULT, CW_USEDEFAULT,
                              width, height, nullptr, nullptr, nullptr, nullptr);
  gPending = nullptr;
  return hwnd;
}

bool RunMessageLoop(int timeoutMs) {
  gTimedOut = false;
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [] {
    gTimedOut = true;
    PostQuitMessage(99);
  });
  watchdog.start(timeoutMs);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return !gTimedOut;
}

void Spin(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

QWidget *ClientWidget(HWND hwnd) { return vqt::ClientOf(hwnd); }

QPalette DarkPalette() {
  QPalette dark;
  dark.setColor(QPalette::Window, QColor(49, 54, 59));
  dark.setColor(QPalette::WindowText, QColor(239, 240, 241));
  dark.setColor(QPalette::Base, QColor(35, 38, 41));
  dark.setColor(QPalette::AlternateBase, QColor(45, 49, 53));
  dark.setColor(QPalette::Text, QColor(239, 240, 241));
  dark.setColor(QPalette::Button, QColor(60, 66, 72));
  dark.setColor(QPalette::ButtonText, QColor(239, 240, 241));
  dark.setColor(QPalette::Highlight, QColor(61, 174, 233));
  dark.setColor(QPalette::HighlightedText, Qt::white);
  dark.setColor(QPalette::Link, QColor(41, 128, 185));
  return dark;
}

} // namespace testsupport
