// The `uinput` injection backend (see uinput_backend.h).
#include "platform/uinput/uinput_backend.h"
#include "platform/inject/kept_backends.h"
#include "platform/inject/key_sink.h"
#include "platform/trace.h"
#include "platform/uinput/key_events.h"

#include <bitset>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

// A desktop takes a moment to notice a new input device; keys sent before it
// listens are lost, so the first keys wait this long after creation.
constexpr auto kDeviceSettle = std::chrono::milliseconds(300);

class UinputKeyboard : public KeySink {
public:
  InjectOps ops{};

  bool Open(const char *path) {
    if (access(path, F_OK) != 0) {
      PlatformTrace("inject: uinput not usable: %s is missing", path);
      return false;
    }
    int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
      PlatformTrace("inject: uinput not usable: %s cannot be opened for writing: %s", path,
                    strerror(errno));
      return false;
    }
    libevdev *dev = libevdev_new();
    libevdev_set_name(dev, "Vantrel virtual keyboard");
    libevdev_set_id_bustype(dev, BUS_VIRTUAL);
    libevdev_enable_event_type(dev, EV_KEY);
    for (unsigned key = KEY_ESC; key <= KEY_MICMUTE; ++key)
      libevdev_enable_event_code(dev, EV_KEY, key, nullptr);
    int rc = libevdev_uinput_create_from_device(dev, fd, &uidev_);
    libevdev_free(dev);
    if (rc < 0) {
      PlatformTrace("inject: uinput device cannot be created: %s", strerror(-rc));
      close(fd);
      uidev_ = nullptr;
      return false;
    }
    fd_ = fd;
    const char *node = libevdev_uinput_get_devnode(uidev_);
    PlatformTrace("inject: uinput keyboard created%s%s", node ? " as " : "", node ? node : "");
    std::this_thread::sleep_for(kDeviceSettle);
    return true;
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
    libevdev_uinput_destroy(uidev_);
    close(fd_);
    uidev_ = nullptr;
    fd_ = -1;
  }

  void Key(BYTE vk, bool down) override {
    unsigned key = UinputKeyForVk(vk);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!uidev_)
      return;
    if (!key) {
      PlatformTrace("inject: uinput has no key for virtual key 0x%02X", vk);
      return;
    }
    std::vector<KeyInputEvent> events;
    AppendKeyEvent(events, key, down);
    if (WriteKeyEvents(fd_, events))
      held_[key] = down;
    else
      PlatformTrace("inject: uinput write failed: %s", strerror(errno));
  }

  bool Type(const std::vector<uint32_t> &codePoints) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!uidev_)
      return false;
    std::vector<KeyInputEvent> events;
    bool any = false;
    for (uint32_t cp : codePoints) {
      if (AppendCharacter(events, cp))
        any = true;
      else
        PlatformTrace("inject: uinput cannot type U+%04X", cp);
    }
    if (!WriteKeyEvents(fd_, events)) {
      PlatformTrace("inject: uinput write failed: %s", strerror(errno));
      return false;
    }
    return any;
  }

private:
  std::mutex mutex_;
  libevdev_uinput *uidev_ = nullptr;
  int fd_ = -1;
  std::bitset<KEY_MAX + 1> held_; // keys pressed through keybd_event, released at close
};

} // namespace

const InjectOps *UinputInjectOpen(const char *devicePath) {
  auto *kbd = new UinputKeyboard;
  if (!kbd->Open(devicePath ? devicePath : "/dev/uinput")) {
    delete kbd;
    return nullptr;
  }
  MakeKeySinkOps(kbd->ops, "uinput", kbd);
  KeepBackend(kbd);
  return &kbd->ops;
}
