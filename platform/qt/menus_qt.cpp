// Menus: a toolkit-independent record of items and states; a QMenu is built
// from it each time a menu is shown, after the owner has had its
// WM_INITMENUPOPUP, so the owner's changes there are what the user sees.
#include "platform/menus.h"
#include "platform/qt/qt_internal.h"
#include "platform/resource_formats.h"

#include <QAction>
#include <QApplication>
#include <QMenu>

#include <memory>
#include <mutex>
#include <unordered_set>
#include <vector>

namespace {

struct Menu;

struct Item {
  std::u16string text;
  UINT id = 0;
  UINT flags = 0; // MF_GRAYED, MF_CHECKED, MF_SEPARATOR, MF_POPUP
  Menu *popup = nullptr;
  // The item has been checked or unchecked: it is shown with a check box,
  // empty while unchecked. Commands that are never checked show none.
  bool checkable = false;
};

struct Menu {
  std::vector<Item> items;
};

std::recursive_mutex gMenusMutex;
std::unordered_set<Menu *> gMenus;

Menu *MenuOf(HMENU h) {
  auto *m = reinterpret_cast<Menu *>(h);
  return gMenus.count(m) ? m : nullptr;
}

HMENU Handle(Menu *m) { return reinterpret_cast<HMENU>(m); }

Menu *NewMenu() {
  auto *m = new Menu;
  gMenus.insert(m);
  return m;
}

// Frees the menu and its sub-menus. Every other menu that still lists one
// of them as a pop-up item (appended to two menus, or destroyed on its own)
// keeps the item without the pop-up, never a pointer to a freed menu.
void FreeMenu(Menu *m) {
  if (!gMenus.erase(m))
    return;
  for (Menu *other : gMenus)
    for (Item &item : other->items)
      if (item.popup == m)
        item.popup = nullptr, item.flags &= ~MF_POPUP;
  for (Item &item : m->items)
    if (item.popup)
      FreeMenu(item.popup);
  delete m;
}

// A resource is the program's own data, yet a faulty one must not bring the
// program down: null arrays are skipped and nesting is bounded.
Menu *Build(const MENUITEMRESOURCE *items, UINT count, int depth) {
  Menu *m = NewMenu();
  if (!items || depth > 8)
    return m;
  for (UINT i = 0; i < count; ++i) {
    const MENUITEMRESOURCE &r = items[i];
    Item item;
    item.text = r.text ? r.text : u"";
    item.id = r.id;
    item.flags = r.flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_SEPARATOR);
    if (r.children) {
      item.popup = Build(r.children, r.childCount, depth + 1);
      item.flags |= MF_POPUP;
    }
    m->items.push_back(std::move(item));
  }
  return m;
}

// The item addressed by command (searching sub-menus too) or by position.
Item *FindItem(Menu *m, UINT item, UINT flags, int depth = 0) {
  if (!m || depth > 8)
    return nullptr;
  if (flags & MF_BYPOSITION)
    return item < m->items.size() ? &m->items[item] : nullptr;
  for (Item &i : m->items) {
    if (!(i.flags & (MF_POPUP | MF_SEPARATOR)) && i.id == item)
      return &i;
    if (i.popup)
      if (Item *found = FindItem(i.popup, item, flags, depth + 1))
        return found;
  }
  return nullptr;
}

// Fills a QMenu from the record; sub-menus refresh themselves as they open.
void Fill(QMenu *qmenu, Menu *m, HWND owner, int *chosen) {
  qmenu->clear();
  std::lock_guard<std::recursive_mutex> lock(gMenusMutex);
  if (!MenuOf(Handle(m)))
    return;
  for (size_t pos = 0; pos < m->items.size(); ++pos) {
    const Item &item = m->items[pos];
    QString text = vqt::ToQString(ResourceText(item.text.c_str()));
    if (item.flags & MF_SEPARATOR) {
      qmenu->addSeparator();
    } else if (item.popup) {
      QMenu *sub = qmenu->addMenu(text);
      Menu *subMenu = item.popup;
      QObject::connect(sub, &QMenu::aboutToShow, sub, [sub, subMenu, owner, chosen, pos] {
        SendMessageW(owner, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(Handle(subMenu)),
                     static_cast<LPARAM>(pos));
        Fill(sub, subMenu, owner, chosen);
      });
      // Filled once now as well, so that it shows its items before opening.
      Fill(sub, subMenu, owner, chosen);
      sub->setEnabled(!(item.flags & (MF_GRAYED | MF_DISABLED)));
    } else {
      QAction *action = qmenu->addAction(text);
      action->setEnabled(!(item.flags & (MF_GRAYED | MF_DISABLED)));
      action->setCheckable(item.checkable || (item.flags & MF_CHECKED));
      action->setChecked(item.flags & MF_CHECKED);
      UINT id = item.id;
      QObject::connect(action, &QAction::triggered, action, [chosen, id] { *chosen = static_cast<int>(id); });
    }
  }
}

} // namespace

namespace vqt {

void FillMenu(QMenu *qmenu, HMENU menu, HWND owner, int *chosen) {
  std::lock_guard<std::recursive_mutex> lock(gMenusMutex);
  if (Menu *m = MenuOf(menu))
    Fill(qmenu, m, owner, chosen);
  else
    qmenu->clear();
}

} // namespace vqt

