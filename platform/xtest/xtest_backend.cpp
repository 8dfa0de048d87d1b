// The `xtest` injection backend (see xtest_backend.h).
#include "platform/xtest/xtest_backend.h"
#include "platform/inject/key_sink.h"
#include "platform/trace.h"
#include "platform/xtest/keymap_index.h"
#include "platform/xtest/spare_pool.h"
#include "platform/xtest/vk_keysyms.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// How long a lent keycode stays untouched before it is lent to something
// else. Clients read keymap changes between key events; this is the time a
// busy client is given to translate the last key typed on the keycode.
constexpr int64_t kSettleUs = 40 * 1000;
// Lent keycodes are given back after this long without typing.
constexpr int64_t kIdleRestoreUs = 2000 * 1000;

int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// X protocol errors on our connection (a keymap request refused, say) are
// traced instead of ending the process, which is Xlib's default. Errors on
// other connections go to whichever handler was there before.
std::atomic<Display *> gOurDisplay{nullptr};
XErrorHandler gPreviousHandler = nullptr;

int OnXError(Display *dpy, XErrorEvent *ev) {
  if (dpy == gOurDisplay.load()) {
    char text[128] = "";
    XGetErrorText(dpy, ev->error_code, text, sizeof text);
    PlatformTrace("inject: X error on request %d.%d: %s", ev->request_code, ev->minor_code, text);
    return 0;
  }
  return gPreviousHandler ? gPreviousHandler(dpy, ev) : 0;
}

// The keysym a character is lent under: Latin-1 as it is, the named legacy
// keysym where there is one (the server knows the letter case of those,
// which makes caps lock and Shift act on a lent key as on any letter key),
// else the Unicode keysym.
unsigned long KeysymForChar(uint32_t cp) {
  switch (cp) {
  case 8: return XK_BackSpace;
  case 9: return XK_Tab;
  case 10:
  case 13: return XK_Return;
  case 27: return XK_Escape;
  case 127: return XK_Delete;
  default: break;
  }
  if ((cp >= 0x20 && cp < 0x7F) || (cp >= 0xA0 && cp <= 0xFF))
    return cp;
  if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || (cp >= 0xD800 && cp < 0xE000) || cp >= 0x110000)
    return 0;
  xkb_keysym_t named = xkb_utf32_to_keysym(cp);
  if (named != XKB_KEY_NoSymbol && named < 0x1000000)
    return named;
  return 0x1000000 + cp;
}

class XTestKeyboard : public KeySink {
public:
  InjectOps ops{};

  bool Open(const char *displayName) {
    Display *dpy = XOpenDisplay(displayName);
    if (!dpy) {
      PlatformTrace("inject: xtest not usable: display %s cannot be opened", displayName);
      return false;
    }
    int evBase, errBase, major, minor;
    if (!XTestQueryExtension(dpy, &evBase, &errBase, &major, &minor)) {
      PlatformTrace("inject: xtest not usable: display %s has no XTEST extension", displayName);
      XCloseDisplay(dpy);
      return false;
    }
    int opcode, xkbError;
    major = XkbMajorVersion;
    minor = XkbMinorVersion;
    if (!XkbQueryExtension(dpy, &opcode, &xkbEvent_, &xkbError, &major, &minor)) {
      PlatformTrace("inject: xtest not usable: display %s has no XKB extension", displayName);
      XCloseDisplay(dpy);
      return false;
    }
    dpy_ = dpy;
    gOurDisplay.store(dpy);
    XErrorHandler previous = XSetErrorHandler(OnXError);
    if (previous != OnXError)
      gPreviousHandler = previous;
    XkbSelectEvents(dpy_, XkbUseCoreKbd, XkbMapNotifyMask | XkbNewKeyboardNotifyMask,
                    XkbMapNotifyMask | XkbNewKeyboardNotifyMask);
    XTestGrabControl(dpy_, True); // keys still arrive while another client grabs the server
    XSync(dpy_, False);
    ReloadKeymap();
    PlatformTrace("inject: xtest on display %s, %zu spare keycodes", displayName, pool_.size());
    lastActivityUs_ = NowUs();
    idle_ = std::thread([this] { IdleLoop(); });
    return true;
  }

