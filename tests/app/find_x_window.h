// Finding the program's window on a test's X server by its title.
#pragma once

#include <X11/Xlib.h>

#include <cstring>

// The first viewable window titled `name` at or below w (depth first), or 0.
inline Window FindViewableWindow(Display *d, Window w, const char *name) {
  char *title = nullptr;
  if (XFetchName(d, w, &title) && title) {
    const bool match = strcmp(title, name) == 0;
    XFree(title);
    XWindowAttributes a;
    if (match && XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable)
      return w;
  }
  Window root, parent, *children = nullptr;
  unsigned count = 0;
  Window found = 0;
  if (XQueryTree(d, w, &root, &parent, &children, &count)) {
    for (unsigned i = 0; i < count && !found; ++i)
      found = FindViewableWindow(d, children[i], name);
    if (children)
      XFree(children);
  }
  return found;
}
