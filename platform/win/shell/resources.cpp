// The program's resources on Windows: its tables live in memory
// (RegisterResource, platform/core/resources.cpp, shared with Linux); the
// strings, the icon, the menus, the menu bar and the dialogs are made from
// them with Win32's own calls.
#include "platform/window.h"

#include "platform/core/menu_bar_answers.h"
#include "platform/menus.h"
#include "platform/resource_formats.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "platform/win/shell/dialog_bytes.h"

#include <memory>
#include <string>
#include <vector>

#include "platform/win/core/real_calls.h"

namespace {

// A registered table of the program's (platform/core/resources.cpp) at
// least the size of a T, else null.
template <typename T> const T *Table(LPCWSTR type, LPCWSTR name) {
  HRSRC res = VantrelFindResourceW(nullptr, name, type);
  return res && VantrelSizeofResource(nullptr, res) >= sizeof(T)
             ? static_cast<const T *>(VantrelLockResource(VantrelLoadResource(nullptr, res)))
             : nullptr;
}

void AppendItems(HMENU menu, const MENUITEMRESOURCE *items, UINT count) {
  for (UINT i = 0; items && i < count; ++i) {
    const MENUITEMRESOURCE &item = items[i];
    if (item.children) {
      HMENU popup = CreatePopupMenu();
      AppendItems(popup, item.children, item.childCount);
      AppendMenuW(menu, MF_POPUP | (item.flags & MF_GRAYED), reinterpret_cast<UINT_PTR>(popup),
                  ResourceText(item.text));
    } else if (item.flags & MF_SEPARATOR) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    } else {
      AppendMenuW(menu, MF_STRING | (item.flags & (MF_GRAYED | MF_CHECKED)), item.id,
                  ResourceText(item.text));
    }
  }
}

// The menu bar's own window: it answers what the logic asks a bar.
LRESULT CALLBACK BarProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto *bar = reinterpret_cast<MenuBarContents *>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (LRESULT answer; AnswerMenuBarMessage(bar, msg, wParam, lParam, &answer))
    return answer;
  if (msg == WM_NCDESTROY) {
    delete bar;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

bool RegisterBarClass() {
  static const bool registered = [] {
    WNDCLASSW cls = {};
    cls.lpfnWndProc = BarProc;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.lpszClassName = u"VantrelMenuBar";
    return RegisterClassW(&cls) != 0;
  }();
  return registered;
}

} // namespace

int VantrelLoadStringW(HINSTANCE inst, UINT id, LPWSTR buffer, int max) {
  const STRINGRESOURCE *s = Table<STRINGRESOURCE>(RT_STRING, MAKEINTRESOURCEW(id));
  if (!s || !s->text) {
    if (buffer && max > 0)
      buffer[0] = 0;
    (void)inst;
    return 0;
  }
  if (!buffer || max <= 0)
    return 0;
  WStrCopyN(buffer, static_cast<size_t>(max), s->text);
  return static_cast<int>(wcslen(buffer));
}

HICON VantrelLoadIconW(HINSTANCE inst, LPCWSTR name) {
  if (const IMAGERESOURCE *image = Table<IMAGERESOURCE>(RT_ICON, name)) {
    // A .ico file: the image that suits the standard size, from its
    // directory.
    auto *bytes = const_cast<BYTE *>(image->bytes);
    int offset = LookupIconIdFromDirectoryEx(bytes, TRUE, 0, 0, LR_DEFAULTCOLOR);
    if (offset > 0 && static_cast<DWORD>(offset) < image->size) {
      HICON icon = CreateIconFromResourceEx(bytes + offset, image->size - offset, TRUE, 0x00030000,
                                            0, 0, LR_DEFAULTCOLOR);
      if (icon)
        return icon;
    }
  }
  (void)inst;
  return ::LoadIconW(nullptr, IDI_APPLICATION);
}

HMENU VantrelLoadMenuW(HINSTANCE, LPCWSTR name) {
  const MENURESOURCE *table = Table<MENURESOURCE>(RT_MENU, name);
  if (!table)
    return nullptr;
  HMENU menu = CreateMenu();
  AppendItems(menu, table->items, table->count);
  return menu;
}

BOOL SHCreateMenuBar(SHMENUBARINFO *info) {
  if (!info || !info->hwndParent || !RegisterBarClass())
    return FALSE;
  const MENUBARRESOURCE *table =
      Table<MENUBARRESOURCE>(RT_MENUBAR, MAKEINTRESOURCEW(info->nToolBarId));
  if (!table)
    return FALSE;
  auto bar = std::make_unique<MenuBarContents>();
  bar->menu = table->menuId ? VantrelLoadMenuW(nullptr, MAKEINTRESOURCEW(table->menuId)) : nullptr;
  HMENU strip = CreateMenu();
  for (UINT i = 0; table->buttons && i < table->buttonCount; ++i) {
    const MENUBARBUTTON &r = table->buttons[i];
    MenuBarButton b{r.command, r.state, r.style, r.caption ? r.caption : u"", nullptr};
    WCHAR text[100];
    if (r.captionId && VantrelLoadStringW(nullptr, r.captionId, text, 100) > 0)
      b.caption = text;
    if (r.popupIndex >= 0 && bar->menu)
      b.popup = GetSubMenu(bar->menu, r.popupIndex);
    const UINT grey = (b.state & TBSTATE_ENABLED) ? 0 : MF_GRAYED;
    if (b.popup)
      AppendMenuW(strip, MF_POPUP | grey, reinterpret_cast<UINT_PTR>(b.popup),
                  ResourceText(b.caption.c_str()));
    else
      AppendMenuW(strip, MF_STRING | grey, b.command, ResourceText(b.caption.c_str()));
    bar->buttons.push_back(std::move(b));
  }
  HWND window = CreateWindowExW(0, u"VantrelMenuBar", u"", WS_CHILD, 0, 0, 0, 0, info->hwndParent,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!window) {
    DestroyMenu(strip);
    return FALSE;
  }
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(bar.release()));
  // The pop-ups now belong to the strip, which the parent window destroys.
  SetMenu(info->hwndParent, strip);
  DrawMenuBar(info->hwndParent);
  info->hwndMB = window;
  return TRUE;
}

INT_PTR DialogBoxIndirectParamW(HINSTANCE inst, const DLGTEMPLATE *tmpl, HWND owner, DLGPROC proc,
                                LPARAM param) {
  if (!tmpl)
    return -1;
  std::vector<WORD> bytes = Win32DialogBytes(*tmpl);
  (void)inst;
  return ::DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                                   reinterpret_cast<const Win32DlgTemplate *>(bytes.data()), owner,
                                   proc, param);
}
