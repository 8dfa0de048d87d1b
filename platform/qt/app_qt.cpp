// Starting the toolkit and attaching it to the window core.
#include "platform/autostart.h"
#include "platform/controls.h"
#include "platform/core/window_toolkit.h"
#include "platform/qt/qt_internal.h"
#include "platform/qt_app.h"
#include "platform/threads.h"
#include "platform/trace.h"

#include <QApplication>
#include <QEvent>
#include <QLibraryInfo>
#include <QLocale>
#include <QMetaObject>
#include <QProxyStyle>
#include <QStyleOptionButton>
#include <QStyleFactory>
#include <QTranslator>
#include <QWindow>

#include <atomic>
#include <cstdlib>

namespace {

std::atomic<DWORD> gUiThread{0};
QTranslator *gToolkitTranslation = nullptr; // installed; user-interface thread only

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

// The desktop's style, with two changes.
// - No icons on a menu bar's overflow button: the style reads them from PNG
//   files as each menu bar is made, and reading a file loads every image
//   format plugin to ask whether one would rather read it. The program's
//   menu bar holds one menu and never overflows.
// - Radio buttons' and check boxes' rims that show in a dark theme: the
//   style draws the rim a shade darker than the window, which on a dark
//   window is as dark as the box's own fill, so an unchecked choice all but
//   vanishes. On a dark window the rim is drawn half way between the
//   window's colour and its text's instead.
class DesktopStyle : public QProxyStyle {
public:
  using QProxyStyle::QProxyStyle;
  QIcon standardIcon(StandardPixmap icon, const QStyleOption *option, const QWidget *widget) const override {
    if (icon == SP_ToolBarHorizontalExtensionButton || icon == SP_ToolBarVerticalExtensionButton)
      return QIcon();
    return QProxyStyle::standardIcon(icon, option, widget);
  }
  void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override {
    if ((element == PE_IndicatorRadioButton || element == PE_IndicatorCheckBox) && option &&
        option->palette.color(QPalette::Window).lightness() < 128) {
      if (auto *button = qstyleoption_cast<const QStyleOptionButton *>(option)) {
        QStyleOptionButton visible = *button;
        visible.palette.setColor(QPalette::Window, VisibleRimBase(option->palette));
        QProxyStyle::drawPrimitive(element, &visible, painter, widget);
        return;
      }
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
  }

private:
  // The style draws the rim in a darker shade of the window colour: the
  // colour whose darker shade is half way between window and text.
  static QColor VisibleRimBase(const QPalette &palette) {
    const QColor window = palette.color(QPalette::Window), text = palette.color(QPalette::WindowText);
    const QColor rim((window.red() + text.red()) / 2, (window.green() + text.green()) / 2,
                     (window.blue() + text.blue()) / 2);
    return rim.lighter(150);
  }
};

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
    // The desktop entry's id names the windows: it is the Wayland app id
    // (from the desktop file name) and the class of X11's WM_CLASS (from the
    // application name), so the desktop finds the entry, its icon and its
    // name for them (the entry's StartupWMClass).
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopEntryId));
    QCoreApplication::setApplicationName(QString::fromLatin1(kDesktopEntryId));
    if (QStyle *style = QStyleFactory::create(QApplication::style()->name()))
      QApplication::setStyle(new DesktopStyle(style));
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
  hooks.timerDue = vqt::TimerDueHook;
  SetWindowSystemHooks(&hooks);
  SetMessageBoxPresenter(vqt::PresentMessageBox, nullptr);
  // Whether keys typed now would reach one of the program's own windows.
  // Without a screen (offscreen) the windows are "active" to Qt alone: the
  // desktop's focus is elsewhere, and the keys go there.
  if (VantrelQtOnScreen()) {
    QObject::connect(qApp, &QGuiApplication::focusWindowChanged, qApp,
                     [](QWindow *window) { wincore::RecordOwnWindowActive(window != nullptr); });
    wincore::RecordOwnWindowActive(QGuiApplication::focusWindow() != nullptr);
  }
  vqt::ArmPump();
  return true;
}

bool SetToolkitLanguage(const char *locale) {
  if (!VantrelQtActive() || !vqt::OnUiThread())
    return false;
  const QString name = QString::fromLatin1(locale && *locale ? locale : "en");
  if (gToolkitTranslation) {
    QCoreApplication::removeTranslator(gToolkitTranslation);
    delete gToolkitTranslation;
    gToolkitTranslation = nullptr;
  }
  bool inLanguage = name == QLatin1String("en");
  if (!inLanguage) {
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto *translation = new QTranslator;
    if (translation->load(QLocale(name), QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
      QCoreApplication::installTranslator(translation);
      gToolkitTranslation = translation;
      inLanguage = true;
      PlatformTrace("Toolkit texts: %s", translation->filePath().toUtf8().constData());
    } else {
      delete translation;
      PlatformTrace("Toolkit texts: no qtbase_%s.qm in %s (package qt6-translations-l10n); "
                    "its standard buttons stay in English",
                    name.toUtf8().constData(), folder.toUtf8().constData());
    }
  }
  // Installing a translation only posts the news; the open windows hear it
  // now, whether or not a translation changed.
  QEvent change(QEvent::LanguageChange);
  for (QWidget *window : QApplication::topLevelWidgets())
    QCoreApplication::sendEvent(window, &change);
  return inLanguage;
}
