// The BlueZ stand-in on a private system bus.
#include "tests/support/bluez_stand_in.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace testbus {

namespace {

void Remember(const char *name, std::string *value, bool *had) {
  const char *v = getenv(name);
  *had = v != nullptr;
  if (v)
    *value = v;
}

void Restore(const char *name, const std::string &value, bool had) {
  if (had)
    setenv(name, value.c_str(), 1);
  else
    unsetenv(name);
}

} // namespace

BluezStandIn::BluezStandIn() {
  Remember("DBUS_SYSTEM_BUS_ADDRESS", &oldAddress_, &hadAddress_);
  Remember("VANTREL_BLUETOOTH", &oldMode_, &hadMode_);
  if (!DbusmockAvailable()) {
    problem_ = "python3-dbusmock is not installed";
    return;
  }
  daemon_ = StartBus();
  if (daemon_.address.empty()) {
    problem_ = "dbus-daemon could not start a private bus";
    return;
  }
  setenv("DBUS_SYSTEM_BUS_ADDRESS", daemon_.address.c_str(), 1);
  unsetenv("VANTREL_BLUETOOTH");
  mock_ = StartMock({"--system", "--template", VANTREL_SOURCE_DIR "/tests/support/bluez_stand_in.py"});
  bus_ = Connect(daemon_.address);
  if (!bus_ || !WaitForName(bus_, "org.bluez")) {
    problem_ = "the BlueZ stand-in did not start";
    return;
  }
  ready_ = Call("AddAdapter", "ss", "hci0", "vantrel-test");
  if (!ready_)
    problem_ = "the BlueZ stand-in has no adapter";
}

BluezStandIn::~BluezStandIn() {
  if (bus_)
    sd_bus_flush_close_unref(bus_);
  Stop(mock_);
  Stop(daemon_.pid);
  Restore("DBUS_SYSTEM_BUS_ADDRESS", oldAddress_, hadAddress_);
  Restore("VANTREL_BLUETOOTH", oldMode_, hadMode_);
}

bool BluezStandIn::Call(const char *method, const char *types, ...) {
  if (!bus_)
    return false;
  sd_bus_message *call = nullptr;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  int r = sd_bus_message_new_method_call(bus_, &call, "org.bluez", "/", "org.bluez.Mock", method);
  if (r >= 0) {
    va_list ap;
    va_start(ap, types);
    r = sd_bus_message_appendv(call, types, ap);
    va_end(ap);
  }
  if (r >= 0)
    r = sd_bus_call(bus_, call, 10'000'000, &error, nullptr);
  if (r < 0)
    fprintf(stderr, "BlueZ stand-in: %s failed: %s\n", method,
            error.message ? error.message : strerror(-r));
  sd_bus_error_free(&error);
  sd_bus_message_unref(call);
  return r >= 0;
}

bool BluezStandIn::AddPairedDevice(const std::string &address, const std::string &alias,
                                   bool serial) {
  return Call("AddPairedDevice", "sssb", "hci0", address.c_str(), alias.c_str(), serial);
}

bool BluezStandIn::HasDevice(const std::string &address) {
  std::string path = "/org/bluez/hci0/dev_" + address;
  for (char &c : path)
    if (c == ':')
      c = '_';
  sd_bus_message *reply = nullptr;
  if (sd_bus_call_method(bus_, "org.bluez", "/", "org.freedesktop.DBus.ObjectManager",
                         "GetManagedObjects", nullptr, &reply, "") < 0)
    return false;
  bool found = false;
  sd_bus_message_enter_container(reply, 'a', "{oa{sa{sv}}}");
  while (sd_bus_message_enter_container(reply, 'e', "oa{sa{sv}}") > 0) {
    const char *p = nullptr;
    sd_bus_message_read(reply, "o", &p);
    found = found || path == p;
    sd_bus_message_skip(reply, "a{sa{sv}}");
    sd_bus_message_exit_container(reply);
  }
  sd_bus_message_unref(reply);
  return found;
}

bool BluezStandIn::SetKeyboardSocket(const std::string &address, const std::string &path) {
  return Call("SetKeyboardSocket", "ss", address.c_str(), path.c_str());
}

bool BluezStandIn::SetReachable(const std::string &address, bool reachable) {
  return Call("SetReachable", "sb", address.c_str(), reachable);
}

bool BluezStandIn::DropLink(const std::string &address) {
  return Call("DropLink", "s", address.c_str());
}

bool BluezStandIn::HoldSerialProfile() {
  return Call("HoldProfile", "s", "00001101-0000-1000-8000-00805f9b34fb");
}

bool BluezStandIn::SetDeviceProperty(const std::string &address, const char *name,
                                     const char *type, ...) {
  if (!bus_)
    return false;
  sd_bus_message *call = nullptr;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  int r = sd_bus_message_new_method_call(bus_, &call, "org.bluez", "/", "org.bluez.Mock",
                                         "SetDeviceProperty");
  if (r >= 0)
    r = sd_bus_message_append(call, "ss", address.c_str(), name);
  if (r >= 0)
    r = sd_bus_message_open_container(call, 'v', type);
  if (r >= 0) {
    va_list ap;
    va_start(ap, type);
    r = sd_bus_message_appendv(call, type, ap);
    va_end(ap);
  }
  if (r >= 0)
    r = sd_bus_message_close_container(call);
  if (r >= 0)
    r = sd_bus_call(bus_, call, 10'000'000, &error, nullptr);
  if (r < 0)
    fprintf(stderr, "BlueZ stand-in: SetDeviceProperty failed: %s\n",
            error.message ? error.message : strerror(-r));
  sd_bus_error_free(&error);
  sd_bus_message_unref(call);
  return r >= 0;
}

bool BluezStandIn::HoldConnect(const std::string &address) {
  return Call("HoldConnect", "s", address.c_str());
}

bool BluezStandIn::ConnectPending(const std::string &address) {
  sd_bus_message *reply = nullptr;
  int pending = 0;
  if (bus_ && sd_bus_call_method(bus_, "org.bluez", "/", "org.bluez.Mock", "ConnectPending",
                                 nullptr, &reply, "s", address.c_str()) >= 0)
    sd_bus_message_read(reply, "b", &pending);
  sd_bus_message_unref(reply);
  return pending != 0;
}

bool BluezStandIn::ReleaseConnect(const std::string &address) {
  return Call("ReleaseConnect", "s", address.c_str());
}

bool BluezStandIn::HandOverPipe(const std::string &address) {
  return Call("HandOverPipe", "s", address.c_str());
}

bool BluezStandIn::SerialProfileOwner(std::string *name, std::string *path) {
  sd_bus_message *reply = nullptr;
  const char *n = nullptr, *p = nullptr;
  bool found = bus_ &&
               sd_bus_call_method(bus_, "org.bluez", "/", "org.bluez.Mock", "ProfileOwner",
                                  nullptr, &reply, "s",
                                  "00001101-0000-1000-8000-00805f9b34fb") >= 0 &&
               sd_bus_message_read(reply, "so", &n, &p) >= 0;
  if (found) {
    *name = n;
    *path = p;
  }
  sd_bus_message_unref(reply);
  return found;
}

void BluezStandIn::StopBluez() {
  Stop(mock_);
  mock_ = -1;
}

} // namespace testbus
