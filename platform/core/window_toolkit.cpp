// The calls a toolkit backend makes into the window core (window_toolkit.h).
#include "platform/core/window_toolkit.h"
#include "platform/core/window_core.h"

using namespace wincore;

void wincore::RecordWindowRect(HWND hwnd, const RECT &rect) {
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  if (WindowRecord *w = FindWindowLocked(core, hwnd))
    w->rect = rect;
}

bool wincore::RecordedWindowRect(HWND hwnd, RECT *rect) {
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  WindowRecord *w = FindWindowLocked(core, hwnd);
  if (!w)
    return false;
  *rect = w->rect;
  return true;
}

void wincore::WindowPainted(HWND hwnd) {
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  if (WindowRecord *w = FindWindowLocked(core, hwnd))
    w->invalid = false;
}

bool wincore::WindowClassOf(HWND hwnd, std::u16string *className, HBRUSH *background, HICON *icon) {
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  WindowRecord *w = FindWindowLocked(core, hwnd);
  if (!w)
    return false;
  const ClassRecord *cls = ClassOfWindowLocked(core, *w);
  if (className)
    *className = w->className;
  if (background)
    *background = cls ? cls->cls.hbrBackground : nullptr;
  if (icon)
    *icon = cls ? cls->cls.hIcon : nullptr;
  return true;
}

void wincore::MarkChildWindow(HWND hwnd) {
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  if (WindowRecord *w = FindWindowLocked(core, hwnd))
    w->child = true;
}

bool wincore::ChangeWindowStyle(HWND hwnd, DWORD set, DWORD clear, DWORD *before) {
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  WindowRecord *w = FindWindowLocked(core, hwnd);
  if (!w)
    return false;
  if (before)
    *before = w->style;
  w->style = (w->style | set) & ~clear;
  return true;
}

bool wincore::SetWindowTitle(HWND hwnd, const std::u16string &title) {
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  WindowRecord *w = FindWindowLocked(core, hwnd);
  if (!w)
    return false;
  w->title = title;
  return true;
}

bool wincore::WindowTitle(HWND hwnd, std::u16string *title) {
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  WindowRecord *w = FindWindowLocked(core, hwnd);
  if (!w)
    return false;
  *title = w->title;
  return true;
}

HWND wincore::ChildWithId(HWND parent, int id) {
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  uintptr_t best = 0;
  for (auto &[handle, w] : core.windows)
    if (w.parent == Id(parent) && w.child && !w.destroying && static_cast<int>(w.id) == id &&
        (!best || handle < best))
      best = handle; // the first one made, as with a dialog's template order
  return Handle(best);
}
