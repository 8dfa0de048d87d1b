// Connections to the desktop's D-Bus buses (sd-bus), internal to the
// platform: the one place that knows where the system and the session bus
// are, so that every part of the platform reaches the same buses (and the
// tests' private ones).
#pragma once

#include <systemd/sd-bus.h>

#include <string>

enum class DesktopBus { System, Session };

// Connects to the address in DBUS_SYSTEM_BUS_ADDRESS (System) or
// DBUS_SESSION_BUS_ADDRESS (Session) when it is set and not empty, else to
// the usual system or user bus. Returns a connection owned by the caller
// (closed with sd_bus_flush_close_unref), or nullptr with *why set to a
// phrase for the caller's trace line, "no system bus (reason)". Nothing is
// traced here: callers that ask often trace only a change.
sd_bus *OpenDesktopBus(DesktopBus which, std::string *why);

// The text of a failed call for a trace: the D-Bus error's name and
// message, else the errno text of r (negative), else "Input/output error".
std::string BusErrorText(const sd_bus_error &error, int r);
