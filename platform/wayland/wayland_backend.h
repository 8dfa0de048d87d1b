// The `wayland` injection backend: a virtual keyboard of the compositor
// (zwp_virtual_keyboard_v1, offered by wlroots compositors such as sway,
// Hyprland and river). The backend uploads a keymap of its own: virtual keys
// on their US positions with their US keysyms, modifiers as on a US
// keyboard, and a set of spare keys that carry the other characters, so that
// any character below 0x110000 is typed exactly. A character on no key is
// given the spare key used longest ago, and the keymap is uploaded again;
// a spare key used within the last moments is not taken, so that a client
// still reading an earlier keymap never sees a key change meaning under it.
//
// The backend owns one Wayland connection, used under its lock by the
// injecting thread only.
#pragma once

#include "platform/inject.h"

#include <string>

// Connects to the compositor named by WAYLAND_DISPLAY and creates the virtual
// keyboard on its first seat. Returns a table owned by the backend and never
// freed, or nullptr with a trace line and *why (when not null) saying why:
// no compositor, no virtual-keyboard protocol offered, refused. Its close
// releases keys still held and ends the connection.
const InjectOps *WaylandInjectOpen(std::string *why = nullptr);
