// The logind stand-in on a test's bus.
#include "tests/support/logind_stand_in.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace testbus {

LogindStandIn::LogindStandIn(const std::string &address) {
  if (address.empty() || !DbusmockAvailable())
    return;
  // dbusmock's --system finds the bus through this variable. It is set only
  // when it names another bus: threads of the program may be reading the
  // environment by now.
  const char *old = getenv("DBUS_SYSTEM_BUS_ADDRESS");
  if (old && address == old) {
    mock_ = StartMock({"--system", "--template", "logind"});
  } else {
    std::string kept = old ? old : "";
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    mock_ = StartMock({"--system", "--template", "logind"});
    if (old)
      setenv("DBUS_SYSTEM_BUS_ADDRESS", kept.c_str(), 1);
    else
      unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  }
  bus_ = Connect(address);
  ready_ = mock_ > 0 && bus_ && WaitForName(bus_, "org.freedesktop.login1");
}

LogindStandIn::~LogindStandIn() {
  if (bus_)
    sd_bus_flush_close_unref(bus_);
  Stop(mock_);
}

bool LogindStandIn::PrepareForSleep(bool sleeping) {
  if (!bus_)
    return false;
  sd_bus_message *call = nullptr;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  int r = sd_bus_message_new_method_call(bus_, &call, "org.freedesktop.login1",
                                         "/org/freedesktop/login1", "org.freedesktop.DBus.Mock",
                                         "EmitSignal");
  if (r >= 0)
    r = sd_bus_message_append(call, "sss", "org.freedesktop.login1.Manager", "PrepareForSleep", "b");
  if (r >= 0)
    r = sd_bus_message_append(call, "av", 1, "b", sleeping);
  if (r >= 0)
    r = sd_bus_call(bus_, call, 10'000'000, &error, nullptr);
  if (r < 0)
    fprintf(stderr, "logind stand-in: PrepareForSleep failed: %s\n",
            error.message ? error.message : strerror(-r));
  sd_bus_error_free(&error);
  sd_bus_message_unref(call);
  return r >= 0;
}

} // namespace testbus
