// Loading libwayland-client on demand (see wayland_library.h).
#include "platform/wayland/wayland_library.h"

#include "platform/core/shared_library.h"

WaylandLibrary gWaylandLibrary{};

// The copies of the core interfaces that wayland_calls.h and the generated
// protocol code name; written once, at load, before any use.
extern "C" {
wl_interface vantrel_wl_registry_interface{};
wl_interface vantrel_wl_seat_interface{};
}

namespace {

constexpr const char *kSoname = "libwayland-client.so.0";

bool CopyInterface(void *handle, const char *name, wl_interface *out, std::string *why) {
  const auto *found = static_cast<const wl_interface *>(FindSharedSymbol(handle, kSoname, name, why));
  if (found)
    *out = *found; // its messages stay the library's, loaded for good
  return found != nullptr;
}

bool Find(void *handle, WaylandLibrary *l, std::string *why) {
  auto find = [&](const char *name, auto *out) {
    return FindSharedCall(handle, kSoname, name, out, why);
  };
  return find("wl_display_connect", &l->displayConnect) &&
         find("wl_display_disconnect", &l->displayDisconnect) &&
         find("wl_display_roundtrip", &l->displayRoundtrip) &&
         find("wl_display_get_fd", &l->displayGetFd) &&
         find("wl_display_get_error", &l->displayGetError) &&
         find("wl_display_flush", &l->displayFlush) &&
         find("wl_display_dispatch_pending", &l->displayDispatchPending) &&
         find("wl_display_prepare_read", &l->displayPrepareRead) &&
         find("wl_display_read_events", &l->displayReadEvents) &&
         find("wl_display_cancel_read", &l->displayCancelRead) &&
         find("wl_proxy_add_listener", &l->proxyAddListener) &&
         find("wl_proxy_destroy", &l->proxyDestroy) &&
         find("wl_proxy_get_version", &l->proxyGetVersion) &&
         find("wl_proxy_marshal_flags", &l->proxyMarshalFlags) &&
         CopyInterface(handle, "wl_registry_interface", &vantrel_wl_registry_interface, why) &&
         CopyInterface(handle, "wl_seat_interface", &vantrel_wl_seat_interface, why);
}

SharedLibraryLoad gLoad;

} // namespace

const WaylandLibrary *LoadWaylandLibrary(std::string *why) {
  return LoadSharedOnce(gLoad, kSoname, "inject", &gWaylandLibrary, Find, why);
}
