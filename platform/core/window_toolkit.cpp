// The calls a toolkit backend makes into the window core (window_toolkit.h).
#include "platform/core/window_toolkit.h"
#include "platform/core/window_core.h"

using namespace wincore;

void wincore::RecordWindowRect(HWND hwnd, const RECT &rect) {
  WithWindow(hwnd, [&rect](Core &, WindowRecord &w) { w.rect = rect; });
}

bool wincore::RecordedWindowRect(HWND hwnd, RECT *rect) {
  return WithWindow(hwnd, [rect](Core &, WindowRecord &w) { *rect = w.rect; });
}

void wincore::WindowPainted(HWND hwnd) {
  WithWindow(hwnd, [](Core &, WindowRecord &w) { w.invalid = false; });
}

bool wincore::WindowClassOf(HWND hwnd, std::u16string *className, HBRUSH *background, HICON *icon) {
  return WithWindow(hwnd, [&](Core &core, WindowRecord &w) {
    const ClassRecord *cls = ClassOfWindowLocked(core, w);
    if (className)
      *className = w.className;
    if (background)
      *background = cls ? cls->cls.hbrBackground : nullptr;
    if (icon)
      *icon = cls ? cls->cls.hIcon : nullptr;
  });
}

void wincore::MarkChildWindow(HWND hwnd) {
  WithWindow(hwnd, [](Core &, WindowRecord &w) { w.child = true; });
}

bool wincore::ChangeWindowStyle(HWND hwnd, DWORD set, DWORD clear, DWORD *before) {
  return WithWindow(hwnd, [&](Core &, WindowRecord &w) {
    if (before)
      *before = w.style;
    w.style = (w.style | set) & ~clear;
  });
}

bool wincore::SetWindowTitle(HWND hwnd, const std::u16string &title) {
  return WithWindow(hwnd, [&title](Core &, WindowRecord &w) { w.title = title; });
}

bool wincore::WindowTitle(HWND hwnd, std::u16string *title) {
  return WithWindow(hwnd, [title](Core &, WindowRecord &w) { *title = w.title; });
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
