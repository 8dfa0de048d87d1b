// Starting the toolkit and attaching it to the window core.
#include "platform/autostart.h"
#include "platform/controls.h"
#include "platform/core/window_toolkit.h"
#include "platform/qt/qt_internal.h"
#include "platform/qt_app.h"
#include "platform/threads.h"

#include <QApplication>
#include <QEvent>
#include <QMetaObject>
#include <QWindow>

#include <atomic>
#include <cstdlib>

namespace {

std::atomic<DWORD> gUiThread{0};

// Without a display Qt would abort the process; the headless mode is the
// better answer, so look before starting.
bool DisplayAvailable() {
  for (const char *var : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char *value = std::getenv(var);
    if (value && *value)
      return true;
  }
  return false;
}

} // namespace

namespace vqt {

DWORD UiThread() { return gUiThread.load(); }

bool OnUiThread() { return gUiThread.load() != 0 && GetCurrentThreadId() == gUiThread.load(); }

void RunOnUiThread(const std::function<void()> &fn) {
  if (OnUiThread() || !PumpObject() || !QCoreApplication::instance()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(PumpObject(), fn, Qt::BlockingQueuedConnection);
}

void RegisterInternalClasses(); // dialogs_qt.cpp, shell_menubar_qt.cpp

} // namespace vqt

bool VantrelQtActive() { return gUiThread.load() != 0; }

bool VantrelQtOnScreen() {
  if (!VantrelQtActive())
    return false;
  const QString platform = QGuiApplication::platformName();
  return !platform.startsWith(QLatin1String("offscreen")) && !platform.startsWith(QLatin1String("minimal"));
}

void ServeWaitingCalls() {
  if (vqt::OnUiThread() && vqt::PumpObject())
    QCoreApplication::sendPostedEvents(vqt::PumpObject(), QEvent::MetaCall);
}

bool VantrelQtInit(int &argc, char **argv) {
  if (VantrelQtActive())
    return true;
  if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
    if (QCoreApplication::instance() || !DisplayAvailable())
      return false;
    auto *app = new QApplication(argc, argv); // lives until the process ends
    app->setQuitOnLastWindowClosed(false); // the program's own loop decides
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopEntryId));
  }
  gUiThread = GetCurrentThreadId();
  RegisterControlClasses();
  vqt::RegisterInternalClasses();
  vqt::InstallEventPump();
  WindowSystemHooks hooks{};
  hooks.wake = vqt::WakeHook();
  hooks.created = vqt::HookCreated;
  hooks.destroyed = vqt::HookDestroyed;
  hooks.show = vqt::HookShow;
  hooks.setForeground = vqt::HookSetForeground;
  hooks.getFocus = vqt::HookGetFocus;
  hooks.dialogBox = vqt::HookDialogBox;
  hooks.endDialog = vqt::HookEndDialog;
  hooks.wait = vqt::WaitInToolkit;
  hooks.move = vqt::HookMove;
  hooks.invalidate = vqt::HookInvalidate;
  hooks.update = vqt::HookUpdate;
  SetWindowSystemHooks(&hooks);
  SetMessageBoxPresenter(vqt::PresentMessageBox, nullptr);
  // Whether keys typed now would reach one of the program's own windows.
  QObject::connect(qApp, &QGuiApplication::focusWindowChanged, qApp,
                   [](QWindow *window) { wincore::RecordOwnWindowActive(window != nullptr); });
  wincore::RecordOwnWindowActive(QGuiApplication::focusWindow() != nullptr);
  vqt::ArmPump();
  return true;
}
