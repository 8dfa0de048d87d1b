// Modal dialogs from dialog templates. The dialog is a window of the
// internal dialog class whose procedure hands messages to the DLGPROC; its
// modal loop is a QEventLoop in which the pump keeps dispatching posted
// messages and timers. A dialog asked for by another thread is run by the
// user-interface thread while the asking thread waits.
#include "platform/controls.h"
#include "platform/qt/qt_internal.h"
#include "platform/resource_formats.h"
#include "platform/shell.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QPointer>
#include <QRadioButton>

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace {

struct DialogCreate {
  DLGPROC proc;
};

struct DialogState {
  bool done = false;
  INT_PTR result = 0;
  QEventLoop *loop = nullptr;
};

std::unordered_map<HWND, DialogState *> &Dialogs() {
  static std::unordered_map<HWND, DialogState *> dialogs; // user-interface thread only
  return dialogs;
}

LRESULT DialogWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CREATE) {
    auto *cs = reinterpret_cast<const CREATESTRUCTW *>(lParam);
    if (auto *create = static_cast<const DialogCreate *>(cs->lpCreateParams))
      SetWindowLongW(hwnd, DWL_DLGPROC, reinterpret_cast<LONG_PTR>(create->proc));
    return 0;
  }
  auto proc = reinterpret_cast<DLGPROC>(GetWindowLongW(hwnd, DWL_DLGPROC));
  INT_PTR handled = proc ? proc(hwnd, msg, wParam, lParam) : 0;
  if (msg == WM_INITDIALOG)
    return handled;
  if (handled)
    return GetWindowLongW(hwnd, DWL_MSGRESULT);
  if (msg == WM_CLOSE) {
    // A dialog ends only through EndDialog: closing it (its title bar's
    // close button) is its cancel command, which the procedure answers.
    PostMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// The label text without its mnemonic marks ("&&" stays one "&").
QString WithoutMnemonic(const QString &text) {
  QString out;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'&' && i + 1 < text.size())
      ++i;
    out += text[i];
  }
  return out;
}

// The text of a static: the widget itself for a label, inside its scroll
// area for a text window.
QLabel *LabelOf(QWidget *widget) {
  auto *label = qobject_cast<QLabel *>(widget);
  return label ? label : widget->findChild<QLabel *>();
}

bool TakesTab(const QWidget *widget) {
  return widget && !widget->isHidden() && (widget->focusPolicy() & Qt::TabFocus);
}

// Whether a comes before b in reading order: top to bottom, then left to
// right.
bool ReadsBefore(const QWidget *a, const QWidget *b) {
  return a->y() != b->y() ? a->y() < b->y() : a->x() < b->x();
}

// Radio buttons next to each other in reading order are one choice: one
// Tab stop (the checked button, else the first), and the arrow keys move
// the check along them by clicking the next one, so the dialog procedure
// hears the click it would hear from the mouse.
class RadioGroup : public QObject {
public:
  RadioGroup(const std::vector<QAbstractButton *> &buttons, QObject *parent)
      : QObject(parent), buttons_(buttons.begin(), buttons.end()) {
    for (QAbstractButton *button : buttons) {
      button->installEventFilter(this);
      connect(button, &QAbstractButton::toggled, this, [this] { SetTabStop(); });
    }
    SetTabStop();
  }

protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() != QEvent::KeyPress)
      return false;
    auto *key = static_cast<QKeyEvent *>(event);
    int step = key->key() == Qt::Key_Down || key->key() == Qt::Key_Right ? 1
               : key->key() == Qt::Key_Up || key->key() == Qt::Key_Left  ? -1
                                                                          : 0;
    if (!step || (key->modifiers() & ~Qt::KeypadModifier))
      return false;
    auto at = std::find_if(buttons_.begin(), buttons_.end(),
                           [watched](const QPointer<QAbstractButton> &b) { return b.data() == watched; });
    if (at == buttons_.end())
      return false;
    const int count = static_cast<int>(buttons_.size());
    int index = static_cast<int>(at - buttons_.begin());
    for (int tries = 1; tries < count; ++tries) {
      QAbstractButton *next = buttons_[(index + step * tries + count * tries) % count];
      if (next && next->isEnabled() && next->isVisible()) {
        next->setFocus(step > 0 ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        next->click();
        break;
      }
    }
    return true;
  }