  void Close() {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!dpy_)
        return;
      stop_ = true;
    }
    cv_.notify_all();
    if (idle_.joinable())
      idle_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    for (Held &h : held_) {
      if (h.keycode)
        XTestFakeKeyEvent(dpy_, h.keycode, False, CurrentTime);
      h = Held{};
    }
    RestoreLent();
    gOurDisplay.store(nullptr);
    XCloseDisplay(dpy_);
    dpy_ = nullptr;
  }

  void Key(BYTE vk, bool down) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!dpy_)
      return;
    lastActivityUs_ = NowUs();
    Held &held = held_[vk];
    if (!down) {
      if (held.keycode) {
        XTestFakeKeyEvent(dpy_, held.keycode, False, CurrentTime);
        if (held.slot >= 0 && static_cast<size_t>(held.slot) < pool_.size()) {
          pool_.Use(held.slot, NowUs());
          pool_.Unpin(held.slot);
        }
        held = Held{};
        XFlush(dpy_);
      }
      // A release of a key not pressed through here has nothing to release.
      return;
    }
    if (held.keycode) {
      // Pressed again without a release: the same key again, as a repeat.
      XTestFakeKeyEvent(dpy_, held.keycode, True, CurrentTime);
      XFlush(dpy_);
      return;
    }
    VkKeysyms syms = VkToKeysyms(vk);
    if (!syms.base) {
      PlatformTrace("inject: xtest has no key for virtual key 0x%02X", vk);
      return;
    }
    Refresh();
    unsigned kc = index_.FindLevel1(syms.base);
    int slot = -1;
    // Keys that type no character (function keys, modifiers) may sit on any
    // level; a character key must be at level 1 to type what it names.
    if (!kc && (syms.modifier || !syms.shifted))
      kc = index_.FindAnywhere(syms.base);
    if (!kc && !syms.modifier) {
      slot = Lend(syms.base, syms.shifted);
      if (slot >= 0)
        kc = pool_.slot(slot).keycode;
    }
    if (!kc) {
      PlatformTrace("inject: no key carries virtual key 0x%02X on this display", vk);
      return;
    }
    XTestFakeKeyEvent(dpy_, kc, True, CurrentTime);
    XFlush(dpy_);
    held.keycode = kc;
    held.slot = slot;
    if (slot >= 0) {
      pool_.Pin(slot);
      pool_.Use(slot, NowUs());
    }
  }

  bool Type(const std::vector<uint32_t> &codePoints) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!dpy_)
      return false;
    lastActivityUs_ = NowUs();
    bool any = false;
    for (uint32_t cp : codePoints) {
      Refresh();
      if (TypeOne(cp == 10 ? 13 : cp))
        any = true;
      else
        PlatformTrace("inject: xtest cannot type U+%04X", cp);
    }
    XFlush(dpy_);
    return any;
  }

