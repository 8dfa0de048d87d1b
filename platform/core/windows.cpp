// Window classes and windows: creation, destruction, window longs,
// relations, lookup, visibility and focus.
#include "platform/core/window_core.h"
#include "platform/core/window_toolkit.h"
#include "platform/text.h"
#include "platform/threads.h"

#include <atomic>

using namespace wincore;

namespace {

std::u16string FoldedName(LPCWSTR name) {
  std::u16string folded(name);
  for (char16_t &c : folded)
    if (c >= u'A' && c <= u'Z')
      c = static_cast<char16_t>(c + 32);
  return folded;
}

// With the mutex held: the class named by a string or an atom.
ClassRecord *FindClassLocked(Core &core, LPCWSTR name) {
  if (!name)
    return nullptr;
  if (IS_INTRESOURCE(name)) {
    ATOM atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(name));
    for (auto &entry : core.classes)
      if (entry.second.atom == atom)
        return &entry.second;
    return nullptr;
  }
  auto it = core.classes.find(FoldedName(name));
  return it == core.classes.end() ? nullptr : &it->second;
}

WindowSystemHooks Hooks() {
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  return core.hooks;
}

} // namespace

ClassRecord *wincore::ClassOfWindowLocked(Core &core, const WindowRecord &w) {
  return FindClassLocked(core, w.className.c_str());
}

