// Vantrel's own help window: a read-only text browser showing an HTML
// document, for when no program of the desktop can open it. One window
// serves every request; it lives until it is closed.
#include "platform/files.h"
#include "platform/qt/qt_internal.h"
#include "platform/qt_app.h"
#include "platform/resource_formats.h"
#include "platform/trace.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QPalette>
#include <QPointer>
#include <QScreen>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>

namespace {

QPointer<QWidget> gHelpWindow; // the user-interface thread's only

// A window of the desktop's look: the document above, Close at the bottom
// right, about 100 characters by 40 lines, never larger than the screen.
QWidget *MakeHelpWindow() {
  auto *window = new QWidget(nullptr, Qt::Window);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->setObjectName("vantrel_help");
  window->setWindowTitle(vqt::ToQString(ResourceText(u"Vantrel Help")));
  auto *layout = new QVBoxLayout(window);
  auto *browser = new QTextBrowser(window);
  browser->setObjectName("vantrel_help_text");
  browser->setOpenExternalLinks(false); // nothing else can open them either
  // The document gives its text dark colours of its own, as a web page does:
  // it is shown on a light page as a browser shows it, also in a dark theme.
  QPalette page = browser->palette();
  page.setColor(QPalette::Base, Qt::white);
  page.setColor(QPalette::Text, Qt::black);
  browser->setPalette(page);
  layout->addWidget(browser);
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, window);
  QObject::connect(buttons, &QDialogButtonBox::rejected, window, &QWidget::close);
  layout->addWidget(buttons);
  const QFontMetrics metrics = browser->fontMetrics();
  QSize size(metrics.averageCharWidth() * 100, metrics.lineSpacing() * 40);
  if (QScreen *screen = window->screen())
    size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
  window->resize(size);
  return window;
}

} // namespace

bool ShowHelpWindow(LPCWSTR devicePath) {
  if (!VantrelQtActive() || !devicePath)
    return false;
  const std::string hostPath = HostPathFor(devicePath);
  if (hostPath.empty() || !QFileInfo(QString::fromStdString(hostPath)).isReadable())
    return false;
  vqt::RunOnUiThread([&] {
    if (!gHelpWindow)
      gHelpWindow = MakeHelpWindow();
    auto *browser = gHelpWindow->findChild<QTextBrowser *>("vantrel_help_text");
    browser->setSource(QUrl::fromLocalFile(QString::fromStdString(hostPath)));
    gHelpWindow->show();
    gHelpWindow->raise();
    gHelpWindow->activateWindow();
  });
  PlatformTrace("Help viewer: %s shown in Vantrel's own window", hostPath.c_str());
  return true;
}