private:
  struct Held {
    unsigned keycode = 0;
    int slot = -1;
  };

  bool TypeOne(uint32_t cp) {
    if (const KeyChoice *choice = index_.FindChar(cp)) {
      Tap(choice->keycode, choice->mods);
      return true;
    }
    unsigned long ks = KeysymForChar(cp);
    if (!ks)
      return false;
    KeySym lower = ks, upper = ks;
    XConvertCase(ks, &lower, &upper);
    bool pair = lower != upper && (ks == lower || ks == upper);
    int slot = pair ? Lend(lower, upper) : Lend(ks, 0);
    if (slot < 0)
      return false;
    unsigned mods = 0;
    if (pair) {
      // A lent letter has the alphabetic key type: caps lock gives the
      // capital, and Shift with caps lock gives the small letter again.
      bool wantUpper = ks == upper;
      bool capsOn = (index_.lockedMods() & LockMask) != 0;
      if (wantUpper != capsOn)
        mods = ShiftMask;
    }
    Tap(pool_.slot(slot).keycode, mods);
    pool_.Use(slot, NowUs());
    return true;
  }

  // Presses and releases keycode inside the modifiers in mods.
  void Tap(unsigned keycode, unsigned mods) {
    bool shift = (mods & ShiftMask) && shiftKeycode_;
    bool level3 = level3Mask_ && (mods & level3Mask_) && level3Keycode_;
    if (shift)
      XTestFakeKeyEvent(dpy_, shiftKeycode_, True, CurrentTime);
    if (level3)
      XTestFakeKeyEvent(dpy_, level3Keycode_, True, CurrentTime);
    XTestFakeKeyEvent(dpy_, keycode, True, CurrentTime);
    XTestFakeKeyEvent(dpy_, keycode, False, CurrentTime);
    if (level3)
      XTestFakeKeyEvent(dpy_, level3Keycode_, False, CurrentTime);
    if (shift)
      XTestFakeKeyEvent(dpy_, shiftKeycode_, False, CurrentTime);
  }

  // Lends a spare keycode to the keysym pair (upper 0: one level only) and
  // returns its slot, or -1 when there is none to lend.
  int Lend(unsigned long lower, unsigned long upper) {
    SparePool::Lease lease = pool_.Find(lower, upper);
    if (lease.slot < 0) {
      PlatformTrace("inject: no spare keycode free for keysym 0x%lX", lower);
      return -1;
    }
    if (!lease.remap)
      return lease.slot;
    int64_t wait = lease.readyAtUs - NowUs();
    if (wait > 0) {
      // Every spare was used within the settle time: wait for the least
      // recently used one rather than risk a client misreading it.
      XFlush(dpy_);
      std::this_thread::sleep_for(std::chrono::microseconds(wait));
    }
    KeySym syms[2] = {static_cast<KeySym>(lower), static_cast<KeySym>(upper)};
    XChangeKeyboardMapping(dpy_, static_cast<int>(pool_.slot(lease.slot).keycode), upper ? 2 : 1,
                           syms, 1);
    // Once the server has taken the change, the change notice is queued for
    // every client ahead of any key event that follows.
    XSync(dpy_, False);
    pool_.Assign(lease.slot, lower, upper);
    return lease.slot;
  }

  // Reads the keymap change notices that came in; reloads the keymap when a
  // change touched more than our own lent keycodes, and the index when the
  // lock state or group changed.
  void Refresh() {
    while (XPending(dpy_)) {
      XEvent ev;
      XNextEvent(dpy_, &ev);
      if (ev.type == MappingNotify) {
        XRefreshKeyboardMapping(&ev.xmapping);
        if (ev.xmapping.request != MappingKeyboard ||
            !OnlySpares(ev.xmapping.first_keycode, ev.xmapping.count))
          keymapDirty_ = true;
      } else if (ev.type == xkbEvent_) {
        auto *xkb = reinterpret_cast<XkbEvent *>(&ev);
        if (xkb->any.xkb_type == XkbNewKeyboardNotify) {
          keymapDirty_ = true;
        } else if (xkb->any.xkb_type == XkbMapNotify) {
          const XkbMapNotifyEvent &m = xkb->map;
          if ((m.changed & (XkbKeyTypesMask | XkbVirtualModsMask)) ||
              !OnlySpares(m.first_key_sym, m.num_key_syms) ||
              !OnlySpares(m.first_key_act, m.num_key_acts) ||
              !OnlySpares(m.first_key_behavior, m.num_key_behaviors) ||
              !OnlySpares(m.first_key_explicit, m.num_key_explicit) ||
              !OnlySpares(m.first_modmap_key, m.num_modmap_keys) ||
              !OnlySpares(m.first_vmodmap_key, m.num_vmodmap_keys))
            keymapDirty_ = true;
        }
      }
    }
    if (keymapDirty_)
      ReloadKeymap();
    XkbStateRec state;
    if (XkbGetState(dpy_, XkbUseCoreKbd, &state) != Success)
      return;
    unsigned locked = state.locked_mods;
    unsigned group = state.group;
    if (!indexValid_ || locked != index_.lockedMods() || group != index_.group()) {
      index_.Build(dpy_, group, locked, level3Mask_,
                   [this](unsigned kc) { return pool_.IsSpare(kc); });
      indexValid_ = true;
    }
  }

  bool OnlySpares(int first, int count) {
    for (int kc = first; kc < first + count; ++kc)
      if (!pool_.IsSpare(static_cast<unsigned>(kc)))
        return false;
    return true;
  }

  // Rereads the keymap: the spare keycodes (no keysym at all, or ours still
  // carrying what we lent them) and the Shift and level-3 keys.
  void ReloadKeymap() {
    keymapDirty_ = false;
    indexValid_ = false;
    int minKc = 8, maxKc = 255, perKey = 0;
    XDisplayKeycodes(dpy_, &minKc, &maxKc);
    KeySym *map = XGetKeyboardMapping(dpy_, static_cast<KeyCode>(minKc), maxKc - minKc + 1, &perKey);
    std::vector<unsigned> spares;
    auto symsOf = [&](unsigned kc, int i) {
      return i < perKey ? map[(kc - static_cast<unsigned>(minKc)) * perKey + i] : NoSymbol;
    };
    for (int kc = minKc; map && kc <= maxKc; ++kc) {
      bool empty = true;
      for (int i = 0; i < perKey; ++i)
        empty &= symsOf(static_cast<unsigned>(kc), i) == NoSymbol;
      int slot = pool_.IndexOfKeycode(static_cast<unsigned>(kc));
      bool ours = slot >= 0 && pool_.slot(slot).lower &&
                  symsOf(static_cast<unsigned>(kc), 0) == pool_.slot(slot).lower;
      if (empty || ours)
        spares.push_back(static_cast<unsigned>(kc));
    }
    pool_.SetKeycodes(spares, [&](unsigned kc, unsigned long lower, unsigned long) {
      return symsOf(kc, 0) == lower;
    });
    if (map)
      XFree(map);
    shiftKeycode_ = XKeysymToKeycode(dpy_, XK_Shift_L);
    if (!shiftKeycode_)
      shiftKeycode_ = XKeysymToKeycode(dpy_, XK_Shift_R);
    level3Keycode_ = XKeysymToKeycode(dpy_, XK_ISO_Level3_Shift);
    level3Mask_ = level3Keycode_ ? XkbKeysymToModifiers(dpy_, XK_ISO_Level3_Shift) : 0;
    if (!level3Mask_)
      level3Keycode_ = 0;
  }

  // Gives every lent keycode back, once the last key typed on any of them
  // has settled.
  void RestoreLent() {
    int64_t lastUse = INT64_MIN / 2;
    bool any = false;
    for (size_t i = 0; i < pool_.size(); ++i) {
      if (pool_.slot(static_cast<int>(i)).lower) {
        any = true;
        lastUse = std::max(lastUse, pool_.slot(static_cast<int>(i)).lastUseUs);
      }
    }
    if (!any)
      return;
    int64_t wait = lastUse + kSettleUs - NowUs();
    XFlush(dpy_);
    if (wait > 0)
      std::this_thread::sleep_for(std::chrono::microseconds(wait));
    for (size_t i = 0; i < pool_.size(); ++i) {
      const SpareSlot &s = pool_.slot(static_cast<int>(i));
      if (!s.lower)
        continue;
      KeySym none = NoSymbol;
      XChangeKeyboardMapping(dpy_, static_cast<int>(s.keycode), 1, &none, 1);
    }
    pool_.ClearAll();
    XSync(dpy_, False);
  }

  void IdleLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
      cv_.wait_for(lock, std::chrono::milliseconds(250));
      if (stop_)
        break;
      if (NowUs() - lastActivityUs_ < kIdleRestoreUs)
        continue;
      bool pinned = false, lent = false;
      for (size_t i = 0; i < pool_.size(); ++i) {
        pinned |= pool_.slot(static_cast<int>(i)).pins > 0;
        lent |= pool_.slot(static_cast<int>(i)).lower != 0;
      }
      if (lent && !pinned) {
        RestoreLent();
        // Our own change notices are read (and ignored) on the next call.
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::thread idle_;
  bool stop_ = false;
  int64_t lastActivityUs_ = 0;

  Display *dpy_ = nullptr;
  int xkbEvent_ = 0;
  bool keymapDirty_ = true;
  bool indexValid_ = false;
  KeymapIndex index_;
  SparePool pool_{kSettleUs};
  unsigned shiftKeycode_ = 0, level3Keycode_ = 0, level3Mask_ = 0;
  Held held_[256];
};

} // namespace

const InjectOps *XTestInjectOpen(const char *displayName) {
  auto *kbd = new XTestKeyboard;
  if (!kbd->Open(displayName)) {
    delete kbd;
    return nullptr;
  }
  MakeKeySinkOps(kbd->ops, "xtest", kbd);
  return &kbd->ops;
}

void XTestInjectClose(const InjectOps *ops) {
  if (ops)
    static_cast<XTestKeyboard *>(static_cast<KeySink *>(ops->self))->Close();
}
