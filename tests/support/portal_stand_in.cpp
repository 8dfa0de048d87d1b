// The RemoteDesktop portal stand-in on a private session bus.
#include "tests/support/portal_stand_in.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace testbus {

namespace {
constexpr char kMock[] = "org.vantrel.PortalMock";
constexpr char kPortal[] = "org.freedesktop.portal.Desktop";
} // namespace

PortalStandIn::PortalStandIn(unsigned version, bool forwardMutter, const std::string &busAddress) {
  const char *old = getenv("DBUS_SESSION_BUS_ADDRESS");
  hadAddress_ = old != nullptr;
  if (old)
    oldAddress_ = old;
  if (access("/usr/bin/python3", X_OK) != 0 ||
      system("/usr/bin/python3 -c 'import dbus, gi.repository.GLib' 2>/dev/null") != 0) {
    problem_ = "python3 with dbus and gi is not installed";
    return;
  }
  std::string address = busAddress;
  if (address.empty()) {
    daemon_ = StartBus();
    address = daemon_.address;
  }
  if (address.empty()) {
    problem_ = "dbus-daemon could not start a private bus";
    return;
  }
  setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
  std::vector<std::string> args = {VANTREL_SOURCE_DIR "/tests/support/portal_stand_in.py",
                                   "--version", std::to_string(version)};
  if (forwardMutter)
    args.push_back("--forward-mutter");
  portal_ = StartPython(args);
  bus_ = Connect(address);
  if (!bus_ || !WaitForName(bus_, kPortal)) {
    problem_ = "the portal stand-in did not start";
    return;
  }
  ready_ = true;
}

PortalStandIn::~PortalStandIn() {
  if (bus_)
    sd_bus_flush_close_unref(bus_);
  Stop(portal_);
  Stop(daemon_.pid);
  if (hadAddress_)
    setenv("DBUS_SESSION_BUS_ADDRESS", oldAddress_.c_str(), 1);
  else
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

bool PortalStandIn::SetAnswer(unsigned code, unsigned delayMs) {
  return bus_ && sd_bus_call_method(bus_, kPortal, "/", kMock, "SetAnswer", nullptr, nullptr, "uu",
                                    code, delayMs) >= 0;
}

bool PortalStandIn::CloseSessions() {
  return bus_ &&
         sd_bus_call_method(bus_, kPortal, "/", kMock, "CloseSessions", nullptr, nullptr, "") >= 0;
}

bool PortalStandIn::SetKeyDelay(unsigned delayMs) {
  return bus_ && sd_bus_call_method(bus_, kPortal, "/", kMock, "SetKeyDelay", nullptr, nullptr,
                                    "u", delayMs) >= 0;
}

bool PortalStandIn::HoldProperties(bool hold) {
  return bus_ && sd_bus_call_method(bus_, kPortal, "/", kMock, "HoldProperties", nullptr, nullptr,
                                    "b", static_cast<int>(hold)) >= 0;
}

unsigned PortalStandIn::MaxPendingKeys() { return Count("MaxPendingKeys"); }

unsigned PortalStandIn::HeldReads() { return Count("HeldReads"); }

bool PortalStandIn::ForgeResponse(const std::string &token, unsigned code) {
  sd_bus_message *reply = nullptr;
  const char *caller = nullptr;
  std::string path;
  if (bus_ && sd_bus_call_method(bus_, kPortal, "/", kMock, "Caller", nullptr, &reply, "") >= 0 &&
      sd_bus_message_read(reply, "s", &caller) >= 0 && caller && *caller) {
    path = std::string("/org/freedesktop/portal/desktop/request/") + (caller + 1) + "/" + token;
    for (char &c : path)
      if (c == '.')
        c = '_';
  }
  sd_bus_message_unref(reply);
  return !path.empty() && sd_bus_emit_signal(bus_, path.c_str(), "org.freedesktop.portal.Request",
                                             "Response", "ua{sv}", code, 0) >= 0;
}

std::vector<std::pair<int, unsigned>> PortalStandIn::Keys() {
  std::vector<std::pair<int, unsigned>> keys;
  sd_bus_message *reply = nullptr;
  if (bus_ && sd_bus_call_method(bus_, kPortal, "/", kMock, "Keys", nullptr, &reply, "") >= 0 &&
      sd_bus_message_enter_container(reply, 'a', "(iu)") > 0) {
    int32_t code;
    uint32_t state;
    while (sd_bus_message_read(reply, "(iu)", &code, &state) > 0)
      keys.emplace_back(code, state);
  }
  sd_bus_message_unref(reply);
  return keys;
}

unsigned PortalStandIn::Count(const char *method) {
  uint32_t n = 0;
  sd_bus_message *reply = nullptr;
  if (bus_ && sd_bus_call_method(bus_, kPortal, "/", kMock, method, nullptr, &reply, "") >= 0)
    sd_bus_message_read(reply, "u", &n);
  sd_bus_message_unref(reply);
  return n;
}

unsigned PortalStandIn::Dialogs() { return Count("Dialogs"); }
unsigned PortalStandIn::OpenSessions() { return Count("OpenSessions"); }

} // namespace testbus
