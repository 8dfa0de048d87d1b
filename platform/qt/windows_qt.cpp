// Windows as widgets: a top-level window (or dialog) is a frame holding the
// client area the window procedure paints and an optional soft-key bar
// below it; a child window is a client widget inside its parent's client
// area. The core keeps where each window is; the widgets apply its moves
// and repaints (the move, invalidate and update hooks) and report back
// wherever they end up.
#include "platform/controls.h"
#include "platform/core/window_toolkit.h"
#include "platform/qt/qt_internal.h"
#include "platform/threads.h"

#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMetaObject>
#include <QMoveEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QStyle>

#include <memory>
#include <unordered_map>
#include <vector>

namespace vqt {
namespace {

const char *kHwndProperty = "vantrel_hwnd";

std::unordered_map<HWND, std::unique_ptr<WindowHost>> &Hosts() {
  static std::unordered_map<HWND, std::unique_ptr<WindowHost>> hosts;
  return hosts;
}

void Tag(QWidget *widget, HWND hwnd) {
  widget->setProperty(kHwndProperty, QVariant::fromValue(reinterpret_cast<quintptr>(hwnd)));
}

// Where the widgets show a window, in the core's terms: a top-level window's
// client area in screen coordinates, a child's rectangle in its parent's
// client area (the soft-key bar, a child of the frame, lies just below it).
bool ShownRect(HWND hwnd, const WindowHost &host, QRect *rect) {
  QWidget *shown = host.child ? host.frame.data() : host.client.data();
  if (!shown)
    return false;
  QPoint origin = shown->mapToGlobal(QPoint(0, 0));
  if (host.child) {
    if (QWidget *parent = ClientOf(GetParent(hwnd)))
      origin -= parent->mapToGlobal(QPoint(0, 0));
    else
      origin = shown->pos();
  }
  *rect = QRect(origin, shown->size());
  return true;
}

// Tells the core where the widgets now show the window. Called wherever a
// widget may have been placed or sized: by the program, by the window
// manager, or along with a parent that was resized.
void ReportPlacement(HWND hwnd) {
  WindowHost *host = HostFor(hwnd);
  QRect r;
  if (host && ShownRect(hwnd, *host, &r))
    wincore::RecordWindowRect(hwnd, RECT{r.x(), r.y(), r.x() + r.width(), r.y() + r.height()});
}

// Places a child at rect, keeping it inside its parent's client area when it
// asks for that (static texts taller than the page get a scroll bar instead
// of being cut off).
void PlaceChild(WindowHost &host, const QRect &rect) {
  QRect r = rect;
  QWidget *parent = host.frame ? host.frame->parentWidget() : nullptr;
  if (parent && host.frame->property("vantrel_clip").toBool()) {
    if (r.bottom() >= parent->height())
      r.setBottom(std::max(r.top(), parent->height() - 1));
    if (r.right() >= parent->width())
      r.setRight(std::max(r.left(), parent->width() - 1));
  }
  host.frame->setGeometry(r);
  ReportPlacement(host.hwnd);
}

// An ordinary top-level window lies on its screen's available area at any
// scale factor: no larger than it (title bar and borders included, as far
// as they are known yet), and moved onto it. Dialogs place themselves.
void KeepOnScreen(WindowHost &host) {
  if (host.child || host.dialog || !host.frame || !host.frame->isWindow())
    return;
  QWidget *frame = host.frame;
  QScreen *screen = frame->screen() ? frame->screen() : QGuiApplication::primaryScreen();
  if (!screen)
    return;
  const QRect area = screen->availableGeometry();
  const QRect inner = frame->geometry(), whole = frame->frameGeometry();
  const QMargins border(inner.left() - whole.left(), inner.top() - whole.top(),
                        whole.right() - inner.right(), whole.bottom() - inner.bottom());
  const QSize room = area.size().shrunkBy(border);
  if (frame->width() > room.width() || frame->height() > room.height())
    frame->resize(frame->size().boundedTo(room));
  QRect r(frame->frameGeometry().topLeft(), frame->size().grownBy(border));
  r.moveRight(std::min(r.right(), area.right()));
  r.moveBottom(std::min(r.bottom(), area.bottom()));
  r.moveLeft(std::max(r.left(), area.left()));
  r.moveTop(std::max(r.top(), area.top()));
  if (r.topLeft() != frame->frameGeometry().topLeft())
    frame->move(r.topLeft());
}

} // namespace

class ClientWidget : public QWidget {
public:
  ClientWidget(HWND hwnd, QWidget *parent) : QWidget(parent), hwnd_(hwnd) {
    Tag(this, hwnd);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::ClickFocus);
  }
  // What assistive technology is told about the area: its window's name
  // (else its top-level's caption) and the text drawn on it by the last
  // paint of the whole area.
  void Describe(bool wholeArea) {
    WCHAR title[256] = {};
    GetWindowTextW(GetTopLevelWindow(hwnd_), title, 256);
    QString name = ToQString(title);
    if (GetWindowTextW(hwnd_, title, 256) > 0)
      name = ToQString(title);
    if (accessibleName() != name)
      setAccessibleName(name);
    if (!wholeArea)
      return;
    QString description = painted_.join(QLatin1Char('\n'));
    if (accessibleDescription() != description)
      setAccessibleDescription(description);
  }