HMENU LoadMenuW(HINSTANCE inst, LPCWSTR name) {
  HRSRC res = FindResourceW(inst, name, RT_MENU);
  auto *data = static_cast<const MENURESOURCE *>(LockResource(LoadResource(inst, res)));
  if (!data || SizeofResource(inst, res) < sizeof(MENURESOURCE))
    return nullptr;
  std::lock_guard<std::recursive_mutex> lock(gMenusMutex);
  return Handle(Build(data->items, data->count, 0));
}

HMENU CreatePopupMenu() {
  std::lock_guard<std::recursive_mutex> lock(gMenusMutex);
  return Handle(NewMenu());
}

HMENU CreateMenu() { return CreatePopupMenu(); }

BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR id, LPCWSTR text) {
  std::lock_guard<std::recursive_mutex> lock(gMenusMutex);
  Menu *m = MenuOf(menu);
  if (!m)
    return FALSE;
  Item item;
  item.text = text && !(flags & MF_SEPARATOR) ? text : u"";
  item.flags = flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_SEPARATOR);
  if (flags & MF_POPUP) {
    Menu *sub = MenuOf(reinterpret_cast<HMENU>(id));
    if (!sub || sub == m)
      return FALSE;
    item.popup = sub;
    item.flags |= MF_POPUP;
  } else {
    item.id = static_cast<UINT>(id);
  }
  m->items.push_back(std::move(item));
  return TRUE;
}

DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags) {
  std::lock_guard<std::recursive_mutex> lock(gMenusMutex);
  Item *i = FindItem(MenuOf(menu), item, flags);
  if (!i)
    return static_cast<DWORD>(-1);
  DWORD previous = i->flags & MF_CHECKED;
  i->flags = (i->flags & ~MF_CHECKED) | (flags & MF_CHECKED);
  i->checkable = true;
  return previous;
}

BOOL EnableMenuItem(HMENU menu, UINT item, UINT flags) {
  std::lock_guard<std::recursive_mutex> lock(gMenusMutex);
  Item *i = FindItem(MenuOf(menu), item, flags);
  if (!i)
    return -1;
  BOOL previous = (i->flags & (MF_GRAYED | MF_DISABLED)) ? MF_GRAYED : MF_ENABLED;
  i->flags = (i->flags & ~(MF_GRAYED | MF_DISABLED)) | (flags & (MF_GRAYED | MF_DISABLED) ? MF_GRAYED : 0);
  return previous;
}

UINT GetMenuState(HMENU menu, UINT item, UINT flags) {
  std::lock_guard<std::recursive_mutex> lock(gMenusMutex);
  Item *i = FindItem(MenuOf(menu), item, flags);
  return i ? i->flags : static_cast<UINT>(-1);
}

int GetMenuItemCount(HMENU menu) {
  std::lock_guard<std::recursive_mutex> lock(gMenusMutex);
  Menu *m = MenuOf(menu);
  return m ? static_cast<int>(m->items.size()) : -1;
}

UINT GetMenuItemID(HMENU menu, int pos) {
  std::lock_guard<std::recursive_mutex> lock(gMenusMutex);
  Menu *m = MenuOf(menu);
  if (!m || pos < 0 || pos >= static_cast<int>(m->items.size()) || m->items[pos].popup)
    return static_cast<UINT>(-1);
  return m->items[pos].id;
}

HMENU GetSubMenu(HMENU menu, int pos) {
  std::lock_guard<std::recursive_mutex> lock(gMenusMutex);
  Menu *m = MenuOf(menu);
  if (!m || pos < 0 || pos >= static_cast<int>(m->items.size()))
    return nullptr;
  return Handle(m->items[pos].popup);
}

BOOL DestroyMenu(HMENU menu) {
  std::lock_guard<std::recursive_mutex> lock(gMenusMutex);
  Menu *m = MenuOf(menu);
  if (!m)
    return FALSE;
  FreeMenu(m);
  return TRUE;
}

BOOL TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND owner, TPMPARAMS *) {
  {
    std::lock_guard<std::recursive_mutex> lock(gMenusMutex);
    if (!MenuOf(menu))
      return FALSE;
  }
  if (!vqt::OnUiThread() || !qobject_cast<QApplication *>(QCoreApplication::instance()) || vqt::QuitPending())
    return FALSE;
  SendMessageW(owner, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), 0);
  QWidget *parent = nullptr;
  if (vqt::WindowHost *host = vqt::HostFor(GetTopLevelWindow(owner)))
    parent = host->frame;
  QMenu qmenu(parent);
  qmenu.setObjectName("vantrel_popup_menu");
  int chosen = 0;
  {
    std::lock_guard<std::recursive_mutex> lock(gMenusMutex);
    Fill(&qmenu, MenuOf(menu), owner, &chosen);
  }
  QSize size = qmenu.sizeHint();
  QPoint at(x, y);
  if (flags & TPM_RIGHTALIGN)
    at.rx() -= size.width();
  else if (flags & TPM_CENTERALIGN)
    at.rx() -= size.width() / 2;
  if (flags & TPM_BOTTOMALIGN)
    at.ry() -= size.height();
  else if (flags & TPM_VCENTERALIGN)
    at.ry() -= size.height() / 2;
  {
    vqt::ModalScope modal([&qmenu] { qmenu.close(); });
    qmenu.exec(at);
  }
  if (flags & TPM_RETURNCMD)
    return chosen;
  if (chosen && IsWindow(owner))
    PostMessageW(owner, WM_COMMAND, static_cast<WPARAM>(static_cast<WORD>(chosen)), 0);
  return TRUE;
}
