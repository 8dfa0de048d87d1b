// The `wayland` injection backend (see wayland_backend.h).
#include "platform/wayland/wayland_backend.h"
#include "platform/core/monotonic_clock.h"
#include "platform/inject/kept_backends.h"
#include "platform/inject/key_sink.h"
#include "platform/trace.h"
#include "platform/keymaps/key_events.h"
#include "platform/keymaps/vk_keysyms.h"

// The client library is loaded when the backend opens: its calls first, then
// the protocol stubs that use them.
#include "platform/wayland/wayland_calls.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>
#include <poll.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>
#include <xkbcommon/xkbcommon.h>

namespace {

// How long a spare key keeps its character after its last use, so that a
// client that has not yet read the keymap before never sees it change.
constexpr int64_t kSpareSettleUs = 200 * 1000;
constexpr unsigned kShiftKeycode = 50; // Shift_L

struct Spare {
  unsigned keycode;
  uint32_t cp = 0; // 0: carries nothing
  int64_t lastUseUs = INT64_MIN / 2;
};

class WaylandKeyboard : public KeySink {
public:
  InjectOps ops{};

  bool Open(std::string &why) {
    if (!LoadWaylandLibrary(&why))
      return Decline(why);
    dpy_ = wl_display_connect(nullptr);
    if (!dpy_) {
      why = "no Wayland compositor answers";
      return Decline(why);
    }
    registry_ = wl_display_get_registry(dpy_);
    static const wl_registry_listener listener = {OnGlobal, OnGlobalRemove};
    wl_registry_add_listener(registry_, &listener, this);
    wl_display_roundtrip(dpy_);
    if (!manager_) {
      why = "the compositor does not offer the virtual-keyboard protocol";
      return Decline(why);
    }
    if (!seat_) {
      why = "the compositor has no seat";
      return Decline(why);
    }
    kbd_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager_, seat_);
    ctx_ = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    BuildFixedKeys();
    if (!ctx_ || !Upload()) {
      why = "the backend's keymap cannot be compiled";
      return Decline(why);
    }
    if (wl_display_roundtrip(dpy_) < 0 || wl_display_get_error(dpy_)) {
      why = "the compositor refused the virtual keyboard";
      return Decline(why);
    }
    open_ = true;
    PlatformTrace("inject: wayland virtual keyboard created (%zu spare keys)", spares_.size());
    return true;
  }

  void Close() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_)
      return;
    for (unsigned kc = 0; kc < 256; ++kc)
      if (held_[kc])
        SendKey(kc, false);
    Flush();
    open_ = false;
    Disconnect();
  }

  void Key(BYTE vk, bool down) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_)
      return;
    const unsigned evdev = UinputKeyForVk(vk);
    const unsigned kc = evdev + 8;
    if (!evdev || kc > 255 || !base_[kc]) {
      PlatformTrace("inject: wayland has no key for virtual key 0x%02X", vk);
      return;
    }
    SendKey(kc, down);
    Flush();
  }

  bool Type(const std::vector<uint32_t> &codePoints) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_)
      return false;
    bool any = false;
    for (uint32_t cp : codePoints) {
      if (cp == 10)
        cp = 13;
      if (TypeFixed(cp)) {
        any = true;
        continue;
      }
      if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || (cp >= 0xD800 && cp < 0xE000) ||
          cp >= 0x110000) {
        PlatformTrace("inject: wayland cannot type U+%04X", cp);
        continue;
      }
      unsigned kc = SpareFor(cp);
      if (!kc)
        continue;
      SendKey(kc, true);
      SendKey(kc, false);
      spares_[spareIndex_[kc]].lastUseUs = MonotonicMicroseconds();
      any = true;
    }
    return Flush() && any;
  }

