// The soft-key menu bar: a window of its own (so TB_GETBUTTONINFO and
// SHCMBM_GETMENU reach it). An ordinary window's bar with a menu is shown as
// a desktop menu bar above the client area. Under a dialog the bar is the
// desktop's button row: the buttons at the bottom right in the platform's
// order, the closing button named as the desktop names it. Any other bar is
// a strip of buttons below the client area: a drop-down button opens its
// pop-up upwards from the bar, a plain button posts its command to the parent.
#include "platform/controls.h"
#include "platform/core/menu_bar_answers.h"
#include "platform/qt/qt_internal.h"
#include "platform/resource_formats.h"
#include "platform/shell.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStyle>

#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

using Button = MenuBarButton;
using Bar = MenuBarContents;

std::mutex gMenuBarMutex;
std::unordered_map<HWND, std::shared_ptr<Bar>> gBars;

std::shared_ptr<Bar> BarOf(HWND hwnd) {
  std::lock_guard<std::mutex> lock(gMenuBarMutex);
  auto it = gBars.find(hwnd);
  return it == gBars.end() ? nullptr : it->second;
}

constexpr int kHeadlessBarHeight = 26;

// A caption as shown now: the resource's text in the person's language.
QString Shown(const std::u16string &caption) { return vqt::ToQString(ResourceText(caption.c_str())); }

// The resource's own text of a menu bar's menu, kept on its title action so
// that a change of language can name the menu anew.
constexpr char kCaptionProperty[] = "vantrel_caption";

// Names the menu bar's menus anew when the language changes (the items are
// named each time a menu opens).
class MenuTitles : public QObject {
public:
  using QObject::QObject;
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::LanguageChange)
      if (auto *menuBar = qobject_cast<QMenuBar *>(watched))
        for (QAction *action : menuBar->actions()) {
          const QVariant caption = action->property(kCaptionProperty);
          if (caption.isValid())
            action->setText(Shown(caption.toString().toStdU16String()));
        }
    return false;
  }
};