  void NotePainted(const QString &text) {
    if (painting_)
      painted_ << text;
  }

protected:
  void paintEvent(QPaintEvent *event) override {
    QPainter painter(this);
    QColor background;
    if (ClassBackground(hwnd_, &background))
      painter.fillRect(event->rect(), background);
    painted_.clear();
    painting_ = true;
    SetCurrentPainter(hwnd_, &painter, event->rect());
    SendMessageW(hwnd_, WM_PAINT, 0, 0);
    SetCurrentPainter(hwnd_, nullptr, QRect());
    painting_ = false;
    wincore::WindowPainted(hwnd_);
    Describe(event->rect().contains(rect()));
  }
  void moveEvent(QMoveEvent *) override { ReportPlacement(hwnd_); }
  void resizeEvent(QResizeEvent *event) override {
    ReportPlacement(hwnd_);
    // Children the program placed keep their relative place: margins at
    // the sides stay, heights and vertical positions scale with the area.
    // A dialog's controls stay where its template put them, at their own
    // height, however large the page becomes. Placing a child runs its own
    // resize handling, which may make or destroy windows: work from a list,
    // not the live table.
    // On a dialog page only what spans the page's width widens with it,
    // and a scrolling text follows the page's height.
    std::vector<HWND> children;
    WindowHost *self = HostFor(hwnd_);
    bool page = self && self->dialog;
    for (auto &[handle, host] : Hosts())
      if (self && (!self->dialog || self->fullScreen) && host->child && host->frame &&
          host->frame->parentWidget() == this && !host->referenceParent.isEmpty())
        children.push_back(handle);
    for (HWND handle : children) {
      WindowHost *host = HostFor(handle);
      if (!host || !host->frame)
        continue;
      QRect ref = host->reference;
      QSize was = host->referenceParent;
      int x = ref.x(), w = ref.width();
      int rightMargin = was.width() - ref.right() - 1;
      bool spans = ref.x() >= 0 && rightMargin >= 0 && ref.x() <= was.width() / 8 &&
                   rightMargin <= was.width() / 8;
      if (spans)
        w = width() - ref.x() - rightMargin; // spans the width: keep the margins
      else if (!page)
        x = ref.x() * width() / std::max(1, was.width());
      int y = ref.y(), h = ref.height();
      if (!page) {
        y = ref.y() * height() / std::max(1, was.height());
        h = ref.height() * height() / std::max(1, was.height());
      } else if (host->frame->property("vantrel_clip").toBool()) {
        // A text area that reaches down to the page's bottom margin keeps
        // that margin: it grows and shrinks with the page.
        const int bottomMargin = was.height() - ref.bottom() - 1;
        if (bottomMargin >= 0 && bottomMargin <= was.height() / 8)
          h = height() - y - bottomMargin;
      } else if (!spans) {
        continue;
      }
      PlaceChild(*host, QRect(x, y, std::max(0, w), std::max(0, h)));
    }
    SendMessageW(hwnd_, WM_SIZE, 0, MAKELONG(event->size().width(), event->size().height()));
  }

private:
  HWND hwnd_;
  bool painting_ = false;
  QStringList painted_;
};