private:
  static void OnGlobal(void *data, wl_registry *registry, uint32_t name, const char *iface,
                       uint32_t) {
    auto *self = static_cast<WaylandKeyboard *>(data);
    if (strcmp(iface, wl_seat_interface.name) == 0 && !self->seat_)
      self->seat_ = static_cast<wl_seat *>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (strcmp(iface, zwp_virtual_keyboard_manager_v1_interface.name) == 0 && !self->manager_)
      self->manager_ = static_cast<zwp_virtual_keyboard_manager_v1 *>(
          wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
  }
  static void OnGlobalRemove(void *, wl_registry *, uint32_t) {}

  bool Decline(const std::string &why) {
    PlatformTrace("inject: wayland not usable: %s", why.c_str());
    Disconnect();
    return false;
  }

  void Disconnect() {
    if (kbd_)
      zwp_virtual_keyboard_v1_destroy(kbd_);
    if (manager_)
      zwp_virtual_keyboard_manager_v1_destroy(manager_);
    if (seat_)
      wl_seat_destroy(seat_);
    if (registry_)
      wl_registry_destroy(registry_);
    if (dpy_) {
      wl_display_flush(dpy_);
      wl_display_disconnect(dpy_);
    }
    kbd_ = nullptr;
    manager_ = nullptr;
    seat_ = nullptr;
    registry_ = nullptr;
    dpy_ = nullptr;
    if (state_)
      xkb_state_unref(state_);
    if (keymap_)
      xkb_keymap_unref(keymap_);
    if (ctx_)
      xkb_context_unref(ctx_);
    state_ = nullptr;
    keymap_ = nullptr;
    ctx_ = nullptr;
  }

  // The keys of the virtual keys at their US positions with US keysyms, and
  // the characters they type with and without Shift.
  void BuildFixedKeys() {
    for (unsigned vk = 1; vk < 256; ++vk) {
      const unsigned evdev = UinputKeyForVk(static_cast<BYTE>(vk));
      const VkKeysyms syms = VkToKeysyms(static_cast<BYTE>(vk));
      const unsigned kc = evdev + 8;
      if (!evdev || kc > 255 || !syms.base || base_[kc])
        continue;
      base_[kc] = static_cast<xkb_keysym_t>(syms.base);
      shifted_[kc] = static_cast<xkb_keysym_t>(syms.shifted);
    }
    // Every other keycode is a spare key.
    for (unsigned kc = 9; kc < 256; ++kc) {
      if (base_[kc])
        continue;
      spareIndex_[kc] = static_cast<uint8_t>(spares_.size());
      spares_.push_back(Spare{kc});
    }
    for (unsigned kc = 0; kc < 256; ++kc) {
      if (uint32_t u = base_[kc] ? xkb_keysym_to_utf32(base_[kc]) : 0)
        fixed_.emplace(u, FixedKey{kc, false});
      if (uint32_t u = shifted_[kc] ? xkb_keysym_to_utf32(shifted_[kc]) : 0)
        fixed_.emplace(u, FixedKey{kc, true});
    }
  }

  std::string KeymapText() const {
    std::string keycodes, symbols;
    char name[64], line[256];
    auto symName = [&](xkb_keysym_t sym) {
      xkb_keysym_get_name(sym, name, sizeof name);
      return std::string(name);
    };
    for (unsigned kc = 9; kc < 256; ++kc) {
      std::string syms;
      if (base_[kc])
        syms = symName(base_[kc]) + (shifted_[kc] ? ", " + symName(shifted_[kc]) : "");
      else if (spares_[spareIndex_[kc]].cp)
        syms = symName(xkb_utf32_to_keysym(spares_[spareIndex_[kc]].cp));
      if (syms.empty())
        continue;
      snprintf(line, sizeof line, "  <K%u> = %u;\n", kc, kc);
      keycodes += line;
      snprintf(line, sizeof line, "  key <K%u> { [ %s ] };\n", kc, syms.c_str());
      symbols += line;
    }
    // The modifier keys of a US keyboard.
    symbols += "  modifier_map Shift { <K50>, <K62> };\n  modifier_map Lock { <K66> };\n"
               "  modifier_map Control { <K37>, <K105> };\n  modifier_map Mod1 { <K64>, <K108> };\n"
               "  modifier_map Mod2 { <K77> };\n  modifier_map Mod4 { <K133>, <K134> };\n";
    return "xkb_keymap {\nxkb_keycodes \"vantrel\" {\n  minimum = 8;\n  maximum = 255;\n" +
           keycodes +
           "};\nxkb_types \"vantrel\" { include \"complete\" };\n"
           "xkb_compatibility \"vantrel\" { include \"complete\" };\n"
           "xkb_symbols \"vantrel\" {\n" +
           symbols + "};\n};\n";
  }

  // Compiles and uploads the keymap; the keys held stay held in the new
  // state. Returns false when it cannot be compiled or sent.
  bool Upload() {
    const std::string text = KeymapText();
    xkb_keymap *keymap =
        xkb_keymap_new_from_string(ctx_, text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                   XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap) {
      PlatformTrace("inject: wayland keymap does not compile");
      return false;
    }
    int fd = memfd_create("vantrel-keymap", MFD_CLOEXEC);
    const size_t size = text.size() + 1;
    if (fd < 0 || write(fd, text.c_str(), size) != static_cast<ssize_t>(size)) {
      PlatformTrace("inject: wayland keymap cannot be written: %s", strerror(errno));
      if (fd >= 0)
        close(fd);
      xkb_keymap_unref(keymap);
      return false;
    }
    // The request takes its own copy of the descriptor.
    zwp_virtual_keyboard_v1_keymap(kbd_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   static_cast<uint32_t>(size));
    close(fd);
    xkb_state *state = xkb_state_new(keymap);
    for (unsigned kc = 0; kc < 256; ++kc)
      if (held_[kc])
        xkb_state_update_key(state, kc, XKB_KEY_DOWN);
    if (state_)
      xkb_state_unref(state_);
    if (keymap_)
      xkb_keymap_unref(keymap_);
    keymap_ = keymap;
    state_ = state;
    modsSent_ = false;
    SendModifiers();
    return true;
  }

  void SendModifiers() {
    const uint32_t mods[4] = {
        xkb_state_serialize_mods(state_, XKB_STATE_MODS_DEPRESSED),
        xkb_state_serialize_mods(state_, XKB_STATE_MODS_LATCHED),
        xkb_state_serialize_mods(state_, XKB_STATE_MODS_LOCKED),
        xkb_state_serialize_layout(state_, XKB_STATE_LAYOUT_EFFECTIVE)};
    if (modsSent_ && memcmp(mods, sentMods_, sizeof mods) == 0)
      return;
    zwp_virtual_keyboard_v1_modifiers(kbd_, mods[0], mods[1], mods[2], mods[3]);
    memcpy(sentMods_, mods, sizeof mods);
    modsSent_ = true;
  }

  void SendKey(unsigned kc, bool down) {
    const uint32_t ms = static_cast<uint32_t>(MonotonicMicroseconds() / 1000);
    zwp_virtual_keyboard_v1_key(kbd_, ms, kc - 8,
                                down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    xkb_state_update_key(state_, kc, down ? XKB_KEY_DOWN : XKB_KEY_UP);
    held_[kc] = down;
    SendModifiers();
  }

  // A character on a virtual key's own key: with Shift pressed for it when
  // needed, and only while no lock is on and a held Shift would not change it.
  bool TypeFixed(uint32_t cp) {
    auto it = fixed_.find(cp);
    if (it == fixed_.end())
      return false;
    const xkb_mod_mask_t locked = xkb_state_serialize_mods(state_, XKB_STATE_MODS_LOCKED);
    const bool shiftHeld = held_[50] || held_[62];
    const FixedKey key = it->second;
    if (locked || (shiftHeld && !key.shift) || held_[key.keycode])
      return false;
    const bool pressShift = key.shift && !shiftHeld;
    if (pressShift)
      SendKey(kShiftKeycode, true);
    SendKey(key.keycode, true);
    SendKey(key.keycode, false);
    if (pressShift)
      SendKey(kShiftKeycode, false);
    return true;
  }

  // The spare key carrying cp, lending it the one used longest ago (after
  // it settled) and uploading the keymap when cp is on none. 0 on failure.
  unsigned SpareFor(uint32_t cp) {
    auto it = spareOf_.find(cp);
    if (it != spareOf_.end())
      return it->second;
    if (spares_.empty())
      return 0;
    size_t best = 0;
    for (size_t i = 1; i < spares_.size(); ++i)
      if (spares_[i].lastUseUs < spares_[best].lastUseUs)
        best = i;
    const int64_t wait = spares_[best].lastUseUs + kSpareSettleUs - MonotonicMicroseconds();
    if (wait > 0)
      std::this_thread::sleep_for(std::chrono::microseconds(wait));
    if (spares_[best].cp)
      spareOf_.erase(spares_[best].cp);
    spares_[best].cp = cp;
    spares_[best].lastUseUs = MonotonicMicroseconds();
    spareOf_[cp] = spares_[best].keycode;
    if (!Upload())
      return 0;
    return spares_[best].keycode;
  }

  // Sends what is queued, waiting while the compositor is behind, and reads
  // what it sent (an error ends the backend). Returns false on failure.
  bool Flush() {
    if (!dpy_)
      return false;
    while (wl_display_flush(dpy_) < 0) {
      if (errno != EAGAIN) {
        PlatformTrace("inject: wayland connection lost: %s", strerror(errno));
        open_ = false;
        return false;
      }
      pollfd p{wl_display_get_fd(dpy_), POLLOUT, 0};
      poll(&p, 1, 1000);
    }
    while (wl_display_prepare_read(dpy_) != 0)
      wl_display_dispatch_pending(dpy_);
    pollfd p{wl_display_get_fd(dpy_), POLLIN, 0};
    if (poll(&p, 1, 0) > 0)
      wl_display_read_events(dpy_);
    else
      wl_display_cancel_read(dpy_);
    wl_display_dispatch_pending(dpy_);
    if (int err = wl_display_get_error(dpy_)) {
      PlatformTrace("inject: wayland compositor ended the virtual keyboard: %s", strerror(err));
      open_ = false;
      return false;
    }
    return true;
  }

  struct FixedKey {
    unsigned keycode;
    bool shift;
  };

  std::mutex mutex_;
  bool open_ = false;
  wl_display *dpy_ = nullptr;
  wl_registry *registry_ = nullptr;
  wl_seat *seat_ = nullptr;
  zwp_virtual_keyboard_manager_v1 *manager_ = nullptr;
  zwp_virtual_keyboard_v1 *kbd_ = nullptr;
  xkb_context *ctx_ = nullptr;
  xkb_keymap *keymap_ = nullptr;
  xkb_state *state_ = nullptr;
  uint32_t sentMods_[4] = {};
  bool modsSent_ = false;
  bool held_[256] = {};
  xkb_keysym_t base_[256] = {}, shifted_[256] = {};
  std::unordered_map<uint32_t, FixedKey> fixed_;
  std::vector<Spare> spares_;
  uint8_t spareIndex_[256] = {}; // keycode -> its entry in spares_ (spare keycodes only)
  std::unordered_map<uint32_t, unsigned> spareOf_;
};

} // namespace

const InjectOps *WaylandInjectOpen(std::string *why) {
  auto *kbd = new WaylandKeyboard;
  std::string reason;
  if (!kbd->Open(reason)) {
    delete kbd;
    if (why)
      *why = reason;
    return nullptr;
  }
  MakeKeySinkOps(kbd->ops, "wayland", kbd);
  KeepBackend(kbd);
  return &kbd->ops;
}
