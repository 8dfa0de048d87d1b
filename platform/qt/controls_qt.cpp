// The standard controls. Each keeps its state (text, check mark, items,
// selection) in a record, so the messages answer the same headless; on the
// user-interface thread a widget shows that state and turns the user's
// actions into WM_COMMAND notifications to the parent.
#include "platform/controls.h"
#include "platform/core/window_toolkit.h"
#include "platform/qt/qt_internal.h"
#include "platform/threads.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#define WM_GETTEXTLENGTH 0x000E
#define MAKEWPARAM(l, h) ((WPARAM)(((WPARAM)(WORD)(l)) | (((WPARAM)(WORD)(h)) << 16)))

namespace {

enum class Type { Button, Combo, List, Edit, Static };

struct Control {
  Type type;
  DWORD style = 0;
  std::u16string text;
  int check = BST_UNCHECKED;
  std::vector<std::u16string> items;
  int selection = -1;
  HBITMAP image = nullptr;
  QPointer<QWidget> widget;
  QPointer<QLabel> label; // a static's text or picture
  bool updating = false;  // the widget is being set from the record
};

std::mutex gControlsMutex;
std::unordered_map<HWND, std::shared_ptr<Control>> gControls;

std::shared_ptr<Control> ControlOf(HWND hwnd) {
  std::lock_guard<std::mutex> lock(gControlsMutex);
  auto it = gControls.find(hwnd);
  return it == gControls.end() ? nullptr : it->second;
}

int Kind(const Control &c) { return static_cast<int>(c.style & BS_TYPEMASK); }

void Notify(HWND hwnd, int code) {
  HWND parent = GetParent(hwnd);
  if (parent)
    SendMessageW(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), code), reinterpret_cast<LPARAM>(hwnd));
}

int CopyText(const std::u16string &text, LPWSTR buffer, int max) {
  if (!buffer || max <= 0)
    return 0;
  int n = std::min(static_cast<int>(text.size()), max - 1);
  std::memcpy(buffer, text.data(), n * sizeof(char16_t));
  buffer[n] = 0;
  return n;
}

std::u16string Fold(const std::u16string &s) {
  std::u16string f = s;
  for (char16_t &c : f)
    if (c >= u'A' && c <= u'Z')
      c = static_cast<char16_t>(c + 32);
  return f;
}

// The first item whose text begins with the prefix (exact: equals the text),
// without regard to case, searching after start and wrapping round, as the
// list controls do.
int FindText(const Control &c, int start, LPCWSTR prefix, bool exact) {
  if (!prefix)
    return -1;
  std::u16string p = Fold(prefix);
  int n = static_cast<int>(c.items.size());
  for (int k = 1; k <= n; ++k) {
    int i = ((start < 0 || start >= n ? -1 : start) + k) % n;
    const std::u16string item = Fold(c.items[i]);
    if (exact ? item == p : item.compare(0, p.size(), p) == 0 && item.size() >= p.size())
      return i;
  }
  return -1;
}

// The widget follows the record.
void Show(Control &c) {
  if (!c.widget || !vqt::OnUiThread())
    return;
  c.updating = true;
  QString text = vqt::ToQString(c.text.c_str());
  switch (c.type) {
  case Type::Button:
    if (auto *b = qobject_cast<QAbstractButton *>(c.widget)) {
      b->setText(text);
      b->setChecked(c.check == BST_CHECKED);
    }
    break;
  case Type::Combo:
    if (auto *box = qobject_cast<QComboBox *>(c.widget)) {
      box->clear();
      for (auto &item : c.items)
        box->addItem(vqt::ToQString(item.c_str()));
      box->setCurrentIndex(c.selection);
    }
    break;
  case Type::List:
    if (auto *list = qobject_cast<QListWidget *>(c.widget)) {
      list->clear();
      for (auto &item : c.items)
        list->addItem(vqt::ToQString(item.c_str()));
      list->setCurrentRow(c.selection);
    }
    break;
  case Type::Edit:
    if (auto *line = qobject_cast<QLineEdit *>(c.widget)) {
      if (line->text() != text)
        line->setText(text);
    } else if (auto *area = qobject_cast<QPlainTextEdit *>(c.widget)) {
      if (area->toPlainText() != text)
        area->setPlainText(text);
    }
    break;
  case Type::Static:
    if (auto *area = qobject_cast<QPlainTextEdit *>(c.widget)) {
      if (area->toPlainText() != text)
        area->setPlainText(text);
    } else if (c.label) {
      QImage image;
      if ((c.style & 0x1F) == SS_BITMAP && vqt::ImageOf(c.image, &image))
        c.label->setPixmap(QPixmap::fromImage(image));
      else if ((c.style & 0x1F) != SS_BITMAP)
        c.label->setText(text);
    }
    break;
  }
  c.updating = false;
}

