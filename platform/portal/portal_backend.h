// The `portal` injection backend: typing through the desktop's RemoteDesktop
// portal (GNOME, KDE Plasma and other desktops with xdg-desktop-portal), with
// the person's consent and without root. Keys and characters are planned as
// the uinput backend plans them (key_plan.h: the layout's own keys, and
// Ctrl+Shift+U for characters the layout lacks) and sent as evdev key codes,
// which the desktop types by the same layout. The session is asked for when
// the link connects and closed when it ends (portal_keyboard.h).
#pragma once

#include "platform/inject.h"

#include <string>

// Opens the backend when the session bus offers the portal's RemoteDesktop
// interface with a keyboard among its device types. Returns a table owned by
// the backend and never freed, or nullptr with a trace line saying why, the
// reason also in *why when why is not null. Nothing is asked of the person
// until the link connects. Its close releases keys still held, closes the
// session and joins the portal's thread.
const InjectOps *PortalInjectOpen(std::string *why = nullptr);