ATOM RegisterClassW(const WNDCLASSW *cls) {
  if (!cls || !cls->lpszClassName || IS_INTRESOURCE(cls->lpszClassName) || !cls->lpfnWndProc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  std::u16string key = FoldedName(cls->lpszClassName);
  if (core.classes.count(key)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  ClassRecord &record = core.classes[key];
  record.name = cls->lpszClassName;
  record.cls = *cls;
  record.cls.lpszClassName = record.name.c_str();
  record.cls.lpszMenuName = nullptr; // not kept: the caller owns that text
  record.atom = core.nextAtom++;
  return record.atom;
}

BOOL UnregisterClassW(LPCWSTR className, HINSTANCE) {
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  ClassRecord *record = FindClassLocked(core, className);
  if (!record) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  core.classes.erase(FoldedName(record->name.c_str()));
  return TRUE;
}

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE inst,
                     LPVOID param) {
  Core &core = TheCore();
  HWND hwnd;
  WNDPROC proc;
  std::u16string classText;
  {
    std::lock_guard<std::mutex> lock(core.mutex);
    ClassRecord *cls = FindClassLocked(core, className);
    if (!cls) {
      SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
      return nullptr;
    }
    if (parent && !FindWindowOrFailLocked(core, parent))
      return nullptr;
    uintptr_t id = core.nextWindow;
    core.nextWindow += 4; // never reused; the low bits stay clear
    WindowRecord &w = core.windows[id];
    w.proc = proc = cls->cls.lpfnWndProc;
    w.thread = GetCurrentThreadId();
    w.parent = Id(parent);
    w.child = (style & WS_CHILD) != 0;
    w.visible = (style & WS_VISIBLE) != 0;
    w.style = style;
    w.exStyle = exStyle;
    w.id = reinterpret_cast<LONG_PTR>(menu);
    w.className = classText = cls->name;
    if (title)
      w.title = title;
    // CW_USEDEFAULT: a portrait top-level window at the origin; a child
    // given it gets an empty rectangle until it is moved.
    bool topLevel = !w.child;
    int left = x == CW_USEDEFAULT ? 0 : x, top = y == CW_USEDEFAULT ? 0 : y;
    int cx = width == CW_USEDEFAULT ? (topLevel ? kDefaultTopLevelWidth : 0) : width;
    int cy = height == CW_USEDEFAULT ? (topLevel ? kDefaultTopLevelHeight : 0) : height;
    if (width == CW_USEDEFAULT && height != CW_USEDEFAULT)
      cy = topLevel ? kDefaultTopLevelHeight : 0; // the height goes with the width, as on the handheld
    w.rect = RECT{left, top, left + cx, top + cy};
    hwnd = Handle(id);
    QueueLocked(core, w.thread);
  }
  CREATESTRUCTW cs{param,  inst, menu, parent, height, width, y, x, static_cast<LONG>(style),
                   title,  classText.c_str(), exStyle};
  WindowSystemHooks hooks = Hooks();
  if (hooks.created)
    hooks.created(hwnd, &cs, hooks.context);
  if (proc(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    DestroyWindow(hwnd);
    SetLastError(ERROR_GEN_FAILURE);
    return nullptr;
  }
  if (!IsWindow(hwnd)) // destroyed itself while being created
    return nullptr;
  if (style & WS_VISIBLE)
    ShowWindow(hwnd, SW_SHOW);
  return hwnd;
}

BOOL DestroyWindow(HWND hwnd) {
  Core &core = TheCore();
  std::vector<uintptr_t> owned, children;
  WNDPROC proc;
  {
    std::lock_guard<std::mutex> lock(core.mutex);
    WindowRecord *w = FindWindowOrFailLocked(core, hwnd);
    if (!w)
      return FALSE;
    if (w->destroying)
      return TRUE; // already under way further up this call chain
    w->destroying = true;
    proc = w->proc;
    for (auto &entry : core.windows)
      if (entry.second.parent == Id(hwnd) && !entry.second.destroying)
        (entry.second.child ? children : owned).push_back(entry.first);
  }
  // Owned windows go first, then the window hears WM_DESTROY, then its
  // children; each is still a window while it handles its WM_DESTROY.
  for (uintptr_t other : owned)
    DestroyWindow(Handle(other));
  if (proc)
    proc(hwnd, WM_DESTROY, 0, 0);
  for (uintptr_t other : children)
    DestroyWindow(Handle(other));
  WindowSystemHooks hooks = Hooks();
  if (hooks.destroyed)
    hooks.destroyed(hwnd, hooks.context);
  std::lock_guard<std::mutex> lock(core.mutex);
  WindowRecord *w = FindWindowLocked(core, hwnd);
  if (w) {
    DWORD thread = w->thread;
    core.windows.erase(Id(hwnd));
    ForgetWindowLocked(core, Id(hwnd), thread);
  }
  return TRUE;
}

BOOL IsWindow(HWND hwnd) {
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  return FindWindowLocked(core, hwnd) != nullptr;
}

LRESULT DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
  if (msg == WM_CLOSE)
    DestroyWindow(hwnd);
  else if (msg == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE)
    SendMessageW(hwnd, WM_CLOSE, 0, 0);
  return 0;
}

LONG_PTR GetWindowLongW(HWND hwnd, int index) {
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  WindowRecord *w = FindWindowOrFailLocked(core, hwnd);
  if (!w)
    return 0;
  switch (index) {
  case GWL_USERDATA:
    return w->userData;
  case GWL_WNDPROC:
    return reinterpret_cast<LONG_PTR>(w->proc);
  case GWL_STYLE:
    return static_cast<LONG_PTR>(w->style);
  case GWL_EXSTYLE:
    return static_cast<LONG_PTR>(w->exStyle);
  case GWL_ID:
    return w->id;
  default:
    if (index >= 0) {
      auto it = w->extra.find(index);
      return it == w->extra.end() ? 0 : it->second;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
}

LONG_PTR SetWindowLongW(HWND hwnd, int index, LONG_PTR value) {
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  WindowRecord *w = FindWindowOrFailLocked(core, hwnd);
  if (!w)
    return 0;
  LONG_PTR old = 0;
  switch (index) {
  case GWL_USERDATA:
    old = w->userData;
    w->userData = value;
    break;
  case GWL_WNDPROC:
    old = reinterpret_cast<LONG_PTR>(w->proc);
    if (value) // a window always keeps a procedure
      w->proc = reinterpret_cast<WNDPROC>(value);
    break;
  case GWL_STYLE:
    old = static_cast<LONG_PTR>(w->style);
    w->style = static_cast<DWORD>(value);
    break;
  case GWL_EXSTYLE:
    old = static_cast<LONG_PTR>(w->exStyle);
    w->exStyle = static_cast<DWORD>(value);
    break;
  case GWL_ID:
    old = w->id;
    w->id = value;
    break;
  default:
    if (index < 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    old = w->extra[index];
    w->extra[index] = value;
    break;
  }
  return old;
}

HWND GetParent(HWND hwnd) {
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  WindowRecord *w = FindWindowLocked(core, hwnd);
  return w && FindWindowLocked(core, Handle(w->parent)) ? Handle(w->parent) : nullptr;
}

HWND GetTopLevelWindow(HWND hwnd) {
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  WindowRecord *w = FindWindowLocked(core, hwnd);
  if (!w)
    return nullptr;
  // Climbs from a child control to the window that contains it, and stops
  // at the first window that is not a child: a dialog is its own top-level
  // window even when the main window owns it. Ids only grow and a window's
  // parent existed before it, so each step goes to a smaller id and the walk
  // ends.
  for (WindowRecord *up; w->child && w->parent && (up = FindWindowLocked(core, Handle(w->parent)));) {
    hwnd = Handle(w->parent);
    w = up;
  }
  return hwnd;
}

HWND FindWindowW(LPCWSTR className, LPCWSTR title) {
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  std::u16string wantedClass;
  if (className && !IS_INTRESOURCE(className))
    wantedClass = FoldedName(className);
  uintptr_t best = 0;
  for (auto &[id, w] : core.windows) {
    if (w.child || w.destroying)
      continue;
    if (!wantedClass.empty() && FoldedName(w.className.c_str()) != wantedClass)
      continue;
    if (title && w.title != title)
      continue;
    if (!best || id < best)
      best = id; // the oldest match, so the answer does not depend on hashing
  }
  return Handle(best);
}

BOOL ShowWindow(HWND hwnd, int cmd) {
  Core &core = TheCore();
  bool wasVisible;
  WindowSystemHooks hooks;
  {
    std::lock_guard<std::mutex> lock(core.mutex);
    WindowRecord *w = FindWindowOrFailLocked(core, hwnd);
    if (!w)
      return FALSE;
    wasVisible = w->visible;
    w->visible = cmd != SW_HIDE;
    if (w->visible && !w->child && !core.hooks.show)
      core.focus = Id(hwnd); // headless: the last window shown has the focus
    hooks = core.hooks;
  }
  if (hooks.show)
    hooks.show(hwnd, cmd, hooks.context);
  return wasVisible ? TRUE : FALSE;
}

BOOL SetForegroundWindow(HWND hwnd) {
  // The caller may set the lowest bit to bring the owned windows along;
  // window ids never use it.
  hwnd = Handle(Id(hwnd) & ~uintptr_t(1));
  Core &core = TheCore();
  WindowSystemHooks hooks;
  {
    std::lock_guard<std::mutex> lock(core.mutex);
    if (!FindWindowOrFailLocked(core, hwnd))
      return FALSE;
    hooks = core.hooks;
    if (!hooks.setForeground)
      core.focus = Id(hwnd);
  }
  return hooks.setForeground ? hooks.setForeground(hwnd, hooks.context) : TRUE;
}

namespace {
std::atomic<bool> gOwnWindowActive{false};
} // namespace

void wincore::RecordOwnWindowActive(bool active) { gOwnWindowActive.store(active); }

BOOL OwnWindowActive() { return gOwnWindowActive.load() ? TRUE : FALSE; }

HWND GetFocus() {
  Core &core = TheCore();
  WindowSystemHooks hooks;
  {
    std::lock_guard<std::mutex> lock(core.mutex);
    hooks = core.hooks;
    if (!hooks.getFocus)
      return FindWindowLocked(core, Handle(core.focus)) ? Handle(core.focus) : nullptr;
  }
  return hooks.getFocus(hooks.context);
}

HWND SetFocus(HWND hwnd) {
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  if (hwnd && !FindWindowOrFailLocked(core, hwnd))
    return nullptr;
  HWND previous = FindWindowLocked(core, Handle(core.focus)) ? Handle(core.focus) : nullptr;
  core.focus = Id(hwnd);
  return previous;
}

BOOL IsWindowVisible(HWND hwnd) {
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  WindowRecord *w = FindWindowLocked(core, hwnd);
  return w && w->visible ? TRUE : FALSE;
}