void ButtonClicked(HWND hwnd) {
  std::shared_ptr<Control> c = ControlOf(hwnd);
  if (!c || c->updating)
    return;
  int kind = Kind(*c);
  if (kind == BS_AUTOCHECKBOX) {
    c->check = c->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
  } else if (kind == BS_AUTORADIOBUTTON) {
    // The other auto radio buttons of the parent lose their mark.
    HWND parent = GetParent(hwnd);
    std::vector<std::shared_ptr<Control>> others;
    {
      std::lock_guard<std::mutex> lock(gControlsMutex);
      for (auto &[other, control] : gControls)
        if (other != hwnd && control->type == Type::Button && Kind(*control) == BS_AUTORADIOBUTTON &&
            GetParent(other) == parent)
          others.push_back(control);
    }
    for (auto &other : others) {
      other->check = BST_UNCHECKED;
      Show(*other);
    }
    c->check = BST_CHECKED;
  }
  // Plain check boxes and radio buttons change only through BM_SETCHECK.
  Show(*c);
  Notify(hwnd, BN_CLICKED);
}

void MakeWidget(HWND hwnd, Control &c, QWidget *parent, QRect rect) {
  QWidget *w = nullptr;
  switch (c.type) {
  case Type::Button: {
    int kind = Kind(c);
    QAbstractButton *b;
    if (kind == BS_CHECKBOX || kind == BS_AUTOCHECKBOX) {
      b = new QCheckBox(parent);
    } else if (kind == BS_RADIOBUTTON || kind == BS_AUTORADIOBUTTON) {
      auto *radio = new QRadioButton(parent);
      radio->setAutoExclusive(false); // the record decides the marks
      b = radio;
    } else {
      b = new QPushButton(parent);
      // A push button of an ordinary window (not a dialog) acts on a click
      // without taking the keyboard focus: keys typed next, which may come
      // from a keyboard meant for other windows, never press it. Tab still
      // reaches it.
      vqt::WindowHost *owner = vqt::HostFor(vqt::HandleOf(parent));
      if (owner && !owner->dialog)
        b->setFocusPolicy(Qt::TabFocus);
    }
    QObject::connect(b, &QAbstractButton::clicked, b, [hwnd] { ButtonClicked(hwnd); });
    w = b;
    break;
  }
  case Type::Combo: {
    auto *box = new QComboBox(parent);
    QObject::connect(box, &QComboBox::activated, box, [hwnd](int index) {
      std::shared_ptr<Control> c = ControlOf(hwnd);
      if (!c || c->updating)
        return;
      c->selection = index;
      Notify(hwnd, CBN_SELCHANGE);
      Notify(hwnd, CBN_SELENDOK);
    });
    // The template's height includes the dropped-down list.
    rect.setHeight(std::min(rect.height(), box->sizeHint().height()));
    w = box;
    break;
  }
  case Type::List: {
    auto *list = new QListWidget(parent);
    QObject::connect(list, &QListWidget::currentRowChanged, list, [hwnd](int row) {
      std::shared_ptr<Control> c = ControlOf(hwnd);
      if (!c || c->updating)
        return;
      c->selection = row;
      Notify(hwnd, LBN_SELCHANGE);
    });
    w = list;
    break;
  }
  case Type::Edit: {
    bool readOnly = (c.style & ES_READONLY) != 0;
    auto changed = [hwnd](const QString &text) {
      std::shared_ptr<Control> c = ControlOf(hwnd);
      if (!c || c->updating)
        return;
      c->text = vqt::FromQString(text);
      Notify(hwnd, EN_CHANGE);
    };
    if (c.style & ES_MULTILINE) {
      auto *area = new QPlainTextEdit(parent);
      area->setReadOnly(readOnly);
      QObject::connect(area, &QPlainTextEdit::textChanged, area,
                       [area, changed] { changed(area->toPlainText()); });
      w = area;
    } else {
      auto *line = new QLineEdit(parent);
      line->setReadOnly(readOnly);
      QObject::connect(line, &QLineEdit::textEdited, line, changed);
      // One line of text at the field's own height, however tall the
      // template made it.
      rect.setHeight(std::min(rect.height(), line->sizeHint().height()));
      w = line;
    }
    break;
  }
  case Type::Static: {
    if ((c.style & WS_TABSTOP) && (c.style & 0x1F) != SS_BITMAP) {
      // A page of text (help, tips): a read-only text area of the
      // desktop's look, which wraps at its width, scrolls what does not fit
      // with a scroll bar a person sees, and takes the focus so the
      // keyboard scrolls it too. Its text can be selected and copied.
      auto *area = new QPlainTextEdit(parent);
      area->setReadOnly(true);
      area->setLineWrapMode(QPlainTextEdit::WidgetWidth);
      area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      area->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
      area->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
      area->setFocusPolicy(Qt::StrongFocus);
      // Kept inside the page, which it fills as the page grows.
      area->setProperty("vantrel_clip", true);
      w = area;
      break;
    }
    auto *label = new QLabel(parent);
    label->setAlignment((c.style & 0x1F) == SS_CENTER  ? Qt::AlignHCenter | Qt::AlignTop
                        : (c.style & 0x1F) == SS_RIGHT ? Qt::AlignRight | Qt::AlignTop
                                                       : Qt::AlignLeft | Qt::AlignTop);
    if ((c.style & 0x1F) != SS_BITMAP) {
      // A label: no focus of its own, its mnemonic names the next control.
      // It sits beside that control, where the accessibility layer finds
      // it as the control's label.
      label->setWordWrap(true);
      label->setTextFormat(Qt::PlainText);
      if (!(c.style & SS_NOPREFIX))
        label->setProperty("vantrel_mnemonic", true);
    }
    w = label;
    c.label = label;
    break;
  }
  }
  c.widget = w;
  w->setEnabled(!(c.style & WS_DISABLED));
  w->setVisible(false); // ShowWindow shows it when WS_VISIBLE is set
  vqt::AttachControlWidget(hwnd, w, rect);
  Show(c);
}