private:
  void SetTabStop() {
    QAbstractButton *stop = nullptr;
    for (QAbstractButton *button : buttons_)
      if (button && button->isChecked() && !stop)
        stop = button;
    if (!stop && !buttons_.empty())
      stop = buttons_.front();
    for (QAbstractButton *button : buttons_)
      if (button)
        button->setFocusPolicy(button == stop ? Qt::StrongFocus : Qt::ClickFocus);
  }

  std::vector<QPointer<QAbstractButton>> buttons_;
};

void GroupRadioButtons(const std::vector<QWidget *> &chain) {
  std::vector<QAbstractButton *> run;
  auto finish = [&run] {
    if (run.size() > 1)
      new RadioGroup(run, run.front()->parentWidget());
    run.clear();
  };
  for (QWidget *widget : chain) {
    if (auto *radio = qobject_cast<QRadioButton *>(widget))
      run.push_back(radio);
    else
      finish();
  }
  finish();
}

// The keyboard of a dialog once its controls are made: Tab goes through
// the controls in reading order (the template's order among equals) and
// then the soft-key bar's buttons; a label's mnemonic moves the focus to
// the first control after the label in that order (the one it names); the
// first control (the checked choice of a group, if any) has the focus when
// the dialog opens.
void ArrangeKeyboard(HWND dialog, bool setFocus) {
  vqt::WindowHost *host = vqt::HostFor(dialog);
  if (!host || !host->client || !host->frame)
    return;
  std::vector<QWidget *> chain, labels;
  for (QObject *child : host->client->children()) {
    auto *widget = qobject_cast<QWidget *>(child);
    if (!widget || widget->isHidden())
      continue;
    if (TakesTab(widget))
      chain.push_back(widget);
    else if (QLabel *label = LabelOf(widget); label && label->property("vantrel_mnemonic").toBool())
      labels.push_back(widget);
  }
  std::stable_sort(chain.begin(), chain.end(), ReadsBefore);
  for (QWidget *place : labels) {
    QLabel *label = LabelOf(place);
    auto named = std::find_if(chain.begin(), chain.end(), [place](QWidget *w) { return ReadsBefore(place, w); });
    if (named != chain.end() && QKeySequence::mnemonic(label->text()) != QKeySequence()) {
      label->setBuddy(*named);
      // Named by its label also where the accessibility layer takes a
      // control's name from the control itself.
      if ((*named)->accessibleName().isEmpty())
        (*named)->setAccessibleName(WithoutMnemonic(label->text()));
    } else {
      label->setText(WithoutMnemonic(label->text()));
    }
    // A label too narrow for its text at its height (a translation longer
    // than the template's words) would be cut: it is widened to hold the
    // text on one line (its text is final now); the dialog grows to it.
    if (HWND window = vqt::HandleOf(place);
        place == label && window &&
        (label->width() < label->minimumSizeHint().width() ||
         label->heightForWidth(label->width()) > label->height())) {
      // One line, not wrapped, kept at least that wide as the dialog is
      // fitted and resized.
      label->setWordWrap(false);
      const int oneLine = std::max(label->sizeHint().width(), label->width());
      label->setMinimumWidth(oneLine);
      MoveWindow(window, label->x(), label->y(), oneLine, label->height(), TRUE);
    }
  }
  GroupRadioButtons(chain);
  if (host->bar)
    for (QAbstractButton *button : host->bar->findChildren<QAbstractButton *>())
      if (TakesTab(button))
        chain.push_back(button);
  for (size_t i = 1; i < chain.size(); ++i)
    QWidget::setTabOrder(chain[i - 1], chain[i]);
  if (!setFocus || chain.empty())
    return;
  QWidget *first = chain.front();
  for (QWidget *widget : chain)
    if (auto *choice = qobject_cast<QAbstractButton *>(widget);
        choice && choice->isCheckable() && choice->isChecked() && widget->parentWidget() == host->client) {
      first = widget;
      break;
    }
  first->setFocus(Qt::OtherFocusReason);
}

// The template's font size where it is larger than the desktop's: text is
// never smaller than the desktop's own.
QFont DialogFont(const DLGTEMPLATE *tmpl) {
  QFont font = QApplication::font();
  if (tmpl->pointSize > 0 && tmpl->pointSize < 72 && tmpl->pointSize > font.pointSizeF())
    font.setPointSize(tmpl->pointSize);
  return font;
}

