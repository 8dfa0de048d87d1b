// The devices BlueZ has paired, read with one GetManagedObjects call, their
// virtual port numbers, and forgetting one with Adapter1.RemoveDevice.
#include "platform/bluetooth/bluez.h"

#include "platform/dbus/desktop_bus.h"
#include "platform/trace.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

namespace {

constexpr uint64_t kListTimeoutUs = 1'500'000;
constexpr uint64_t kRemoveTimeoutUs = 3'000'000;
constexpr int kFirstPort = 10, kPortCount = 9990;

// "02:A5:F3:00:00:01" -> "02a5f3000001"; empty when it is not an address.
std::string AddressDigits(const char *text) {
  std::string digits;
  for (const char *p = text; *p; ++p) {
    if (*p == ':')
      continue;
    if (!isxdigit(static_cast<unsigned char>(*p)))
      return "";
    digits += static_cast<char>(tolower(static_cast<unsigned char>(*p)));
  }
  return digits.size() == 12 ? digits : "";
}

// Whether the reader is on a variant that holds a value of signature
// `contents`.
bool VariantHolds(sd_bus_message *m, const char *contents) {
  char type = 0;
  const char *inner = nullptr;
  return sd_bus_message_peek_type(m, &type, &inner) > 0 && type == 'v' && inner &&
         !strcmp(inner, contents);
}

// Traces a property that cannot be read, once per device and property
// (the devices are listed at every connection attempt and menu opening).
void TraceOddProperty(const char *path, const char *name) {
  // Never destroyed: a thread may still list the devices while the process
  // exits.
  static auto *mu = new std::mutex;
  static auto *said = new std::set<std::string>;
  std::lock_guard<std::mutex> lock(*mu);
  if (said->insert(std::string(path) + "\n" + name).second)
    PlatformTrace("bluetooth: %s: its %s is not of the type BlueZ gives it; passed over", path,
                  name);
}

// Reads the properties of one org.bluez.Device1 at `path` (the reader is
// on its a{sv}) into *device, and leaves the reader after the a{sv}. A
// property of an unexpected type is passed over, so that one odd device
// or property does not cost the others. Returns 1 when the device is
// paired and has an address, 0 when it is to be left out, negative when
// the message cannot be read on.
int ReadDevice(sd_bus_message *m, const char *path, BluezDevice *device) {
  bool paired = false;
  if (sd_bus_message_enter_container(m, 'a', "{sv}") < 0)
    return -EBADMSG;
  int r;
  while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
    const char *name = nullptr;
    if (sd_bus_message_read(m, "s", &name) < 0)
      return -EBADMSG;
    // The type each property is read as; other properties are skipped.
    const char *expected = !strcmp(name, "Address") || !strcmp(name, "Alias") ? "s"
                           : !strcmp(name, "Adapter")                       ? "o"
                           : !strcmp(name, "Paired")                        ? "b"
                           : !strcmp(name, "UUIDs")                         ? "as"
                                                                            : nullptr;
    const char *text = nullptr;
    if (expected && !VariantHolds(m, expected)) {
      TraceOddProperty(path, name);
      r = sd_bus_message_skip(m, "v");
    } else if (!strcmp(name, "Address")) {
      r = sd_bus_message_read(m, "v", "s", &text);
      if (r >= 0)
        device->address = AddressDigits(text);
    } else if (!strcmp(name, "Alias")) {
      r = sd_bus_message_read(m, "v", "s", &text);
      if (r >= 0)
        device->name = text;
    } else if (!strcmp(name, "Adapter")) {
      r = sd_bus_message_read(m, "v", "o", &text);
      if (r >= 0)
        device->adapter = text;
    } else if (!strcmp(name, "Paired")) {
      int b = 0;
      r = sd_bus_message_read(m, "v", "b", &b);
      paired = b != 0;
    } else if (!strcmp(name, "UUIDs")) {
      r = sd_bus_message_enter_container(m, 'v', "as");
      char **uuids = nullptr;
      if (r >= 0)
        r = sd_bus_message_read_strv(m, &uuids);
      for (char **u = uuids; u && *u; ++u) {
        if (!strcasecmp(*u, kSerialPortUuid))
          device->serial = true;
        free(*u);
      }
      free(uuids);
      if (r >= 0)
        r = sd_bus_message_exit_container(m);
    } else {
      r = sd_bus_message_skip(m, "v");
    }
    if (r < 0 || sd_bus_message_exit_container(m) < 0)
      return -EBADMSG;
  }
  if (r < 0 || sd_bus_message_exit_container(m) < 0)
    return -EBADMSG;
  return paired && !device->address.empty() ? 1 : 0;
}

