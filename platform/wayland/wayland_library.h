// libwayland-client, opened with dlopen when the wayland backend is opened,
// so that a session typing through another backend (or none) never maps it,
// nor libffi that it brings along. Only the calls the backend makes are
// looked up. The backend reaches them under their usual names through
// wayland_calls.h.
#pragma once

#include <wayland-client-core.h>

#include <string>

struct WaylandLibrary {
  wl_display *(*displayConnect)(const char *name);
  void (*displayDisconnect)(wl_display *display);
  int (*displayRoundtrip)(wl_display *display);
  int (*displayGetFd)(wl_display *display);
  int (*displayGetError)(wl_display *display);
  int (*displayFlush)(wl_display *display);
  int (*displayDispatchPending)(wl_display *display);
  int (*displayPrepareRead)(wl_display *display);
  int (*displayReadEvents)(wl_display *display);
  void (*displayCancelRead)(wl_display *display);
  int (*proxyAddListener)(wl_proxy *proxy, void (**implementation)(void), void *data);
  void (*proxyDestroy)(wl_proxy *proxy);
  uint32_t (*proxyGetVersion)(wl_proxy *proxy);
  wl_proxy *(*proxyMarshalFlags)(wl_proxy *proxy, uint32_t opcode, const wl_interface *interface,
                                 uint32_t version, uint32_t flags, ...);
};

// The library's calls, loaded at the first call and kept for the process
// (never unloaded); nullptr, with why set and a trace line, when the library
// or one of its calls is missing. Any thread. The calls of wayland_calls.h
// may be made once it has returned the library.
const WaylandLibrary *LoadWaylandLibrary(std::string *why);

// What LoadWaylandLibrary filled in (zero before).
extern WaylandLibrary gWaylandLibrary;