LRESULT BarProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<Bar> bar = BarOf(hwnd);
  if (LRESULT answer; AnswerMenuBarMessage(bar.get(), msg, wParam, lParam, &answer))
    return answer;
  if (msg == WM_DESTROY) {
    if (bar) {
      DestroyMenu(bar->menu);
      std::lock_guard<std::mutex> lock(gMenuBarMutex);
      gBars.erase(hwnd);
    }
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// What a bar button does when pressed: opens its pop-up or posts its command.
void Press(HWND bar, HWND parent, const Button &b, QPushButton *button) {
  HMENU popup = b.popup;
  UINT command = b.command;
  QObject::connect(button, &QPushButton::clicked, button, [bar, parent, popup, command, button] {
    if (!IsWindow(bar))
      return;
    if (popup) {
      QPoint at = button->mapToGlobal(QPoint(0, 0));
      TrackPopupMenuEx(popup, TPM_LEFTALIGN | TPM_BOTTOMALIGN, at.x(), at.y(), parent, nullptr);
    } else {
      PostMessageW(parent, WM_COMMAND, static_cast<WPARAM>(static_cast<WORD>(command)), 0);
    }
  });
}

// A dialog's buttons as the desktop lays them out. A button posting IDCANCEL
// is the standard Cancel; the first plain button (the page's Done) is then
// the standard OK, and on its own the standard Close; any other button keeps
// its caption and sits with them. The posted commands stay the resource's,
// and OK or Close is the default button (the one Enter presses).
QWidget *MakeDialogButtons(HWND bar, HWND parent, const Bar &data) {
  auto *strip = new QWidget;
  strip->setObjectName("vantrel_menu_bar");
  auto *layout = new QHBoxLayout(strip);
  QStyle *style = strip->style();
  layout->setContentsMargins(style->pixelMetric(QStyle::PM_LayoutLeftMargin), 0,
                             style->pixelMetric(QStyle::PM_LayoutRightMargin),
                             style->pixelMetric(QStyle::PM_LayoutBottomMargin));
  auto *box = new QDialogButtonBox(strip);
  box->setObjectName("vantrel_dialog_buttons");
  layout->addWidget(box);
  bool hasCancel = false;
  for (const Button &b : data.buttons)
    hasCancel = hasCancel || (!b.popup && b.command == IDCANCEL);
  bool closerGiven = false;
  for (size_t i = 0; i < data.buttons.size(); ++i) {
    const Button &b = data.buttons[i];
    QPushButton *button;
    if (!b.popup && b.command == IDCANCEL) {
      button = box->addButton(QDialogButtonBox::Cancel);
    } else if (!b.popup && !closerGiven) {
      button = box->addButton(hasCancel ? QDialogButtonBox::Ok : QDialogButtonBox::Close);
      // Close sits with the rejecting buttons, yet here it is the one
      // Enter presses: the page has no other way to be done.
      button->setDefault(true);
      closerGiven = true;
    } else {
      button = box->addButton(Shown(b.caption), QDialogButtonBox::ActionRole);
    }
    button->setObjectName(QStringLiteral("vantrel_soft_key_%1").arg(i));
    button->setEnabled(b.state & TBSTATE_ENABLED);
    Press(bar, parent, b, button);
  }
  return strip;
}

// An ordinary window's bar is a desktop menu bar above its client area:
// each drop-down button is a menu of the bar, and the plain buttons (Quit)
// are the last items of the first menu, after a separator. A menu hears
// WM_INITMENUPOPUP and is filled afresh each time it opens, as a pop-up is.
QWidget *MakeMenuBarWidget(HWND bar, HWND parent, const Bar &data) {
  auto *menuBar = new QMenuBar;
  menuBar->setObjectName("vantrel_menu_bar");
  menuBar->setNativeMenuBar(false);
  std::vector<const Button *> plain;
  for (const Button &b : data.buttons)
    if (!b.popup)
      plain.push_back(&b);
  bool first = true;
  for (const Button &b : data.buttons) {
    if (!b.popup)
      continue;
    QMenu *menu = menuBar->addMenu(Shown(b.caption));
    menu->setObjectName(QStringLiteral("vantrel_menu_%1").arg(b.command));
    menu->menuAction()->setProperty(kCaptionProperty, vqt::ToQString(b.caption.c_str()));
    auto chosen = std::make_shared<int>(0);
    std::vector<std::pair<std::u16string, UINT>> tail;
    if (first)
      for (const Button *p : plain)
        tail.emplace_back(p->caption, p->command);
    first = false;
    HMENU popup = b.popup;
    QObject::connect(menu, &QMenu::aboutToShow, menu, [bar, parent, popup, menu, chosen, tail] {
      if (!IsWindow(bar))
        return;
      SendMessageW(parent, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup), 0);
      vqt::FillMenu(menu, popup, parent, chosen.get());
      if (!tail.empty())
        menu->addSeparator();
      for (const auto &[caption, command] : tail) {
        QAction *action = menu->addAction(Shown(caption));
        UINT id = command;
        QObject::connect(action, &QAction::triggered, action, [chosen, id] { *chosen = static_cast<int>(id); });
      }
    });
    // Sub-menus' choices reach the top menu's triggered signal too. It is
    // heard once the item's own handler has noted the command (the menu
    // hears an item before the handlers connected after it was added).
    QObject::connect(
        menu, &QMenu::triggered, menu,
        [bar, parent, chosen] {
          const int command = *chosen;
          *chosen = 0;
          if (command && IsWindow(bar))
            PostMessageW(parent, WM_COMMAND, static_cast<WPARAM>(static_cast<WORD>(command)), 0);
        },
        Qt::QueuedConnection);
  }
  menuBar->installEventFilter(new MenuTitles(menuBar));
  return menuBar;
}