// Reads GetManagedObjects' answer. False when it is not what BlueZ sends.
bool ReadObjects(sd_bus_message *m, std::vector<BluezDevice> *devices) {
  if (sd_bus_message_enter_container(m, 'a', "{oa{sa{sv}}}") < 0)
    return false;
  while (sd_bus_message_enter_container(m, 'e', "oa{sa{sv}}") > 0) {
    const char *path = nullptr;
    if (sd_bus_message_read(m, "o", &path) < 0 ||
        sd_bus_message_enter_container(m, 'a', "{sa{sv}}") < 0)
      return false;
    while (sd_bus_message_enter_container(m, 'e', "sa{sv}") > 0) {
      const char *iface = nullptr;
      if (sd_bus_message_read(m, "s", &iface) < 0)
        return false;
      if (!strcmp(iface, "org.bluez.Device1")) {
        BluezDevice device;
        device.path = path;
        const int r = ReadDevice(m, path, &device);
        if (r < 0)
          return false;
        if (r > 0)
          devices->push_back(device);
      } else if (sd_bus_message_skip(m, "a{sv}") < 0) {
        return false;
      }
      if (sd_bus_message_exit_container(m) < 0)
        return false;
    }
    if (sd_bus_message_exit_container(m) < 0 || sd_bus_message_exit_container(m) < 0)
      return false;
  }
  return sd_bus_message_exit_container(m) >= 0;
}

// Traces an answer when it differs from the one before (the Bluetooth keys
// are read at every connection attempt and menu opening).
void TraceAnswer(BluezAnswer answer, const std::string &why, size_t count) {
  static std::mutex mu;
  static int last = -1;
  std::lock_guard<std::mutex> lock(mu);
  if (last == static_cast<int>(answer))
    return;
  last = static_cast<int>(answer);
  if (answer == BluezAnswer::Served)
    PlatformTrace("bluetooth: the Bluetooth keys are BlueZ's paired devices (%zu now)", count);
  else if (answer == BluezAnswer::Unused)
    PlatformTrace("bluetooth: VANTREL_BLUETOOTH=stored: the Bluetooth keys are stored keys");
  else
    PlatformTrace("bluetooth: %s: the Bluetooth keys are stored keys", why.c_str());
}

uint32_t AddressHash(const std::string &address) {
  uint32_t h = 2166136261u;
  for (char c : address)
    h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  return h;
}

} // namespace

bool BluezWanted() {
  const char *mode = getenv("VANTREL_BLUETOOTH");
  return !(mode && !strcmp(mode, "stored"));
}

void BluezAssignPortNumbers(std::vector<BluezDevice> *devices) {
  std::vector<BluezDevice *> serial;
  for (BluezDevice &d : *devices)
    if (d.serial)
      serial.push_back(&d);
  std::sort(serial.begin(), serial.end(),
            [](const BluezDevice *a, const BluezDevice *b) { return a->address < b->address; });
  std::vector<bool> taken(kPortCount, false);
  for (BluezDevice *d : serial) {
    uint32_t slot = AddressHash(d->address) % kPortCount;
    while (taken[slot])
      slot = (slot + 1) % kPortCount;
    taken[slot] = true;
    d->portNumber = kFirstPort + static_cast<int>(slot);
  }
}