class FrameWidget : public QWidget {
public:
  FrameWidget(HWND hwnd, QWidget *parent, Qt::WindowFlags flags) : QWidget(parent, flags), hwnd_(hwnd) {
    Tag(this, hwnd);
    setAttribute(Qt::WA_DeleteOnClose, false);
  }
  void Layout() {
    WindowHost *host = HostFor(hwnd_);
    if (!host)
      return;
    int barHeight = host->bar ? host->bar->sizeHint().height() : 0;
    // A menu bar lies above the client area, a soft-key bar below it.
    const bool onTop = qobject_cast<QMenuBar *>(host->bar.data()) != nullptr;
    if (host->bar)
      host->bar->setGeometry(0, onTop ? 0 : height() - barHeight, width(), barHeight);
    if (host->client)
      host->client->setGeometry(0, onTop ? barHeight : 0, width(), std::max(0, height() - barHeight));
    ReportPlacement(hwnd_);
    if (host->barWindow)
      ReportPlacement(host->barWindow);
  }

protected:
  void resizeEvent(QResizeEvent *) override { Layout(); }
  void moveEvent(QMoveEvent *) override { ReportPlacement(hwnd_); }
  void closeEvent(QCloseEvent *event) override {
    // The window procedure decides: the window hears its close command,
    // which becomes WM_CLOSE unless the window handles it; a dialog turns
    // WM_CLOSE into its cancel command.
    event->ignore();
    PostMessageW(hwnd_, WM_SYSCOMMAND, SC_CLOSE, 0);
  }
  void keyPressEvent(QKeyEvent *event) override {
    // Keys no control took: in a dialog Escape is its cancel command and
    // Enter presses the button with the focus, else the default button.
    WindowHost *host = HostFor(hwnd_);
    if (!host || !host->dialog || (event->modifiers() & ~Qt::KeypadModifier)) {
      QWidget::keyPressEvent(event);
      return;
    }
    if (event->key() == Qt::Key_Escape) {
      PostMessageW(hwnd_, WM_COMMAND, IDCANCEL, 0);
    } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
      // A button that has the focus is the one Enter presses.
      auto *preset = qobject_cast<QPushButton *>(focusWidget());
      if (preset && !isAncestorOf(preset))
        preset = nullptr;
      if (host->bar && !preset)
        for (QPushButton *button : host->bar->findChildren<QPushButton *>())
          if (button->isDefault() && button->isEnabled() && button->isVisible())
            preset = button;
      if (preset)
        preset->click();
      else
        PostMessageW(hwnd_, WM_COMMAND, IDOK, 0);
    } else {
      QWidget::keyPressEvent(event);
      return;
    }
    event->accept();
  }

private:
  HWND hwnd_;
};

WindowHost *HostFor(HWND hwnd) {
  if (!OnUiThread())
    return nullptr;
  auto it = Hosts().find(hwnd);
  return it == Hosts().end() ? nullptr : it->second.get();
}

HWND HandleOf(const QWidget *widget) {
  for (; widget; widget = widget->parentWidget()) {
    QVariant v = widget->property(kHwndProperty);
    if (v.isValid()) {
      HWND hwnd = reinterpret_cast<HWND>(v.value<quintptr>());
      if (IsWindow(hwnd))
        return hwnd;
    }
  }
  return nullptr;
}