INT_PTR RunDialog(HINSTANCE inst, const DLGTEMPLATE *tmpl, HWND owner, DLGPROC proc, LPARAM param) {
  if (vqt::QuitPending())
    return -1;
  QFont font = DialogFont(tmpl);
  QFontMetrics metrics(font);
  int unitX = std::max(1, metrics.averageCharWidth()), unitY = std::max(1, metrics.height());
  auto px = [&](int du, bool horizontal) { return horizontal ? du * unitX / 4 : du * unitY / 8; };
  DialogCreate create{proc};
  DWORD style = tmpl->style & ~static_cast<DWORD>(WS_VISIBLE | WS_CHILD);
  HWND dialog = CreateWindowExW(tmpl->exStyle, vqt::kDialogClass, ResourceText(tmpl->caption), style,
                                px(tmpl->x, true), px(tmpl->y, false), px(tmpl->cx, true),
                                px(tmpl->cy, false), owner, nullptr, inst, &create);
  if (!dialog)
    return -1;
  if (vqt::WindowHost *host = vqt::HostFor(dialog); host && host->frame)
    host->frame->setFont(font);
  HWND first = nullptr;
  for (UINT i = 0; tmpl->items && i < tmpl->itemCount && i < 256; ++i) {
    const DLGITEMTEMPLATEW &item = tmpl->items[i];
    if (!item.className || IS_INTRESOURCE(item.className))
      continue;
    HWND control = CreateWindowExW(item.exStyle, item.className, ResourceText(item.text),
                                   item.style | WS_CHILD, px(item.x, true), px(item.y, false),
                                   px(item.cx, true), px(item.cy, false),
                                   dialog, reinterpret_cast<HMENU>(static_cast<intptr_t>(item.id)), inst, nullptr);
    // The procedure is told the first control a person can tab to.
    if (control && !first && (item.style & WS_TABSTOP) && !(item.style & WS_DISABLED))
      first = control;
  }
  DialogState state;
  Dialogs()[dialog] = &state;
  LRESULT focusFirst = SendMessageW(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), param);
  if (!state.done && IsWindow(dialog)) {
    ArrangeKeyboard(dialog, focusFirst != 0);
    // A template that lists controls is laid out by them; one without
    // (its procedure makes or paints its content) is as large as it says.
    vqt::FitDialogToContent(dialog, tmpl->itemCount > 0);
    vqt::CentreOnOwner(dialog);
    ShowWindow(dialog, SW_SHOW);
  }
  while (!state.done && IsWindow(dialog) && !vqt::QuitPending()) {
    QEventLoop loop;
    state.loop = &loop;
    vqt::ModalScope modal([&loop] { loop.exit(0); });
    loop.exec();
    state.loop = nullptr;
  }
  Dialogs().erase(dialog);
  if (IsWindow(dialog))
    DestroyWindow(dialog);
  return state.done ? state.result : -1;
}

} // namespace

namespace vqt {

void RegisterInternalClasses() {
  WNDCLASSW cls{};
  cls.lpfnWndProc = DialogWndProc;
  cls.lpszClassName = kDialogClass;
  RegisterClassW(&cls);
  RegisterMenuBarClass();
}

INT_PTR HookDialogBox(HINSTANCE inst, const DLGTEMPLATE *tmpl, HWND owner, DLGPROC proc, LPARAM param,
                      void *) {
  INT_PTR result = -1;
  RunOnUiThread([&] {
    if (!UserInterfaceEnded())
      result = RunDialog(inst, tmpl, owner, proc, param);
  });
  return result;
}

BOOL HookEndDialog(HWND dialog, INT_PTR result, void *) {
  BOOL ok = FALSE;
  RunOnUiThread([&] {
    auto it = Dialogs().find(dialog);
    if (it == Dialogs().end())
      return;
    it->second->done = true;
    it->second->result = result;
    if (it->second->loop)
      it->second->loop->exit(0);
    // Hidden at once, as the original does; destroyed when the loop returns.
    if (WindowHost *host = HostFor(dialog); host && host->frame)
      host->frame->hide();
    ok = TRUE;
  });
  return ok;
}

} // namespace vqt
