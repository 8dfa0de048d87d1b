// Where windows are and what needs painting. The core keeps every window's
// rectangle and invalid flag; a toolkit that shows the windows applies moves
// and repaints through its hooks and reports back where its widgets ended up
// (window_toolkit.h), so the answers here are the same with or without it.
#include "platform/core/window_core.h"

#include <algorithm>

using namespace wincore;

BOOL GetClientRect(HWND hwnd, RECT *rect) {
  if (!rect)
    return FALSE;
  *rect = RECT{0, 0, 0, 0};
  return WithWindow(
      hwnd,
      [rect](Core &, WindowRecord &w) {
        rect->right = w.rect.right - w.rect.left;
        rect->bottom = w.rect.bottom - w.rect.top;
      },
      true);
}

BOOL GetWindowRect(HWND hwnd, RECT *rect) {
  if (!rect)
    return FALSE;
  *rect = RECT{0, 0, 0, 0};
  return WithWindow(
      hwnd,
      [rect](Core &core, WindowRecord &window) {
        // A child's rectangle is kept in its parent's client area: add the
        // parents' offsets up to the first window that is not a child. A
        // parent is older than its child, so its id is smaller and the walk
        // ends.
        RECT r = window.rect;
        WindowRecord *w = &window;
        for (WindowRecord *up; w->child && w->parent && (up = FindWindowLocked(core, Handle(w->parent)));
             w = up) {
          r.left += up->rect.left;
          r.right += up->rect.left;
          r.top += up->rect.top;
          r.bottom += up->rect.top;
        }
        *rect = r;
      },
      true);
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
  width = std::max(0, width);
  height = std::max(0, height);
  RECT was;
  WindowSystemHooks hooks;
  if (!WithWindow(
          hwnd,
          [&](Core &core, WindowRecord &w) {
            was = w.rect;
            w.rect = RECT{x, y, x + width, y + height};
            hooks = core.hooks;
          },
          true))
    return FALSE;
  // A window the toolkit shows hears WM_SIZE from the toolkit's resize
  // handling, with the size its widget really got.
  if (hooks.move && hooks.move(hwnd, x, y, width, height, repaint, hooks.context))
    return TRUE;
  if (was.right - was.left != width || was.bottom - was.top != height)
    SendMessageW(hwnd, WM_SIZE, 0, MAKELONG(width, height));
  return TRUE;
}

BOOL InvalidateRect(HWND hwnd, const RECT *rect, BOOL) {
  WindowSystemHooks hooks;
  if (!WithWindow(hwnd, [&hooks](Core &core, WindowRecord &w) {
        w.invalid = true;
        hooks = core.hooks;
      }))
    return FALSE;
  if (hooks.invalidate)
    hooks.invalidate(hwnd, rect, hooks.context);
  return TRUE;
}

BOOL UpdateWindow(HWND hwnd) {
  WindowSystemHooks hooks;
  if (!WithWindow(hwnd, [&hooks](Core &core, WindowRecord &) { hooks = core.hooks; }))
    return FALSE;
  if (hooks.update && hooks.update(hwnd, hooks.context))
    return TRUE;
  bool invalid = false;
  WithWindow(hwnd, [&invalid](Core &, WindowRecord &w) {
    invalid = w.invalid;
    w.invalid = false;
  });
  // No widget shows the window: the procedure still hears WM_PAINT, and
  // draws nowhere.
  if (invalid)
    SendMessageW(hwnd, WM_PAINT, 0, 0);
  return TRUE;
}