BluezAnswer BluezPairedDevices(std::vector<BluezDevice> *devices, std::string *why) {
  devices->clear();
  why->clear();
  if (!BluezWanted()) {
    TraceAnswer(BluezAnswer::Unused, "", 0);
    return BluezAnswer::Unused;
  }
  sd_bus *bus = OpenDesktopBus(DesktopBus::System, why);
  if (!bus) {
    TraceAnswer(BluezAnswer::NoBus, *why, 0);
    return BluezAnswer::NoBus;
  }
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message *call = nullptr, *reply = nullptr;
  int r = sd_bus_message_new_method_call(bus, &call, "org.bluez", "/",
                                         "org.freedesktop.DBus.ObjectManager", "GetManagedObjects");
  if (r >= 0)
    r = sd_bus_call(bus, call, kListTimeoutUs, &error, &reply);
  BluezAnswer answer = BluezAnswer::Served;
  if (r < 0) {
    bool absent = sd_bus_error_has_names(&error, SD_BUS_ERROR_SERVICE_UNKNOWN,
                                         SD_BUS_ERROR_NAME_HAS_NO_OWNER);
    answer = absent ? BluezAnswer::NoBluez : BluezAnswer::Failed;
    *why = absent ? "no org.bluez on the system bus"
                  : "org.bluez did not list its devices (" + BusErrorText(error, r) + ")";
  } else if (!ReadObjects(reply, devices)) {
    answer = BluezAnswer::Failed;
    *why = "org.bluez answered GetManagedObjects with something unexpected";
    devices->clear();
  }
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_message_unref(call);
  sd_bus_flush_close_unref(bus);
  BluezAssignPortNumbers(devices);
  TraceAnswer(answer, *why, devices->size());
  return answer;
}

LONG BluezRemoveDevice(const BluezDevice &device) {
  std::string why;
  sd_bus *bus = OpenDesktopBus(DesktopBus::System, &why);
  if (!bus) {
    PlatformWarning("bluetooth: %s not forgotten: %s", device.address.c_str(), why.c_str());
    return ERROR_GEN_FAILURE;
  }
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message *call = nullptr;
  int r = sd_bus_message_new_method_call(bus, &call, "org.bluez", device.adapter.c_str(),
                                         "org.bluez.Adapter1", "RemoveDevice");
  if (r >= 0)
    r = sd_bus_message_append(call, "o", device.path.c_str());
  if (r >= 0)
    r = sd_bus_call(bus, call, kRemoveTimeoutUs, &error, nullptr);
  LONG result = ERROR_SUCCESS;
  if (r < 0) {
    if (sd_bus_error_has_names(&error, "org.bluez.Error.DoesNotExist", SD_BUS_ERROR_UNKNOWN_OBJECT,
                               SD_BUS_ERROR_UNKNOWN_METHOD))
      result = ERROR_FILE_NOT_FOUND;
    else if (sd_bus_error_has_names(&error, "org.bluez.Error.NotPermitted",
                                    "org.bluez.Error.NotAuthorized", SD_BUS_ERROR_ACCESS_DENIED))
      result = ERROR_ACCESS_DENIED;
    else if (r == -ETIMEDOUT || sd_bus_error_has_names(&error, SD_BUS_ERROR_NO_REPLY, SD_BUS_ERROR_TIMEOUT))
      result = ERROR_TIMEOUT;
    else
      result = ERROR_GEN_FAILURE;
    PlatformWarning("bluetooth: RemoveDevice %s failed: %s", device.path.c_str(),
                    BusErrorText(error, r).c_str());
  } else {
    PlatformTrace("bluetooth: %s (%s) forgotten by BlueZ", device.address.c_str(),
                  device.name.c_str());
  }
  sd_bus_error_free(&error);
  sd_bus_message_unref(call);
  sd_bus_flush_close_unref(bus);
  return result;
}
