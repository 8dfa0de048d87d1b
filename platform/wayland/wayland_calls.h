// The Wayland client calls and protocol stubs under their usual names, going
// to libwayland-client as LoadWaylandLibrary loaded it (see
// wayland_library.h). Include it in place of <wayland-client.h>, and before
// any generated protocol header, in a file that makes no call before the
// library is loaded.
//
// The core interfaces the backend names (the registry's and the seat's) are
// copies of the library's, made when it is loaded: protocol code refers to
// them by address, which a library loaded later cannot give at link time.
#pragma once

#include "platform/wayland/wayland_library.h"

#define wl_display_connect gWaylandLibrary.displayConnect
#define wl_display_disconnect gWaylandLibrary.displayDisconnect
#define wl_display_roundtrip gWaylandLibrary.displayRoundtrip
#define wl_display_get_fd gWaylandLibrary.displayGetFd
#define wl_display_get_error gWaylandLibrary.displayGetError
#define wl_display_flush gWaylandLibrary.displayFlush
#define wl_display_dispatch_pending gWaylandLibrary.displayDispatchPending
#define wl_display_prepare_read gWaylandLibrary.displayPrepareRead
#define wl_display_read_events gWaylandLibrary.displayReadEvents
#define wl_display_cancel_read gWaylandLibrary.displayCancelRead
#define wl_proxy_add_listener gWaylandLibrary.proxyAddListener
#define wl_proxy_destroy gWaylandLibrary.proxyDestroy
#define wl_proxy_get_version gWaylandLibrary.proxyGetVersion
#define wl_proxy_marshal_flags gWaylandLibrary.proxyMarshalFlags

// The same names as the build gives the generated protocol code (see
// platform/CMakeLists.txt).
#define wl_registry_interface vantrel_wl_registry_interface
#define wl_seat_interface vantrel_wl_seat_interface

#include <wayland-client-protocol.h>
