// The system tray icon on the toolkit's QSystemTrayIcon (a StatusNotifier
// item or an XEmbed icon, whichever the desktop offers).
#include "platform/qt/qt_internal.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "platform/tray.h"
#include "platform/qt_app.h"

#include <QAction>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

namespace {

struct Tray {
  HWND owner = nullptr;
  QSystemTrayIcon *icon = nullptr;
  QMenu *menu = nullptr;
  QIcon base;
  bool haveMark = false;
  TrayIconMark mark = TrayIconMark::Grey;
};

Tray &TheTray() {
  static Tray tray;
  return tray;
}

QColor MarkColour(TrayIconMark mark) {
  switch (mark) {
  case TrayIconMark::Green:
    return QColor(0x2e, 0xa0, 0x43);
  case TrayIconMark::Amber:
    return QColor(0xe0, 0x9b, 0x12);
  case TrayIconMark::Grey:
  default:
    return QColor(0x8a, 0x8a, 0x8a);
  }
}

// The program's icon with a round mark in its lower right corner.
QIcon MarkedIcon(const QIcon &base, TrayIconMark mark) {
  constexpr int kSize = 64;
  QPixmap pixmap(kSize, kSize);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  if (!base.isNull())
    base.paint(&painter, 0, 0, kSize, kSize);
  else
    painter.fillRect(8, 8, kSize - 16, kSize - 16, QColor(0x40, 0x40, 0x40));
  painter.setPen(QPen(Qt::white, 2));
  painter.setBrush(MarkColour(mark));
  painter.drawEllipse(QRect(kSize - 26, kSize - 26, 24, 24));
  painter.end();
  return QIcon(pixmap);
}

} // namespace

bool TrayIconAvailable() {
  return VantrelQtActive() && vqt::OnUiThread() && QSystemTrayIcon::isSystemTrayAvailable();
}

bool TrayIconShown() { return TheTray().icon != nullptr; }

bool TrayIconShow(HWND owner, UINT clickCommand) {
  Tray &tray = TheTray();
  if (tray.icon)
    return true;
  if (!TrayIconAvailable()) {
    PlatformTrace("tray: the desktop has no system tray; no tray icon");
    return false;
  }
  tray.owner = owner;
  vqt::ClassIcon(owner, &tray.base);
  tray.icon = new QSystemTrayIcon(); // deleted by TrayIconRemove
  tray.menu = new QMenu();
  tray.icon->setContextMenu(tray.menu);
  tray.icon->setIcon(MarkedIcon(tray.base, TrayIconMark::Grey));
  QObject::connect(tray.icon, &QSystemTrayIcon::activated, tray.icon,
                   [owner, clickCommand](QSystemTrayIcon::ActivationReason reason) {
                     if (reason == QSystemTrayIcon::Trigger ||
                         reason == QSystemTrayIcon::DoubleClick)
                       PostMessageW(owner, WM_COMMAND, clickCommand, 0);
                   });
  tray.icon->show();
  PlatformTrace("tray: icon shown");
  return true;
}

void TrayIconUpdate(TrayIconMark mark, const std::u16string &tooltip,
                    const std::vector<TrayMenuItem> &menu) {
  Tray &tray = TheTray();
  if (!tray.icon)
    return;
  if (!tray.haveMark || tray.mark != mark) {
    tray.icon->setIcon(MarkedIcon(tray.base, mark));
    tray.mark = mark;
    tray.haveMark = true;
  }
  tray.icon->setToolTip(QString::fromStdU16String(tooltip));
  // The actions are changed in place when the menu keeps its shape, so an
  // open menu stays open while the link's state changes.
  QList<QAction *> actions = tray.menu->actions();
  if (actions.size() != static_cast<qsizetype>(menu.size())) {
    tray.menu->clear();
    actions.clear();
    for (size_t i = 0; i < menu.size(); ++i)
      actions.append(tray.menu->addAction(QString()));
  }
  const HWND owner = tray.owner;
  for (size_t i = 0; i < menu.size(); ++i) {
    QAction *action = actions[static_cast<qsizetype>(i)];
    action->setText(QString::fromStdU16String(menu[i].text));
    action->setEnabled(menu[i].enabled);
    QObject::disconnect(action, &QAction::triggered, nullptr, nullptr);
    const UINT command = menu[i].command;
    QObject::connect(action, &QAction::triggered, action,
                     [owner, command] { PostMessageW(owner, WM_COMMAND, command, 0); });
  }
}

void TrayIconRemove() {
  Tray &tray = TheTray();
  if (!tray.icon)
    return;
  tray.icon->hide();
  delete tray.icon;
  delete tray.menu;
  tray = Tray{};
  PlatformTrace("tray: icon removed");
}
