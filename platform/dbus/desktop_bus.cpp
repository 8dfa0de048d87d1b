// Connections to the system and the session bus.
#include "platform/dbus/desktop_bus.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

sd_bus *OpenDesktopBus(DesktopBus which, std::string *why) {
  const bool system = which == DesktopBus::System;
  const char *address = getenv(system ? "DBUS_SYSTEM_BUS_ADDRESS" : "DBUS_SESSION_BUS_ADDRESS");
  sd_bus *bus = nullptr;
  int r;
  if (address && *address) {
    r = sd_bus_new(&bus);
    if (r >= 0)
      r = sd_bus_set_address(bus, address);
    if (r >= 0)
      r = sd_bus_set_bus_client(bus, 1);
    if (r >= 0)
      r = sd_bus_start(bus);
  } else {
    r = system ? sd_bus_open_system(&bus) : sd_bus_open_user(&bus);
  }
  if (r < 0) {
    *why = std::string(system ? "no system bus (" : "no session bus (") + strerror(-r) + ")";
    sd_bus_unref(bus);
    return nullptr;
  }
  return bus;
}

std::string BusErrorText(const sd_bus_error &error, int r) {
  if (error.name)
    return std::string(error.name) + (error.message ? std::string(": ") + error.message : "");
  return strerror(r < 0 ? -r : EIO);
}