QWidget *MakeBarWidget(HWND bar, HWND parent, const Bar &data) {
  vqt::WindowHost *host = vqt::HostFor(parent);
  if (host && host->dialog && !host->child)
    return MakeDialogButtons(bar, parent, data);
  if (host && !host->dialog && data.menu)
    return MakeMenuBarWidget(bar, parent, data);
  auto *strip = new QWidget;
  strip->setObjectName("vantrel_menu_bar");
  strip->setAutoFillBackground(true);
  auto *layout = new QHBoxLayout(strip);
  layout->setContentsMargins(2, 2, 2, 2);
  for (size_t i = 0; i < data.buttons.size() && i < 2; ++i) {
    const Button &b = data.buttons[i];
    auto *button = new QPushButton(Shown(b.caption), strip);
    button->setObjectName(QStringLiteral("vantrel_soft_key_%1").arg(i));
    button->setEnabled(b.state & TBSTATE_ENABLED);
    if (i == 1 && data.buttons.size() > 1)
      layout->addStretch(1);
    layout->addWidget(button, 0, i == 0 ? Qt::AlignLeft : Qt::AlignRight);
    Press(bar, parent, b, button);
  }
  if (data.buttons.size() == 1)
    layout->addStretch(1);
  return strip;
}

} // namespace

namespace vqt {

void RegisterMenuBarClass() {
  WNDCLASSW cls{};
  cls.lpfnWndProc = BarProc;
  cls.lpszClassName = kMenuBarClass;
  RegisterClassW(&cls);
}

} // namespace vqt

BOOL SHCreateMenuBar(SHMENUBARINFO *info) {
  static std::once_flag once;
  std::call_once(once, vqt::RegisterMenuBarClass); // also headless
  if (!info || !IsWindow(info->hwndParent))
    return FALSE;
  info->hwndMB = nullptr;
  HRSRC res = FindResourceW(info->hInstRes, MAKEINTRESOURCEW(info->nToolBarId), RT_MENUBAR);
  auto *data = static_cast<const MENUBARRESOURCE *>(LockResource(LoadResource(info->hInstRes, res)));
  if (!data || SizeofResource(info->hInstRes, res) < sizeof(MENUBARRESOURCE) ||
      (data->buttonCount && !data->buttons))
    return FALSE;
  auto bar = std::make_shared<Bar>();
  if (data->menuId)
    bar->menu = LoadMenuW(info->hInstRes, MAKEINTRESOURCEW(data->menuId));
  for (UINT i = 0; i < data->buttonCount; ++i) {
    const MENUBARBUTTON &r = data->buttons[i];
    Button b{r.command, r.state, r.style, r.caption ? r.caption : u"", nullptr};
    WCHAR text[100];
    if (r.captionId && LoadStringW(info->hInstRes, r.captionId, text, 100) > 0)
      b.caption = text;
    if (r.popupIndex >= 0 && bar->menu)
      b.popup = GetSubMenu(bar->menu, r.popupIndex);
    bar->buttons.push_back(std::move(b));
  }
  RECT parent{};
  GetClientRect(info->hwndParent, &parent);
  HWND hwnd = CreateWindowExW(0, vqt::kMenuBarClass, nullptr, WS_CHILD | WS_VISIBLE, 0, parent.bottom,
                              parent.right, kHeadlessBarHeight, info->hwndParent, nullptr, info->hInstRes,
                              nullptr);
  if (!hwnd) {
    DestroyMenu(bar->menu);
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> lock(gMenuBarMutex);
    gBars[hwnd] = bar;
  }
  if (vqt::OnUiThread() && vqt::HostFor(info->hwndParent))
    vqt::SetFrameBar(info->hwndParent, hwnd, MakeBarWidget(hwnd, info->hwndParent, *bar));
  info->hwndMB = hwnd;
  return TRUE;
}
