// The session's keyboard layout names (see host_layout.h).
#include "platform/keymaps/host_layout.h"
#include "platform/keymaps/desktop_layout.h"
#include "platform/trace.h"

#include <cstdlib>
#include <systemd/sd-bus.h>

namespace {

std::string XkbVariable(const char *name) {
  const char *v = getenv(name);
  return v ? v : "";
}

// One string property of locale1; false when it cannot be read.
bool ReadProperty(sd_bus *bus, const char *name, std::string &out, std::string &why) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  char *value = nullptr;
  int rc = sd_bus_get_property_string(bus, "org.freedesktop.locale1", "/org/freedesktop/locale1",
                                      "org.freedesktop.locale1", name, &error, &value);
  if (rc < 0) {
    why = std::string("locale1 ") + name + ": " +
          (error.message ? error.message : "no answer");
    sd_bus_error_free(&error);
    return false;
  }
  out = value ? value : "";
  free(value);
  sd_bus_error_free(&error);
  return true;
}

} // namespace

XkbNames XkbNamesFromEnvironment() {
  XkbNames names;
  names.rules = XkbVariable("XKB_DEFAULT_RULES");
  names.model = XkbVariable("XKB_DEFAULT_MODEL");
  names.layout = XkbVariable("XKB_DEFAULT_LAYOUT");
  names.variant = XkbVariable("XKB_DEFAULT_VARIANT");
  names.options = XkbVariable("XKB_DEFAULT_OPTIONS");
  names.source = "environment";
  return names;
}

bool XkbNamesFromLocale1(XkbNames &out, std::string &why) {
  sd_bus *bus = nullptr;
  int rc = sd_bus_open_system(&bus);
  if (rc < 0) {
    why = "the system bus cannot be reached";
    return false;
  }
  // localed may need starting; a machine without it must not hold up the
  // program's start.
  sd_bus_set_method_call_timeout(bus, 1000 * 1000);
  XkbNames names;
  bool ok = ReadProperty(bus, "X11Layout", names.layout, why) &&
            ReadProperty(bus, "X11Model", names.model, why) &&
            ReadProperty(bus, "X11Variant", names.variant, why) &&
            ReadProperty(bus, "X11Options", names.options, why);
  sd_bus_flush_close_unref(bus);
  if (!ok)
    return false;
  names.source = "locale1";
  out = names;
  return true;
}

XkbNames ChooseXkbNames(const XkbNames &environment, XkbNamesReader readDesktop,
                        XkbNamesReader readLocale1) {
  if (!environment.layout.empty())
    return environment;
  XkbNames found;
  std::string why;
  if (readDesktop && readDesktop(found, why) && !found.layout.empty())
    return found;
  if (!why.empty())
    PlatformTrace("inject: keyboard layout not read from the desktop: %s", why.c_str());
  why.clear();
  if (readLocale1 && readLocale1(found, why) && !found.layout.empty())
    return found;
  if (!why.empty())
    PlatformTrace("inject: keyboard layout not read from locale1: %s", why.c_str());
  XkbNames fallback;
  fallback.source = "default";
  return fallback;
}

XkbNames HostXkbNames() {
  XkbNames names = ChooseXkbNames(XkbNamesFromEnvironment(), XkbNamesFromDesktop, XkbNamesFromLocale1);
  PlatformTrace("inject: keyboard layout from %s: layout=%s model=%s variant=%s options=%s",
                names.source.c_str(), names.layout.c_str(), names.model.c_str(),
                names.variant.c_str(), names.options.c_str());
  return names;
}
