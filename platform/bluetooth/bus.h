// The system bus connection of the BlueZ calls (internal to platform/bluetooth).
#pragma once

#include <systemd/sd-bus.h>

#include <string>

// Connects to DBUS_SYSTEM_BUS_ADDRESS when set, else to the system bus.
// Returns a connection the caller closes with sd_bus_flush_close_unref, or
// nullptr with *why set.
sd_bus *BluezOpenBus(std::string *why);

// The text of a failed call: the D-Bus error's name and message, else errno.
std::string BusErrorText(const sd_bus_error &error, int r);