QWidget *ClientOf(HWND hwnd) {
  WindowHost *host = HostFor(hwnd);
  return host ? host->client.data() : nullptr;
}

HWND MainWindow() { return FindWindowW(nullptr, nullptr); }

void AttachControlWidget(HWND hwnd, QWidget *widget, const QRect &rect) {
  auto host = std::make_unique<WindowHost>();
  host->hwnd = hwnd;
  host->frame = host->client = widget;
  host->child = host->control = true;
  Tag(widget, hwnd);
  host->reference = rect;
  if (widget->parentWidget())
    host->referenceParent = widget->parentWidget()->size();
  WindowHost &ref = *host;
  Hosts()[hwnd] = std::move(host);
  PlaceChild(ref, rect);
}

void RelayoutFrame(HWND hwnd) {
  WindowHost *host = HostFor(hwnd);
  if (!host || host->child)
    return;
  if (auto *frame = dynamic_cast<FrameWidget *>(host->frame.data())) {
    // The client area keeps its size and the frame grows by the bar; a
    // page laid over the main window keeps the frame's size instead (a
    // dialog page grows by its buttons too: its template is its content).
    if (!host->fullScreen || host->dialog) {
      QSize client = host->client ? host->client->size() : QSize();
      int barHeight = host->bar ? host->bar->sizeHint().height() : 0;
      SetFrameSize(*host, QSize(client.width(), client.height() + barHeight));
    }
    frame->Layout();
  }
}

void SetFrameSize(WindowHost &host, const QSize &size) {
  if (!host.frame)
    return;
  // A dialog that is no page keeps the size its program gives it; a page
  // can be made larger than its content (FitDialogToContent).
  if (host.dialog && !host.child && !host.fullScreen)
    host.frame->setFixedSize(size);
  else
    host.frame->resize(size);
}

void SetFrameBar(HWND parent, HWND bar, QWidget *barWidget) {
  WindowHost *host = HostFor(parent);
  if (!host || host->child || !host->frame) {
    delete barWidget;
    return;
  }
  barWidget->setParent(host->frame);
  host->bar = barWidget;
  host->barWindow = bar;
  auto barHost = std::make_unique<WindowHost>();
  barHost->hwnd = bar;
  barHost->frame = barHost->client = barWidget;
  barHost->child = true;
  Tag(barWidget, bar);
  Hosts()[bar] = std::move(barHost);
  RelayoutFrame(parent);
  barWidget->show();
}

void MakeFullScreen(HWND hwnd) {
  WindowHost *host = HostFor(hwnd);
  if (!host)
    return;
  if (!host->child && host->frame && host->dialog) {
    // On the desktop a page is a dialog of its own size, not a cover over
    // the main window: its template's size is its content, and the person
    // may make it larger (FitDialogToContent sets the least size).
    host->fullScreen = true;
    host->frame->setMinimumSize(0, 0);
    host->frame->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  } else if (!host->child && host->frame) {
    // Any other window takes the main window's size, its bar included, so
    // that it is never taller than the main window.
    WindowHost *mainHost = HostFor(MainWindow());
    host->fullScreen = true;
    QSize size(wincore::kDefaultTopLevelWidth, wincore::kDefaultTopLevelHeight);
    if (mainHost && mainHost != host && mainHost->frame && mainHost->frame->isVisible() &&
        !mainHost->frame->size().isEmpty())
      size = mainHost->frame->size();
    SetFrameSize(*host, size);
    if (auto *frame = dynamic_cast<FrameWidget *>(host->frame.data()))
      frame->Layout();
  }
  ReportPlacement(hwnd); // the widget's place stands, whatever was recorded before
}