LRESULT CALLBACK_ControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CREATE) {
    auto *cs = reinterpret_cast<const CREATESTRUCTW *>(lParam);
    auto c = std::make_shared<Control>();
    std::u16string cls = Fold(cs->lpszClass ? cs->lpszClass : u"");
    c->type = cls == u"button"     ? Type::Button
              : cls == u"combobox" ? Type::Combo
              : cls == u"listbox"  ? Type::List
              : cls == u"edit"     ? Type::Edit
                                   : Type::Static;
    c->style = static_cast<DWORD>(cs->style);
    if (cs->lpszName)
      c->text = cs->lpszName;
    if (cs->hwndParent) {
      // A control given a parent lives inside it, WS_CHILD or not.
      wincore::MarkChildWindow(hwnd);
    }
    {
      std::lock_guard<std::mutex> lock(gControlsMutex);
      gControls[hwnd] = c;
    }
    QWidget *parent = cs->hwndParent ? vqt::ClientOf(cs->hwndParent) : nullptr;
    if (parent && vqt::OnUiThread())
      MakeWidget(hwnd, *c, parent, QRect(cs->x == CW_USEDEFAULT ? 0 : cs->x, cs->y == CW_USEDEFAULT ? 0 : cs->y,
                                         cs->cx == CW_USEDEFAULT ? 0 : cs->cx,
                                         cs->cy == CW_USEDEFAULT ? 0 : cs->cy));
    return 0;
  }
  std::shared_ptr<Control> c = ControlOf(hwnd);
  if (!c)
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  auto text = reinterpret_cast<LPCWSTR>(lParam);
  int count = static_cast<int>(c->items.size());
  bool combo = c->type == Type::Combo;
  switch (msg) {
  case WM_DESTROY: {
    std::lock_guard<std::mutex> lock(gControlsMutex);
    gControls.erase(hwnd);
    return 0;
  }
  case WM_SETTEXT:
    c->text = text ? text : u"";
    Show(*c);
    return TRUE;
  case WM_GETTEXT:
    return CopyText(c->text, reinterpret_cast<LPWSTR>(lParam), static_cast<int>(wParam));
  case WM_GETTEXTLENGTH:
    return static_cast<LRESULT>(c->text.size());
  case WM_SETFONT: {
    QFont font;
    if (c->widget && vqt::OnUiThread() && vqt::FontOf(reinterpret_cast<HFONT>(wParam), &font)) {
      c->widget->setFont(font);
      if (c->label)
        c->label->setFont(font);
    }
    return 0;
  }
  case BM_GETCHECK:
    return c->type == Type::Button ? c->check : 0;
  case BCM_GETIDEALSIZE: {
    auto *size = reinterpret_cast<SIZE *>(lParam);
    auto *button = qobject_cast<QPushButton *>(c->widget.data());
    if (!size || !button || !vqt::OnUiThread())
      return FALSE;
    const QSize hint = button->sizeHint();
    size->cx = hint.width();
    size->cy = hint.height();
    return TRUE;
  }
  case BM_SETCHECK:
    if (c->type == Type::Button) {
      c->check = wParam == BST_CHECKED ? BST_CHECKED : BST_UNCHECKED;
      Show(*c);
    }
    return 0;
  case BM_CLICK:
    if (c->type == Type::Button)
      ButtonClicked(hwnd);
    return 0;
  case STM_SETIMAGE: {
    if (c->type != Type::Static || wParam != IMAGE_BITMAP)
      return 0;
    HBITMAP previous = std::exchange(c->image, reinterpret_cast<HBITMAP>(lParam));
    Show(*c);
    return reinterpret_cast<LRESULT>(previous);
  }
  case CB_ADDSTRING:
  case LB_ADDSTRING:
    if (combo != (msg == CB_ADDSTRING) || (c->type != Type::Combo && c->type != Type::List))
      break;
    c->items.push_back(text ? text : u"");
    Show(*c);
    return count;
  case CB_RESETCONTENT:
  case LB_RESETCONTENT:
    if (combo != (msg == CB_RESETCONTENT) || (c->type != Type::Combo && c->type != Type::List))
      break;
    c->items.clear();
    c->selection = -1;
    Show(*c);
    return 0;
  case CB_GETCOUNT:
  case LB_GETCOUNT:
    return count;
  case CB_GETCURSEL:
  case LB_GETCURSEL:
    return c->selection;
  case CB_SETCURSEL:
  case LB_SETCURSEL: {
    int index = static_cast<int>(static_cast<intptr_t>(wParam));
    if (index < 0 || index >= count) {
      c->selection = -1;
      Show(*c);
      return index < 0 ? 0 : -1; // clearing the selection is no error
    }
    c->selection = index;
    Show(*c);
    return index;
  }
  case CB_SELECTSTRING:
  case LB_SELECTSTRING: {
    int found = FindText(*c, static_cast<int>(static_cast<intptr_t>(wParam)), text, false);
    if (found >= 0) {
      c->selection = found;
      Show(*c);
    }
    return found;
  }
  case CB_FINDSTRINGEXACT:
  case LB_FINDSTRINGEXACT:
    if (c->type != Type::Combo && c->type != Type::List)
      break;
    return FindText(*c, static_cast<int>(static_cast<intptr_t>(wParam)), text, true);
  case CB_GETLBTEXT:
  case LB_GETTEXT: {
    int index = static_cast<int>(static_cast<intptr_t>(wParam));
    if (index < 0 || index >= count || !lParam)
      return -1;
    // The caller's buffer is taken to be large enough, as on the original;
    // CB_GETLBTEXTLEN tells the size.
    const std::u16string &item = c->items[index];
    std::memcpy(reinterpret_cast<LPWSTR>(lParam), item.c_str(), (item.size() + 1) * sizeof(char16_t));
    return static_cast<LRESULT>(item.size());
  }
  case CB_GETLBTEXTLEN:
  case LB_GETTEXTLEN: {
    int index = static_cast<int>(static_cast<intptr_t>(wParam));
    return index < 0 || index >= count ? -1 : static_cast<LRESULT>(c->items[index].size());
  }
  default:
    break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

} // namespace

void RegisterControlClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (LPCWSTR name : {u"BUTTON", u"COMBOBOX", u"LISTBOX", u"EDIT", u"STATIC"}) {
      WNDCLASSW cls{};
      cls.lpfnWndProc = CALLBACK_ControlProc;
      cls.lpszClassName = name;
      RegisterClassW(&cls);
    }
  });
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
  DWORD before = 0;
  if (!wincore::ChangeWindowStyle(hwnd, enable ? 0 : WS_DISABLED, enable ? WS_DISABLED : 0, &before))
    return FALSE;
  bool wasDisabled = (before & WS_DISABLED) != 0;
  auto apply = [hwnd, enable] {
    if (vqt::WindowHost *host = vqt::HostFor(hwnd); host && host->frame)
      host->frame->setEnabled(enable != FALSE);
  };
  if (vqt::OnUiThread())
    apply();
  else if (vqt::PumpObject())
    QMetaObject::invokeMethod(vqt::PumpObject(), apply, Qt::QueuedConnection);
  return wasDisabled ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND hwnd) {
  return IsWindow(hwnd) && !(GetWindowLongW(hwnd, GWL_STYLE) & WS_DISABLED) ? TRUE : FALSE;
}

BOOL SetWindowTextW(HWND hwnd, LPCWSTR text) {
  if (!IsWindow(hwnd))
    return FALSE;
  if (ControlOf(hwnd))
    return SendMessageW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
  std::u16string title = text ? text : u"";
  wincore::SetWindowTitle(hwnd, title);
  auto apply = [hwnd, title] {
    vqt::WindowHost *host = vqt::HostFor(hwnd);
    if (!host || !host->frame || host->child)
      return;
    host->frame->setWindowTitle(vqt::ToQString(title.c_str()));
  };
  if (vqt::OnUiThread())
    apply();
  else if (vqt::PumpObject())
    QMetaObject::invokeMethod(vqt::PumpObject(), apply, Qt::QueuedConnection);
  return TRUE;
}

int GetWindowTextW(HWND hwnd, LPWSTR buffer, int max) {
  if (!buffer || max <= 0)
    return 0;
  buffer[0] = 0;
  if (ControlOf(hwnd))
    return static_cast<int>(SendMessageW(hwnd, WM_GETTEXT, static_cast<WPARAM>(max), reinterpret_cast<LPARAM>(buffer)));
  std::u16string title;
  return wincore::WindowTitle(hwnd, &title) ? CopyText(title, buffer, max) : 0;
}

int GetWindowTextLengthW(HWND hwnd) {
  if (ControlOf(hwnd))
    return static_cast<int>(SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0));
  std::u16string title;
  return wincore::WindowTitle(hwnd, &title) ? static_cast<int>(title.size()) : 0;
}

HWND GetDlgItem(HWND dialog, int id) { return wincore::ChildWithId(dialog, id); }

int GetDlgCtrlID(HWND hwnd) { return static_cast<int>(GetWindowLongW(hwnd, GWL_ID)); }

LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam) {
  HWND item = GetDlgItem(dialog, id);
  return item ? SendMessageW(item, msg, wParam, lParam) : 0;
}
