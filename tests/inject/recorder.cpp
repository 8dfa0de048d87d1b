// A small X client for the injection tests: a window that takes the input
// focus and writes the text of every key press it receives to stdout as
// UTF-8, as an application reading keys through an input context would see
// it. Prints "ready" once it has the focus. Runs until killed or until the
// display goes away.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <unistd.h>

int main() {
  setlocale(LC_ALL, "C.UTF-8");
  XSetLocaleModifiers("@im=none");
  Display *dpy = XOpenDisplay(nullptr);
  if (!dpy) {
    fprintf(stderr, "recorder: cannot open display\n");
    return 2;
  }
  Window win = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 300, 100, 0, 0, 0);
  XSelectInput(dpy, win, KeyPressMask | StructureNotifyMask | FocusChangeMask);
  XMapWindow(dpy, win);
  for (;;) {
    XEvent ev;
    XNextEvent(dpy, &ev);
    if (ev.type == MapNotify)
      break;
  }
  XSetInputFocus(dpy, win, RevertToParent, CurrentTime);
  XIM im = XOpenIM(dpy, nullptr, nullptr, nullptr);
  XIC ic = im ? XCreateIC(im, XNInputStyle, XIMPreeditNothing | XIMStatusNothing, XNClientWindow,
                          win, XNFocusWindow, win, nullptr)
              : nullptr;
  if (ic)
    XSetICFocus(ic);
  XSync(dpy, False);
  fprintf(stdout, "ready\n");
  fflush(stdout);
  for (;;) {
    XEvent ev;
    XNextEvent(dpy, &ev);
    if (ev.type == MappingNotify) {
      // As every X client must: drop the cached keymap so that the next key
      // is translated with the new one.
      XRefreshKeyboardMapping(&ev.xmapping);
      continue;
    }
    if (XFilterEvent(&ev, None))
      continue;
    if (ev.type != KeyPress)
      continue;
    char buf[64];
    KeySym ks = NoSymbol;
    int n;
    if (ic) {
      Status status = 0;
      n = Xutf8LookupString(ic, &ev.xkey, buf, sizeof buf - 1, &ks, &status);
      if (status != XLookupChars && status != XLookupBoth)
        n = 0;
    } else {
      n = XLookupString(&ev.xkey, buf, sizeof buf - 1, &ks, nullptr);
    }
    if (n > 0) {
      fwrite(buf, 1, static_cast<size_t>(n), stdout);
      fflush(stdout);
    }
  }
}