void FitDialogToContent(HWND hwnd, bool controlsOnly) {
  WindowHost *host = HostFor(hwnd);
  if (!host || host->child || !host->frame || !host->client)
    return;
  QWidget *frame = host->frame, *client = host->client;
  // The content: every shown control with the style's margins to the right
  // and below, the client area the template asked for unless the controls
  // are all there is, and the button row's own width.
  QStyle *style = frame->style();
  QRect children;
  for (QObject *object : client->children())
    if (auto *widget = qobject_cast<QWidget *>(object); widget && !widget->isHidden())
      children |= widget->geometry();
  QSize content = client->size();
  if (controlsOnly && !children.isEmpty()) {
    content = QSize(0, 0);
    frame->setMinimumSize(0, 0);
    frame->resize(0, 0); // grown again to the content below
  }
  if (!children.isEmpty())
    content = content.expandedTo(QSize(children.right() + 1 + style->pixelMetric(QStyle::PM_LayoutRightMargin),
                                       children.bottom() + 1 + style->pixelMetric(QStyle::PM_LayoutBottomMargin)));
  int barHeight = host->bar ? host->bar->sizeHint().height() : 0;
  QSize least(content.width(), content.height() + barHeight);
  if (host->bar)
    least.setWidth(std::max(least.width(), host->bar->sizeHint().width()));
  // Within the screen's free area, leaving room for the title bar and
  // borders the window manager adds (an owner's show how large they are).
  QSize room(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  QScreen *screen = frame->screen() ? frame->screen() : QGuiApplication::primaryScreen();
  if (screen) {
    QMargins decoration(4, 30, 4, 4);
    if (QWidget *owner = frame->parentWidget(); owner && owner->isVisible()) {
      QRect inner = owner->geometry(), whole = owner->frameGeometry();
      if (whole != inner)
        decoration = QMargins(inner.left() - whole.left(), inner.top() - whole.top(),
                              whole.right() - inner.right(), whole.bottom() - inner.bottom());
    }
    room = screen->availableGeometry().size().shrunkBy(decoration);
  }
  least = least.boundedTo(room);
  frame->setMinimumSize(least);
  QSize size = frame->size().expandedTo(least).boundedTo(room);
  if (host->fullScreen)
    frame->resize(size);
  else
    SetFrameSize(*host, size);
  if (auto *shown = dynamic_cast<FrameWidget *>(frame))
    shown->Layout();
}

void CentreOnOwner(HWND hwnd) {
  WindowHost *host = HostFor(hwnd);
  if (!host || host->child || !host->frame)
    return;
  QWidget *frame = host->frame;
  QWidget *owner = nullptr;
  for (HWND h = GetParent(hwnd); h && !owner; h = GetParent(h)) {
    WindowHost *candidate = HostFor(GetTopLevelWindow(h));
    if (candidate && candidate != host && candidate->frame && candidate->frame->isVisible())
      owner = candidate->frame;
  }
  QScreen *screen = owner ? owner->screen() : frame->screen();
  if (!screen)
    screen = QGuiApplication::primaryScreen();
  QRect area = screen ? screen->availableGeometry() : QRect();
  // Window and owner with their title bars and borders, as the screen
  // shows them.
  QRect over = owner ? owner->frameGeometry() : area;
  if (over.isEmpty())
    return;
  // Not shown yet, the window has no title bar to measure: it will have
  // the owner's.
  QSize outer = frame->frameGeometry().size();
  if (!frame->isVisible() && owner) {
    QRect inner = owner->geometry(), whole = owner->frameGeometry();
    outer = frame->size().grownBy(QMargins(inner.left() - whole.left(), inner.top() - whole.top(),
                                           whole.right() - inner.right(), whole.bottom() - inner.bottom()));
  }
  QRect r(QPoint(0, 0), outer);
  r.moveCenter(over.center());
  // Kept on the screen, its top-left corner first.
  if (!area.isEmpty()) {
    r.moveRight(std::min(r.right(), area.right()));
    r.moveBottom(std::min(r.bottom(), area.bottom()));
    r.moveLeft(std::max(r.left(), area.left()));
    r.moveTop(std::max(r.top(), area.top()));
  }
  QPoint target = r.topLeft();
  if (frame->parentWidget() && !frame->isWindow())
    target = frame->parentWidget()->mapFromGlobal(target);
  frame->move(target);
  ReportPlacement(hwnd);
}

void HookCreated(HWND hwnd, const CREATESTRUCTW *cs, void *) {
  if (!OnUiThread())
    return; // windows of other threads stay records
  std::u16string cls = cs->lpszClass ? cs->lpszClass : u"";
  if (IsControlClass(cls) || cls == kMenuBarClass)
    return; // the control procedures make their own widgets
  auto host = std::make_unique<WindowHost>();
  host->hwnd = hwnd;
  host->dialog = cls == kDialogClass;
  QString title = ToQString(cs->lpszName);
  bool child = (cs->style & WS_CHILD) && cs->hwndParent && ClientOf(cs->hwndParent);
  RECT rect{};
  wincore::RecordedWindowRect(hwnd, &rect);
  QRect r(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
  if (child) {
    auto *client = new ClientWidget(hwnd, ClientOf(cs->hwndParent));
    host->frame = host->client = client;
    host->child = true;
    host->reference = r;
    host->referenceParent = client->parentWidget()->size();
    WindowHost &ref = *host;
    Hosts()[hwnd] = std::move(host);
    PlaceChild(ref, r);
    return;
  }
  QWidget *ownerFrame = nullptr;
  if (cs->hwndParent) {
    WindowHost *owner = HostFor(GetTopLevelWindow(cs->hwndParent));
    if (owner && !owner->child)
      ownerFrame = owner->frame;
  }
  Qt::WindowFlags flags = Qt::Window;
  if (host->dialog && ownerFrame)
    flags = Qt::Dialog;
  auto *frame = new FrameWidget(hwnd, host->dialog ? ownerFrame : nullptr, flags);
  frame->setWindowTitle(title);
  QIcon icon;
  if (ClassIcon(hwnd, &icon))
    frame->setWindowIcon(icon);
  if (host->dialog)
    frame->setWindowModality(Qt::WindowModal);
  auto *client = new ClientWidget(hwnd, frame);
  client->setAccessibleName(title);
  host->frame = frame;
  host->client = client;
  Hosts()[hwnd] = std::move(host);
  SetFrameSize(*Hosts()[hwnd], r.size());
  if (cs->x != CW_USEDEFAULT)
    frame->move(r.topLeft());
  frame->Layout();
  if (cs->style & WS_DISABLED)
    frame->setEnabled(false);
}

void HookDestroyed(HWND hwnd, void *) {
  if (!OnUiThread())
    return;
  auto it = Hosts().find(hwnd);
  if (it == Hosts().end())
    return;
  std::unique_ptr<WindowHost> host = std::move(it->second);
  Hosts().erase(it);
  // Later: the widget may be the one whose event handler is running now.
  if (host->frame) {
    host->frame->hide();
    host->frame->setProperty(kHwndProperty, QVariant());
    host->frame->deleteLater();
  }
}

BOOL HookShow(HWND hwnd, int cmd, void *) {
  WindowHost *host = HostFor(hwnd);
  if (!host || !host->frame)
    return TRUE;
  if (cmd == SW_HIDE) {
    host->frame->hide();
  } else if (cmd == SW_MINIMIZE && !host->child) {
    host->frame->showMinimized();
  } else {
    KeepOnScreen(*host);
    host->frame->show();
    if (!host->child) {
      KeepOnScreen(*host); // now with its title bar
      host->frame->raise();
      host->frame->activateWindow();
    }
  }
  return TRUE;
}

BOOL HookSetForeground(HWND hwnd, void *) {
  // The core has taken the lowest bit off the handle; owned windows come
  // along in either case, as dialogs stay above their owner anyway.
  WindowHost *host = HostFor(hwnd);
  if (!host || !host->frame)
    return IsWindow(hwnd);
  QWidget *top = host->frame->window();
  top->raise();
  top->activateWindow();
  for (auto &[other, h] : Hosts())
    if (!h->child && h->frame && h->frame->isVisible() && GetParent(other) == hwnd) {
      h->frame->raise();
      h->frame->activateWindow();
    }
  return TRUE;
}

HWND HookGetFocus(void *) {
  if (!OnUiThread())
    return nullptr;
  if (QWidget *focus = QApplication::focusWidget())
    return HandleOf(focus);
  return HandleOf(QApplication::activeWindow());
}

bool ClassBackground(HWND hwnd, QColor *color) {
  std::u16string className;
  HBRUSH brush = nullptr;
  if (!wincore::WindowClassOf(hwnd, &className, &brush, nullptr))
    return false;
  if (className == kDialogClass) {
    // Dialogs are the desktop's: their background follows its palette.
    WindowHost *host = HostFor(hwnd);
    *color = host && host->client ? host->client->palette().color(QPalette::Window)
                                  : QGuiApplication::palette().color(QPalette::Window);
    return true;
  }
  return BrushColor(brush, color);
}

bool PaletteBackground(HWND hwnd) {
  std::u16string className;
  HBRUSH brush = nullptr;
  if (!wincore::WindowClassOf(hwnd, &className, &brush, nullptr))
    return false;
  return className == kDialogClass || IsSysColorBrush(brush);
}

void NotePaintedText(HWND hwnd, const QString &text) {
  WindowHost *host = HostFor(hwnd);
  if (auto *client = host ? dynamic_cast<ClientWidget *>(host->client.data()) : nullptr)
    client->NotePainted(text);
}

BOOL HookMove(HWND hwnd, int x, int y, int width, int height, BOOL repaint, void *) {
  WindowHost *host = HostFor(hwnd);
  if (!host || !host->frame)
    return FALSE;
  if (host->child) {
    host->reference = QRect(x, y, width, height);
    if (host->frame->parentWidget())
      host->referenceParent = host->frame->parentWidget()->size();
    PlaceChild(*host, host->reference);
  } else {
    QRect now;
    ShownRect(hwnd, *host, &now);
    int barHeight = host->bar ? host->bar->sizeHint().height() : 0;
    SetFrameSize(*host, QSize(width, height + barHeight));
    if (now.x() != x || now.y() != y) {
      QPoint target(x, y);
      if (host->frame->parentWidget() && !host->frame->isWindow())
        target = host->frame->parentWidget()->mapFromGlobal(target);
      host->frame->move(target);
    }
    KeepOnScreen(*host);
    if (auto *frame = dynamic_cast<FrameWidget *>(host->frame.data()))
      frame->Layout();
  }
  if (repaint && host->client)
    host->client->update();
  ReportPlacement(hwnd);
  return TRUE;
}

void HookInvalidate(HWND hwnd, const RECT *rect, void *) {
  QRect area = rect ? QRect(QPoint(rect->left, rect->top), QPoint(rect->right - 1, rect->bottom - 1))
                    : QRect();
  auto update = [hwnd, area] {
    if (QWidget *client = ClientOf(hwnd))
      area.isNull() ? client->update() : client->update(area);
  };
  if (OnUiThread())
    update();
  else if (PumpObject())
    QMetaObject::invokeMethod(PumpObject(), update, Qt::QueuedConnection);
}

BOOL HookUpdate(HWND hwnd, void *) {
  WindowHost *host = HostFor(hwnd);
  if (!host || !host->client)
    return FALSE;
  if (host->client->isVisible())
    host->client->repaint();
  return TRUE;
}

} // namespace vqt
