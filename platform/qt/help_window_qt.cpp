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
#include <QTextDocument>
#include <QWidget>

namespace {

QPointer<QWidget> gHelpWindow; // the user-interface thread's only

// The document's colours in the desktop's: text, headings, rules and
// shaded boxes from the palette, so that the page reads in a light, a dark
// or a high-contrast theme alike. Each selector names the document's root
// as well: more specific than the document's own rules, it wins over them.
QString PaletteStyle(const QPalette &palette) {
  auto name = [&palette](QPalette::ColorRole role) { return palette.color(role).name(); };
  return QStringLiteral("<style>"
                        "html body, html h1, html h2, html h3, html p, html li, html td, html b "
                        "{ color: %1; }"
                        "html h2, html table, html th, html td, html kbd { border-color: %2; }"
                        "html kbd, html th, html .note { background-color: %3; color: %1; }"
                        "html .note { border-color: %4; }"
                        "</style>")
      .arg(name(QPalette::Text), name(QPalette::Mid),
           name(QPalette::AlternateBase), name(QPalette::Highlight));
}

// A browser whose documents take the palette's colours (PaletteStyle) on
// top of their own style sheet.
class PaletteBrowser : public QTextBrowser {
public:
  using QTextBrowser::QTextBrowser;

protected:
  QVariant loadResource(int type, const QUrl &name) override {
    QVariant resource = QTextBrowser::loadResource(type, name);
    if (type != QTextDocument::HtmlResource)
      return resource;
    QString html = resource.userType() == QMetaType::QString ? resource.toString()
                                                             : QString::fromUtf8(resource.toByteArray());
    const qsizetype head = html.indexOf(QLatin1String("</head>"), 0, Qt::CaseInsensitive);
    html.insert(head >= 0 ? head : 0, PaletteStyle(palette()));
    return html;
  }
};

// A window of the desktop's look: the document above, Close at the bottom
// right, about 100 characters by 40 lines, never larger than the screen.
QWidget *MakeHelpWindow() {
  auto *window = new QWidget(nullptr, Qt::Window);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->setObjectName("vantrel_help");
  window->setWindowTitle(vqt::ToQString(ResourceText(u"Vantrel Help")));
  auto *layout = new QVBoxLayout(window);
  auto *browser = new PaletteBrowser(window);
  browser->setObjectName("vantrel_help_text");
  browser->setOpenExternalLinks(false); // nothing else can open them either
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
