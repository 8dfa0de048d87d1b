// Desktop notifications through org.freedesktop.Notifications.Notify on the
// session bus (sd-bus). A connection is made for each notification: they
// are rare (a connection made or lost, a low battery), and nothing is left
// open for the program's end to close. Each notification replaces the one
// before it, so the desktop shows the latest state of the keyboard rather
// than a pile of them.
#include "platform/autostart.h"
#include "platform/dbus/desktop_bus.h"
#include "platform/notify.h"
#include "platform/trace.h"

#include <atomic>
#include <cstdint>

namespace {

// The service's id of the last notification shown, 0 before the first: the
// next one replaces it. (A service that no longer shows it shows the new one
// all the same.)
std::atomic<uint32_t> gLastId{0};

// Builds and sends the Notify call, replacing notification `replaces` (0:
// none); returns sd-bus's result.
int CallNotify(sd_bus *bus, const std::string &summary, const std::string &body, bool urgent,
               uint32_t replaces, sd_bus_error *error, uint32_t *id) {
  sd_bus_message *call = nullptr;
  sd_bus_message *reply = nullptr;
  int r = sd_bus_message_new_method_call(bus, &call, "org.freedesktop.Notifications",
                                         "/org/freedesktop/Notifications",
                                         "org.freedesktop.Notifications", "Notify");
  if (r >= 0)
    r = sd_bus_message_append(call, "susss", "Vantrel", replaces, kDesktopEntryId, summary.c_str(),
                              body.c_str());
  if (r >= 0)
    r = sd_bus_message_append(call, "as", 0);
  if (r >= 0)
    r = sd_bus_message_append(call, "a{sv}", 2, "desktop-entry", "s", kDesktopEntryId, "urgency",
                              "y", static_cast<uint8_t>(urgent ? 2 : 1));
  if (r >= 0)
    r = sd_bus_message_append(call, "i", -1);
  if (r >= 0)
    r = sd_bus_call(bus, call, static_cast<uint64_t>(kNotifyTimeoutMs) * 1000, error, &reply);
  if (r >= 0)
    r = sd_bus_message_read(reply, "u", id);
  sd_bus_message_unref(reply);
  sd_bus_message_unref(call);
  return r;
}

} // namespace

bool ShowDesktopNotification(const std::string &summary, const std::string &body, bool urgent) {
  std::string why;
  sd_bus *bus = OpenDesktopBus(DesktopBus::Session, &why);
  if (!bus) {
    PlatformTrace("notify: %s; not shown: %s", why.c_str(), summary.c_str());
    return false;
  }
  sd_bus_error error = SD_BUS_ERROR_NULL;
  uint32_t id = 0;
  const int r = CallNotify(bus, summary, body, urgent, gLastId.load(), &error, &id);
  if (r >= 0)
    gLastId.store(id);
  if (r < 0)
    PlatformTrace("notify: no notification service (%s); not shown: %s",
                  BusErrorText(error, r).c_str(), summary.c_str());
  else
    PlatformTrace("notify: shown (%u): %s: %s", id, summary.c_str(), body.c_str());
  sd_bus_error_free(&error);
  sd_bus_flush_close_unref(bus);
  return r >= 0;
}
