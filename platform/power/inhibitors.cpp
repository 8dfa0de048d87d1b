// The desktop's keep-awake services over D-Bus (sd-bus): a systemd-logind
// "idle:sleep" inhibitor on the system bus, held as long as its file
// descriptor is open, and the freedesktop screensaver inhibit on the session
// bus, held by a cookie on our connection. Only the power manager's thread
// calls these.
#include "platform/power/power_internal.h"

#include "platform/dbus/desktop_bus.h"
#include "platform/trace.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr uint64_t kCallTimeoutUs = 3'000'000;

int gInhibitorFd = -1;
sd_bus *gSessionBus = nullptr; // kept open while the cookie is held
uint32_t gCookie = 0;

// Connects to the system or the session bus; nullptr (traced) on failure.
sd_bus *OpenBus(DesktopBus which) {
  std::string why;
  sd_bus *bus = OpenDesktopBus(which, &why);
  if (!bus)
    PlatformTrace("power: %s", why.c_str());
  return bus;
}

} // namespace

bool AcquireLogindInhibitor() {
  if (gInhibitorFd >= 0)
    return true;
  sd_bus *bus = OpenBus(DesktopBus::System);
  if (!bus) {
    PlatformWarning(
        "power: logind is not available; the machine may sleep while the keyboard is connected");
    return false;
  }
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message *reply = nullptr;
  sd_bus_message *call = nullptr;
  int r = sd_bus_message_new_method_call(bus, &call, "org.freedesktop.login1",
                                         "/org/freedesktop/login1",
                                         "org.freedesktop.login1.Manager", "Inhibit");
  if (r >= 0)
    r = sd_bus_message_append(call, "ssss", "idle:sleep", "Vantrel", "Keyboard connected", "block");
  if (r >= 0)
    r = sd_bus_call(bus, call, kCallTimeoutUs, &error, &reply);
  int fd = -1;
  if (r >= 0 && sd_bus_message_read(reply, "h", &fd) >= 0 && fd >= 0)
    gInhibitorFd = fcntl(fd, F_DUPFD_CLOEXEC, 3); // the reply owns fd
  if (gInhibitorFd < 0)
    PlatformWarning(
        "power: logind is not available (%s); the machine may sleep while the keyboard is "
        "connected",
        error.message ? error.message : strerror(r < 0 ? -r : EBADF));
  else
    PlatformTrace("power: logind inhibitor held");
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_message_unref(call);
  sd_bus_flush_close_unref(bus);
  return gInhibitorFd >= 0;
}

void ReleaseLogindInhibitor() {
  if (gInhibitorFd < 0)
    return;
  close(gInhibitorFd);
  gInhibitorFd = -1;
  PlatformTrace("power: logind inhibitor released");
}

bool AcquireScreensaverInhibit() {
  if (gSessionBus)
    return true;
  sd_bus *bus = OpenBus(DesktopBus::Session);
  if (!bus) {
    PlatformWarning(
        "power: no screensaver service; the screen may blank while the keyboard is connected");
    return false;
  }
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message *reply = nullptr;
  int r = sd_bus_call_method(bus, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                             "org.freedesktop.ScreenSaver", "Inhibit", &error, &reply, "ss",
                             "Vantrel", "Keyboard connected");
  uint32_t cookie = 0;
  if (r >= 0)
    r = sd_bus_message_read(reply, "u", &cookie);
  if (r < 0) {
    PlatformWarning(
        "power: no screensaver service (%s); the screen may blank while the keyboard is "
        "connected",
        error.message ? error.message : strerror(-r));
    sd_bus_flush_close_unref(bus);
  } else {
    gSessionBus = bus;
    gCookie = cookie;
    PlatformTrace("power: screensaver inhibit held");
  }
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  return gSessionBus != nullptr;
}

void ReleaseScreensaverInhibit() {
  if (!gSessionBus)
    return;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  int r = sd_bus_call_method(gSessionBus, "org.freedesktop.ScreenSaver",
                             "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver",
                             "UnInhibit", &error, nullptr, "u", gCookie);
  if (r < 0)
    PlatformTrace("power: screensaver UnInhibit failed (%s)", error.message ? error.message : strerror(-r));
  else
    PlatformTrace("power: screensaver inhibit released");
  sd_bus_error_free(&error);
  // Closing our connection also ends the inhibit on services that track it.
  sd_bus_flush_close_unref(gSessionBus);
  gSessionBus = nullptr;
  gCookie = 0;
}
