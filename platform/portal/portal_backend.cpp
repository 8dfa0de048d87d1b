// The `portal` injection backend (see portal_backend.h).
#include "platform/portal/portal_backend.h"

#include "platform/dbus/desktop_bus.h"
#include "platform/inject/kept_backends.h"
#include "platform/inject/key_sink.h"
#include "platform/portal/portal_keyboard.h"
#include "platform/trace.h"
#include "platform/keymaps/key_plan.h"

#include <mutex>

namespace {

// The portal starts on demand (bus activation): its first answer may take
// a few seconds.
constexpr uint64_t kPropertyTimeoutUs = 5'000'000;

class PortalBackend : public KeySink {
public:
  InjectOps ops{};
  PortalKeyboard keyboard;

  void Key(BYTE vk, bool down) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const unsigned key = keys_.KeyForVk(vk);
    if (!key) {
      PlatformTrace("inject: portal has no key for virtual key 0x%02X", vk);
      return;
    }
    events_.clear();
    AppendKeyEvent(events_, key, down);
    keyboard.Send(events_);
  }

  bool Type(const std::vector<uint32_t> &codePoints) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
    const bool any = keys_.AppendCharacters(events_, codePoints);
    keyboard.Send(events_);
    return any && keyboard.State() != PortalState::kIdle;
  }

  void Close() override { keyboard.Stop(); }

  void LinkChanged(bool up) override {
    if (up)
      keyboard.LinkUp();
    else
      keyboard.LinkDown();
  }

  void Plan() {
    keys_.Plan();
    events_.reserve(256);
  }

private:
  std::mutex mutex_;
  SessionKeys keys_{"portal"};
  std::vector<KeyInputEvent> events_; // reused by every call: no allocation per key
};

// Whether bus offers the RemoteDesktop portal with a keyboard; its
// interface version in *version.
bool OffersKeyboard(sd_bus *bus, unsigned *version, std::string &why) {
  sd_bus_set_method_call_timeout(bus, kPropertyTimeoutUs);
  sd_bus_error error = SD_BUS_ERROR_NULL;
  uint32_t types = 0;
  int r = sd_bus_get_property_trivial(bus, kPortal, kPortalPath, kRemoteDesktop,
                                      "AvailableDeviceTypes", &error, 'u', &types);
  if (r < 0) {
    why = "the session bus offers no RemoteDesktop portal (" + BusErrorText(error, r) + ")";
    sd_bus_error_free(&error);
    return false;
  }
  if (!(types & 1)) {
    why = "the desktop's RemoteDesktop portal offers no keyboard (device types " +
          std::to_string(types) + ")";
    return false;
  }
  uint32_t v = 1;
  if (sd_bus_get_property_trivial(bus, kPortal, kPortalPath, kRemoteDesktop, "version", &error,
                                  'u', &v) < 0)
    v = 1;
  sd_bus_error_free(&error);
  *version = v;
  return true;
}

// The unique name that owns the portal now ("" when none).
std::string PortalOwner(sd_bus *bus) {
  sd_bus_message *reply = nullptr;
  const char *owner = nullptr;
  std::string name;
  if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                         "org.freedesktop.DBus", "GetNameOwner", nullptr, &reply, "s",
                         kPortal) >= 0 &&
      sd_bus_message_read(reply, "s", &owner) >= 0 && owner)
    name = owner;
  sd_bus_message_unref(reply);
  return name;
}

} // namespace

const InjectOps *PortalInjectOpen(std::string *why) {
  std::string reason;
  sd_bus *bus = OpenDesktopBus(DesktopBus::Session, &reason);
  unsigned version = 1;
  if (bus && !OffersKeyboard(bus, &version, reason)) {
    sd_bus_flush_close_unref(bus);
    bus = nullptr;
  }
  const std::string owner = bus ? PortalOwner(bus) : "";
  if (bus && owner.empty()) {
    reason = "the portal's owner on the session bus cannot be found";
    sd_bus_flush_close_unref(bus);
    bus = nullptr;
  }
  auto *backend = bus ? new PortalBackend : nullptr;
  if (backend) {
    backend->Plan();
    if (!backend->keyboard.Start(bus, version, owner, reason)) {
      delete backend;
      backend = nullptr;
    }
  }
  if (!backend) {
    PlatformTrace("inject: portal not usable: %s", reason.c_str());
    if (why)
      *why = reason;
    return nullptr;
  }
  PlatformTrace("inject: portal: RemoteDesktop version %u offers a keyboard; the desktop is "
                "asked when the keyboard connects",
                version);
  MakeKeySinkOps(backend->ops, "portal", backend);
  KeepBackend(backend);
  return &backend->ops;
}
