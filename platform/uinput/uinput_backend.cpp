// The `uinput` injection backend (see uinput_backend.h).
#include "platform/uinput/uinput_backend.h"

#include "platform/inject/kept_backends.h"
#include "platform/inject/key_sink.h"
#include "platform/trace.h"
#include "platform/uinput/evdev_library.h"
#include "platform/keymaps/host_layout.h"
#include "platform/keymaps/key_events.h"
#include "platform/keymaps/key_plan.h"

#include <bitset>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

// A desktop takes a moment to notice a new input device; keys sent before it
// listens are lost, so the first keys wait this long after creation.
constexpr auto kDeviceSettle = std::chrono::milliseconds(300);

class UinputKeyboard : public KeySink {
public:
  InjectOps ops{};

  bool Open(const char *path, std::string &why) {
    if (access(path, F_OK) != 0) {
      why = std::string(path) + " is missing (is the uinput module loaded?)";
      PlatformTrace("inject: uinput not usable: %s", why.c_str());
      return false;
    }
    int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
      why = std::string(path) + " cannot be opened for writing: " + strerror(errno);
      PlatformTrace("inject: uinput not usable: %s", why.c_str());
      return false;
    }
    evdev_ = LoadEvdevLibrary(&why);
    if (!evdev_) {
      PlatformTrace("inject: uinput not usable: %s", why.c_str());
      close(fd);
      return false;
    }
    libevdev *dev = evdev_->newDevice();
    if (!dev) {
      why = "the virtual keyboard cannot be described (out of memory)";
      PlatformTrace("inject: uinput not usable: %s", why.c_str());
      close(fd);
      return false;
    }
    evdev_->setName(dev, "Vantrel virtual keyboard");
    evdev_->setIdBustype(dev, BUS_VIRTUAL);
    evdev_->enableEventType(dev, EV_KEY);
    for (unsigned key = KEY_ESC; key <= KEY_MICMUTE; ++key)
      evdev_->enableEventCode(dev, EV_KEY, key, nullptr);
    int rc = evdev_->uinputCreateFromDevice(dev, fd, &uidev_);
    evdev_->freeDevice(dev);
    if (rc < 0) {
      why = std::string("the virtual keyboard cannot be created: ") + strerror(-rc);
      PlatformTrace("inject: uinput not usable: %s", why.c_str());
      close(fd);
      uidev_ = nullptr;
      return false;
    }
    fd_ = fd;
    PlanLayout();
    const char *node = evdev_->uinputGetDevnode(uidev_);
    PlatformTrace("inject: uinput keyboard created%s%s", node ? " as " : "", node ? node : "");
    std::this_thread::sleep_for(kDeviceSettle);
    return true;
  }

  // Plans keys and characters for the session's layout; when it cannot be
  // compiled, for the US layout; when not even that, the US positions.
  void PlanLayout() {
    keys_.Plan();
    events_.reserve(256);
  }

  void Close() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!uidev_)
      return;
    std::vector<KeyInputEvent> events;
    for (unsigned key = 0; key < held_.size(); ++key)
      if (held_[key])
        AppendKeyEvent(events, key, false);
    WriteKeyEvents(fd_, events);
    held_.reset();
    evdev_->uinputDestroy(uidev_);
    close(fd_);
    uidev_ = nullptr;
    fd_ = -1;
  }

  void Key(BYTE vk, bool down) override {
    std::lock_guard<std::mutex> lock(mutex_);
    unsigned key = keys_.KeyForVk(vk);
    if (!uidev_)
      return;
    if (!key) {
      PlatformTrace("inject: uinput has no key for virtual key 0x%02X", vk);
      return;
    }
    events_.clear();
    AppendKeyEvent(events_, key, down);
    if (WriteKeyEvents(fd_, events_))
      held_[key] = down;
    else
      PlatformWarning("inject: uinput write failed: %s", strerror(errno));
  }

  bool Type(const std::vector<uint32_t> &codePoints) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!uidev_)
      return false;
    events_.clear();
    const bool any = keys_.AppendCharacters(events_, codePoints);
    if (!WriteKeyEvents(fd_, events_)) {
      PlatformWarning("inject: uinput write failed: %s", strerror(errno));
      return false;
    }
    return any;
  }

private:
  std::mutex mutex_;
  const EvdevLibrary *evdev_ = nullptr; // loaded by Open
  libevdev_uinput *uidev_ = nullptr;
  int fd_ = -1;
  std::bitset<KEY_MAX + 1> held_; // keys pressed through keybd_event, released at close
  SessionKeys keys_{"uinput"};
  std::vector<KeyInputEvent> events_; // reused by every call: no allocation per key
};

} // namespace

const InjectOps *UinputInjectOpen(const char *devicePath, std::string *why) {
  auto *kbd = new UinputKeyboard;
  std::string reason;
  if (!kbd->Open(devicePath ? devicePath : "/dev/uinput", reason)) {
    delete kbd;
    if (why)
      *why = reason;
    return nullptr;
  }
  MakeKeySinkOps(kbd->ops, "uinput", kbd);
  KeepBackend(kbd);
  return &kbd->ops;
}
