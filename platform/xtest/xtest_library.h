// libXtst, opened with dlopen when the xtest backend is opened, so that a run
// typing through another backend (or none) never maps it, nor libXext that
// it brings along. Only the calls the backend makes are looked up.
#pragma once

#include <X11/Xlib.h>

#include <string>

struct XTestLibrary {
  Bool (*queryExtension)(Display *dpy, int *eventBase, int *errorBase, int *major, int *minor);
  int (*fakeKeyEvent)(Display *dpy, unsigned int keycode, Bool isPress, unsigned long delay);
  int (*grabControl)(Display *dpy, Bool impervious);
};

// The library's calls, loaded at the first call and kept for the process
// (never unloaded); nullptr, with why set and a trace line, when the library
// or one of its calls is missing. Any thread.
const XTestLibrary *LoadXTestLibrary(std::string *why);
