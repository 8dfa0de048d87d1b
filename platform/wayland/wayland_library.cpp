// Loading libwayland-client on demand (see wayland_library.h).
#include "platform/wayland/wayland_library.h"

#include "platform/trace.h"

#include <dlfcn.h>
#include <mutex>

WaylandLibrary gWaylandLibrary{};

// The copies of the core interfaces that wayland_calls.h and the generated
// protocol code name; written once, at load, before any use.
extern "C" {
wl_interface vantrel_wl_registry_interface{};
wl_interface vantrel_wl_seat_interface{};
}

namespace {

std::once_flag gOnce;
const WaylandLibrary *gLoaded = nullptr;
std::string gWhy;

template <typename F> bool Find(void *handle, const char *name, F *out) {
  *out = reinterpret_cast<F>(dlsym(handle, name));
  if (!*out)
    gWhy = std::string("libwayland-client has no ") + name;
  return *out != nullptr;
}

bool CopyInterface(void *handle, const char *name, wl_interface *out) {
  const auto *found = static_cast<const wl_interface *>(dlsym(handle, name));
  if (!found) {
    gWhy = std::string("libwayland-client has no ") + name;
    return false;
  }
  *out = *found; // its messages stay the library's, loaded for good
  return true;
}

void Load() {
  void *handle = dlopen("libwayland-client.so.0", RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char *error = dlerror();
    gWhy = std::string("libwayland-client cannot be loaded: ") + (error ? error : "not found");
    PlatformTrace("inject: %s", gWhy.c_str());
    return;
  }
  WaylandLibrary l{};
  bool all = Find(handle, "wl_display_connect", &l.displayConnect) &&
             Find(handle, "wl_display_disconnect", &l.displayDisconnect) &&
             Find(handle, "wl_display_roundtrip", &l.displayRoundtrip) &&
             Find(handle, "wl_display_get_fd", &l.displayGetFd) &&
             Find(handle, "wl_display_get_error", &l.displayGetError) &&
             Find(handle, "wl_display_flush", &l.displayFlush) &&
             Find(handle, "wl_display_dispatch_pending", &l.displayDispatchPending) &&
             Find(handle, "wl_display_prepare_read", &l.displayPrepareRead) &&
             Find(handle, "wl_display_read_events", &l.displayReadEvents) &&
             Find(handle, "wl_display_cancel_read", &l.displayCancelRead) &&
             Find(handle, "wl_proxy_add_listener", &l.proxyAddListener) &&
             Find(handle, "wl_proxy_destroy", &l.proxyDestroy) &&
             Find(handle, "wl_proxy_get_version", &l.proxyGetVersion) &&
             Find(handle, "wl_proxy_marshal_flags", &l.proxyMarshalFlags) &&
             CopyInterface(handle, "wl_registry_interface", &vantrel_wl_registry_interface) &&
             CopyInterface(handle, "wl_seat_interface", &vantrel_wl_seat_interface);
  if (!all) {
    PlatformTrace("inject: %s", gWhy.c_str());
    dlclose(handle);
    return;
  }
  gWaylandLibrary = l;
  gLoaded = &gWaylandLibrary; // the handle stays open for the process
}

} // namespace

const WaylandLibrary *LoadWaylandLibrary(std::string *why) {
  std::call_once(gOnce, Load);
  if (!gLoaded && why)
    *why = gWhy;
  return gLoaded;
}
