// The `xtest` injection backend (see xtest_backend.h).
#include "platform/xtest/xtest_backend.h"

#include "platform/core/counted_thread.h"
#include "platform/core/monotonic_clock.h"
#include "platform/inject/kept_backends.h"
#include "platform/inject/key_sink.h"
#include "platform/trace.h"
#include "platform/xtest/keymap_index.h"
#include "platform/xtest/keymap_reading.h"
#include "platform/xtest/level_type.h"
#include "platform/xtest/spare_pool.h"
#include "platform/keymaps/vk_keysyms.h"
#include "platform/xtest/xtest_library.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

// libX11's call for sending its output buffer without reading (declared in
// its header for extension writers, Xlibint.h, whose macros are kept out).
extern "C" void _XSend(Display *dpy, const char *data, long size);
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <initializer_list>
#include <poll.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// The key types lent keycodes may take, in order of preference.
const std::initializer_list<const char *> kFourLevelTypes = {"FOUR_LEVEL_ALPHABETIC",
                                                             "FOUR_LEVEL_SEMIALPHABETIC"};
const std::initializer_list<const char *> kEightLevelTypes = {
    "EIGHT_LEVEL_ALPHABETIC", "EIGHT_LEVEL_SEMIALPHABETIC",
    "EIGHT_LEVEL_ALPHABETIC_LEVEL_FIVE_LOCK", "EIGHT_LEVEL_LEVEL_FIVE_LOCK"};

// How long a lent keycode stays untouched before it is lent to something
// else. Clients read keymap changes between key events; this is the time a
// busy client is given to translate the last key typed on the keycode.
constexpr int64_t kLentSettleUs = 40 * 1000;
// How far behind a keymap change may leave a client: every change makes each
// client read the keymap again before its next key. On a busy machine clients
// fall further behind, and the server is slow too: the round trip that
// completes the change, times kRoundTripCost, is added to the cost.
constexpr int64_t kChangeCostUs = 3 * 1000;
constexpr int64_t kRoundTripCost = 4;
// Lent keycodes are given back after this long without typing.
constexpr int64_t kIdleRestoreUs = 2000 * 1000;
// Characters typed wait, unsent, until the injecting thread is about to wait
// for input, a key comes, or this many are queued: the keymap changes a batch
// needs go to the server together, with one round trip for all of them, and
// before any of the batch's keys (a burst that reaches a client new to the
// focus then needs no wait for it to settle; see FocusSettledAtUs).
constexpr size_t kMaxQueued = 512;


// The XTEST calls go to libXtst as loaded at the first open (see
// xtest_library.h), under the names the library gives them.
const XTestLibrary *gXTest = nullptr;

Bool XTestQueryExtension(Display *dpy, int *eventBase, int *errorBase, int *major, int *minor) {
  return gXTest->queryExtension(dpy, eventBase, errorBase, major, minor);
}
int XTestFakeKeyEvent(Display *dpy, unsigned int keycode, Bool isPress, unsigned long delay) {
  return gXTest->fakeKeyEvent(dpy, keycode, isPress, delay);
}
int XTestGrabControl(Display *dpy, Bool impervious) { return gXTest->grabControl(dpy, impervious); }

// X protocol errors on our connection (a keymap request refused, say) are
// traced instead of ending the process, which is Xlib's default. Errors on
// other connections go to whichever handler was there before.
std::atomic<Display *> gOurDisplay{nullptr};
XErrorHandler gPreviousHandler = nullptr;

int OnXError(Display *dpy, XErrorEvent *ev) {
  if (dpy == gOurDisplay.load()) {
    char text[128] = "";
    XGetErrorText(dpy, ev->error_code, text, sizeof text);
    PlatformWarning("inject: X error on request %d.%d: %s", ev->request_code, ev->minor_code, text);
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

  bool Open(const char *displayName, std::string &why) {
    gXTest = LoadXTestLibrary(&why);
    if (!gXTest) {
      PlatformTrace("inject: xtest not usable: %s", why.c_str());
      return false;
    }
    Display *dpy = XOpenDisplay(displayName);
    if (!dpy) {
      why = std::string("display ") + displayName + " cannot be opened";
      PlatformTrace("inject: xtest not usable: %s", why.c_str());
      return false;
    }
    int evBase, errBase, major, minor;
    if (!XTestQueryExtension(dpy, &evBase, &errBase, &major, &minor)) {
      why = std::string("display ") + displayName + " has no XTEST extension";
      PlatformTrace("inject: xtest not usable: %s", why.c_str());
      XCloseDisplay(dpy);
      return false;
    }
    int opcode, xkbError;
    major = XkbMajorVersion;
    minor = XkbMinorVersion;
    if (!XkbQueryExtension(dpy, &opcode, &xkbEvent_, &xkbError, &major, &minor)) {
      why = std::string("display ") + displayName + " has no XKB extension";
      PlatformTrace("inject: xtest not usable: %s", why.c_str());
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
    // The group and the locked modifiers are followed from the server's
    // notices, so that a key needs no round trip to learn them. Only those
    // two parts of the state are asked for: a Shift held for a capital
    // sends no notice.
    XkbSelectEventDetails(dpy_, XkbUseCoreKbd, XkbStateNotify,
                          XkbGroupStateMask | XkbModifierLockMask,
                          XkbGroupStateMask | XkbModifierLockMask);
    XTestGrabControl(dpy_, True); // keys still arrive while another client grabs the server
    // Top-level windows mapped and destroyed: a new client may be taking the
    // keys (see FocusSettledAtUs).
    for (int screen = 0; screen < ScreenCount(dpy_); ++screen)
      XSelectInput(dpy_, RootWindow(dpy_, screen), SubstructureNotifyMask);
    XSync(dpy_, False);
    ReloadKeymap();
    stateStale_ = true; // the first key asks the server once
    PlatformTrace("inject: xtest on display %s, %zu spare keycodes", displayName, pool_.size());
    lastActivityUs_ = MonotonicMicroseconds();
    idle_ = StartCountedThread([this] { IdleLoop(); });
    return true;
  }

  void Close() override {
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
    SendQueued();
    for (Held &h : held_) {
      if (h.keycode)
        XTestFakeKeyEvent(dpy_, h.keycode, False, CurrentTime);
      h = Held{};
    }
    RestoreLent();
    PlatformTrace("inject: xtest closed after %lu keymap changes for lent keycodes", remaps_);
    if (xkb_)
      XkbFreeKeyboard(xkb_, 0, True);
    xkb_ = nullptr;
    gOurDisplay.store(nullptr);
    XCloseDisplay(dpy_);
    dpy_ = nullptr;
  }

  void Key(BYTE vk, bool down) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!dpy_)
      return;
    lastActivityUs_ = MonotonicMicroseconds();
    SendQueued(); // characters typed before the key go before it
    Held &held = held_[vk];
    if (!down) {
      if (held.keycode) {
        XTestFakeKeyEvent(dpy_, held.keycode, False, CurrentTime);
        NoteStateKey(held.keycode);
        if (held.slot >= 0 && static_cast<size_t>(held.slot) < pool_.size()) {
          pool_.Use(held.slot, 0, MonotonicMicroseconds());
          pool_.Unpin(held.slot);
          WakeIdle(); // a lent key no longer held can be given back in time
        }
        held = Held{};
        Flush(); // the press held back goes out with it
      }
      // A release of a key not pressed through here has nothing to release.
      return;
    }
    if (held.keycode) {
      // Pressed again without a release: the same key again, as a repeat.
      XTestFakeKeyEvent(dpy_, held.keycode, True, CurrentTime);
      NoteStateKey(held.keycode);
      lastKeyUs_ = MonotonicMicroseconds();
      HoldBackPress();
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
      slot = LendForKey(syms.base, syms.shifted).slot;
      if (slot >= 0)
        kc = pool_.slot(slot).keycode;
    }
    if (!kc) {
      PlatformTrace("inject: no key carries virtual key 0x%02X on this display", vk);
      return;
    }
    XTestFakeKeyEvent(dpy_, kc, True, CurrentTime);
    NoteStateKey(kc);
    HoldBackPress();
    lastKeyUs_ = MonotonicMicroseconds();
    held.keycode = kc;
    held.slot = slot;
    if (slot >= 0) {
      pool_.Pin(slot);
      pool_.Use(slot, 0, MonotonicMicroseconds());
    }
  }

  // Queues the characters (see kMaxQueued); they go out, in order, before
  // anything typed after them. False when none of them can be typed at all.
  bool Type(const std::vector<uint32_t> &codePoints) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!dpy_)
      return false;
    lastActivityUs_ = MonotonicMicroseconds();
    bool any = false;
    for (uint32_t cp : codePoints) {
      const uint32_t c = cp == 10 ? 13 : cp;
      if (!KeysymForChar(c) && !index_.FindChar(c)) {
        PlatformTrace("inject: xtest cannot type U+%04X", cp);
        continue;
      }
      any = true;
      queued_.push_back(c);
      if (queued_.size() >= kMaxQueued)
        SendQueued();
    }
    if (any)
      HoldBackPress(); // queued, or sent but left in Xlib's buffer: the flush sends it
    return any;
  }

  // Sends the characters queued and a key press held back for its release
  // (see HoldBackPress). Cheap when there is nothing: the caller runs it
  // before every wait for input.
  void SendHeldBack() override {
    if (!pressHeldBack_.load(std::memory_order_relaxed))
      return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!dpy_)
      return;
    SendQueued();
    Flush();
  }

  // The link ended: what is queued goes out now, not at the next
  // connection's first wait for input.
  void LinkChanged(bool up) override {
    if (!up)
      SendHeldBack();
  }

private:
  // A key press is not flushed on its own: its release, which nearly always
  // follows at once, sends both in one write (a write and a read fewer per
  // key). Until then it waits in Xlib's buffer; the injecting thread calls
  // InjectFlush before it waits for input, so a press with no release after it
  // goes out then, and anything else sent meanwhile takes it along.
  void HoldBackPress() { pressHeldBack_.store(true, std::memory_order_relaxed); }
  // Sends what Xlib holds, a press held back among it. Under mutex_.
  // XFlush would also try to read the connection (two failed reads on a
  // connection with nothing to read, at every key); only the write is
  // wanted here: what comes in is looked for with one poll when it matters
  // (NoticesWaiting).
  void Flush() {
    XLockDisplay(dpy_); // what XFlush takes around it (a no-op unless Xlib is threaded)
    _XSend(dpy_, nullptr, 0);
    XUnlockDisplay(dpy_);
    pressHeldBack_.store(false, std::memory_order_relaxed);
  }

  struct Held {
    unsigned keycode = 0;
    int slot = -1;
  };

  // A character to type as planned: the key, the modifiers pressed around
  // it, and the lent part it reads (slot -1: a key of the host's keymap;
  // keycode 0: not typable).
  struct PlannedKey {
    uint32_t cp = 0;
    unsigned keycode = 0, mods = 0;
    int slot = -1, part = 0;
  };
  enum class Planned { Key, Skip, Stop };

  // Types the queued characters, in order, and empties the queue. Under
  // mutex_; what it sends is left in Xlib's buffer for the caller's flush.
  void SendQueued() {
    size_t next = 0;
    while (next < queued_.size()) {
      Refresh();
      next = SendSegment(next);
    }
    queued_.clear();
  }

  // Plans queued_[first...] as far as it can without a wait, sends the
  // keymap changes those characters need together and completes them with
  // one round trip, then types them. Returns the index of the first
  // character not typed (the caller refreshes its view of the keymap and
  // carries on there).
  size_t SendSegment(size_t first) {
    if (LevelFiveLendable() && LendsAhead(first) > pool_.size()) {
      // More characters to lend than whole keycodes: levels will be needed,
      // and eight a keycode hold more than four. Lent before anything else,
      // as it changes the type of every keycode lent after it.
      LendLevelFive();
      Refresh();
    }
    plan_.clear();
    int64_t now = MonotonicMicroseconds();
    bool changed = false;
    int64_t sent = 0;
    size_t end = first;
    for (; end < queued_.size(); ++end) {
      PlannedKey key;
      key.cp = queued_[end];
      Planned p = PlanChar(key, now, changed, sent);
      if (p == Planned::Stop)
        break;
      plan_.push_back(key);
    }
    if (changed) {
      // Once the server has taken the changes, their notices are queued for
      // every client ahead of any key event that follows.
      XSync(dpy_, False);
      const int64_t synced = MonotonicMicroseconds();
      pool_.NoteChange(synced, kRoundTripCost * (synced - sent));
      WakeIdle(); // something is lent now: the idle thread gives it back in time
    }
    size_t typed = 0;
    while (typed < plan_.size()) {
      const PlannedKey &k = plan_[typed++];
      if (!k.keycode) {
        PlatformTrace("inject: xtest cannot type U+%04X", k.cp);
        continue;
      }
      Tap(k.keycode, k.mods);
      if (k.slot >= 0)
        pool_.Use(k.slot, k.part, lastKeyUs_);
      if (stateStale_)
        break; // the locked modifiers may have changed: plan the rest afresh
    }
    // Keys planned but not typed are planned again from scratch: their
    // reservations end as if typed now, so that their levels settle as usual.
    for (size_t i = typed; i < plan_.size(); ++i)
      if (plan_[i].slot >= 0)
        pool_.Use(plan_[i].slot, plan_[i].part, lastKeyUs_);
    return first + typed;
  }

  // How many different keysyms the characters from queued_[first] on need
  // lent (none is lent when this is asked).
  size_t LendsAhead(size_t first) const {
    std::vector<unsigned long> keysyms;
    for (size_t i = first; i < queued_.size(); ++i)
      if (!index_.FindChar(queued_[i]))
        if (unsigned long ks = KeysymForChar(queued_[i]))
          keysyms.push_back(ks);
    std::sort(keysyms.begin(), keysyms.end());
    return static_cast<size_t>(std::unique(keysyms.begin(), keysyms.end()) - keysyms.begin());
  }

  // Plans one character: the host's key for it, or the lent keycode that
  // carries it, lending one (the change requested, not yet completed) when
  // none does. Stop when the lend would have to wait for a level to settle
  // while characters planned before it are not yet typed (the wait would
  // hold them back, and the level replaced may be one of theirs).
  Planned PlanChar(PlannedKey &key, int64_t &now, bool &changed, int64_t &sent) {
    if (const KeyChoice *choice = index_.FindChar(key.cp)) {
      key.keycode = choice->keycode;
      key.mods = choice->mods;
      return Planned::Key;
    }
    const unsigned long ks = KeysymForChar(key.cp);
    if (!ks)
      return Planned::Skip;
    const bool levels = pool_.charParts() > 1;
    unsigned long lower = ks, upper = 0;
    if (!levels) {
      // Two-level keys: a letter is lent with its other case, as a pair.
      KeySym l = ks, u = ks;
      XConvertCase(ks, &l, &u);
      if (l != u && (ks == l || ks == u)) {
        lower = l;
        upper = u;
      }
    }
    const unsigned usable = levels ? UsableParts() : 1u;
    SparePool::Lease lease = pool_.Find(lower, upper, now, false, usable);
    if (lease.slot < 0) {
      PlatformTrace("inject: no spare keycode free for keysym 0x%lX", lower);
      return Planned::Skip;
    }
    if (lease.remap) {
      // A whole keycode while one is free: the character then types with no
      // modifier. Levels of their own only when the pool runs short.
      const int whole = levels ? pool_.FindWhole(now) : -1;
      if (whole >= 0) {
        lease.slot = whole;
        lease.part = 0;
      } else {
        int64_t readyAt = lease.readyAtUs;
        const unsigned kc = pool_.slot(lease.slot).keycode;
        if (levels && explicitType_[kc] != lendingType_) {
          // The key is given the lending type first, which rewrites all of it.
          readyAt = std::max(readyAt, pool_.slot(lease.slot).lastUseUs + kLentSettleUs +
                                          pool_.BacklogUs(now));
        }
        if (readyAt > now) {
          if (!plan_.empty())
            return Planned::Stop;
          // Every spare was used within the settle time: wait for the one
          // that settles first rather than risk a client misreading it.
          Flush();
          std::this_thread::sleep_for(std::chrono::microseconds(readyAt - now));
          now = MonotonicMicroseconds();
        }
      }
      if (!changed) {
        WaitForFocusToSettle();
        now = MonotonicMicroseconds();
        sent = now;
        changed = true;
      }
      if (!RequestLend(lease.slot, lease.part, lower, upper, false, whole >= 0, now))
        return Planned::Skip;
    }
    key.slot = lease.slot;
    key.keycode = pool_.slot(lease.slot).keycode;
    if (!levels) {
      // A lent letter has the alphabetic key type: caps lock gives the
      // capital, and Shift with caps lock gives the small letter again.
      if (upper) {
        const bool wantUpper = ks == upper;
        const bool capsOn = (index_.lockedMods() & LockMask) != 0;
        key.mods = wantUpper != capsOn ? ShiftMask : 0;
      }
    } else {
      // Of the levels that carry the keysym, the one read with the fewest
      // modifiers pressed, given the host's locked modifiers (caps lock, num
      // lock) as the key type treats them. Only that level is looked at, so
      // that the key event is counted on the level read.
      long best = -1;
      const SpareSlot &slot = pool_.slot(lease.slot);
      for (int p = 0; p < pool_.charParts(); ++p) {
        if (!((usable >> p) & 1) || slot.part[p].lower != ks)
          continue;
        std::vector<unsigned long> only(lending_.numLevels, 0);
        only[p] = ks;
        long m = ModsToRead(lending_, only, ks, index_.lockedMods(), levelMods_);
        if (m >= 0 && (best < 0 || __builtin_popcountl(m) < __builtin_popcountl(best))) {
          best = m;
          key.part = p;
        }
      }
      if (best < 0) {
        PlatformTrace("inject: no modifiers type keysym 0x%lX with locked modifiers 0x%X", ks,
                      index_.lockedMods());
        key.keycode = 0;
        return Planned::Skip;
      }
      key.mods = static_cast<unsigned>(best);
    }
    pool_.Reserve(key.slot, key.part); // no other lend of the batch takes it
    return Planned::Key;
  }

  // Presses and releases keycode inside the modifiers in mods.
  void Tap(unsigned keycode, unsigned mods) {
    bool shift = (mods & ShiftMask) && shiftKeycode_;
    bool level3 = level3Mask_ && (mods & level3Mask_) && level3Keycode_;
    bool level5 = level5Mask_ && (mods & level5Mask_) && level5Keycode_;
    if (shift)
      XTestFakeKeyEvent(dpy_, shiftKeycode_, True, CurrentTime);
    if (level3)
      XTestFakeKeyEvent(dpy_, level3Keycode_, True, CurrentTime);
    if (level5)
      XTestFakeKeyEvent(dpy_, level5Keycode_, True, CurrentTime);
    XTestFakeKeyEvent(dpy_, keycode, True, CurrentTime);
    XTestFakeKeyEvent(dpy_, keycode, False, CurrentTime);
    if ((shift && changesState_[shiftKeycode_]) || (level3 && changesState_[level3Keycode_]) ||
        (level5 && changesState_[level5Keycode_]))
      stateStale_ = true;
    if (level5)
      XTestFakeKeyEvent(dpy_, level5Keycode_, False, CurrentTime);
    if (level3)
      XTestFakeKeyEvent(dpy_, level3Keycode_, False, CurrentTime);
    if (shift)
      XTestFakeKeyEvent(dpy_, shiftKeycode_, False, CurrentTime);
    lastKeyUs_ = MonotonicMicroseconds();
    if (level5 && level5Keycode_ == lentLevel5Keycode_)
      lentLevel5UseUs_ = lastKeyUs_;
  }

  // Lends a spare keycode to a virtual key's keysym pair (upper 0: the
  // keysym alone), as an ordinary two-level key pressed without the level-3
  // modifier, and returns where it is; slot -1 when there is none to lend.
  SparePool::Lease LendForKey(unsigned long lower, unsigned long upper) {
    SparePool::Lease lease = pool_.Find(lower, upper, MonotonicMicroseconds(), true, 1u);
    if (lease.slot < 0) {
      PlatformTrace("inject: no spare keycode free for keysym 0x%lX", lower);
      return lease;
    }
    if (!lease.remap)
      return lease;
    int64_t wait = lease.readyAtUs - MonotonicMicroseconds();
    if (wait > 0) {
      // Every spare was used within the settle time: wait for the one that
      // settles first rather than risk a client misreading it.
      Flush();
      std::this_thread::sleep_for(std::chrono::microseconds(wait));
    }
    WaitForFocusToSettle();
    const int64_t sent = MonotonicMicroseconds();
    if (!RequestLend(lease.slot, lease.part, lower, upper, true, false, sent)) {
      lease.slot = -1;
      return lease;
    }
    XSync(dpy_, False);
    const int64_t synced = MonotonicMicroseconds();
    pool_.NoteChange(synced, kRoundTripCost * (synced - sent));
    WakeIdle();
    return lease;
  }

  // Requests the keymap change that lends the part (whole: every part) of
  // the slot to the keysym pair, and records it in the pool. The request
  // waits in Xlib's buffer: the caller completes it with a round trip before
  // a key goes to the keycode. False, with a trace line, when it cannot be
  // made.
  bool RequestLend(int slot, int part, unsigned long lower, unsigned long upper, bool keyLend,
                   bool whole, int64_t nowUs) {
    const unsigned kc = pool_.slot(slot).keycode;
    const bool onePart = keyLend || pool_.charParts() == 1;
    ++remaps_;
    if (onePart) {
      // An ordinary key: the server gives it the type its keysyms call for
      // (alphabetic for a letter pair), as for any key mapped this way.
      KeySym syms[2] = {static_cast<KeySym>(lower), static_cast<KeySym>(upper)};
      DropExplicitType(kc);
      XChangeKeyboardMapping(dpy_, static_cast<int>(kc), upper ? 2 : 1, syms, 1);
    } else {
      // A four- or eight-level key with the keysym on its level (or on all
      // of them) and the other levels kept as they are, so that a key event
      // typed on another level before the change reads the same under
      // either mapping.
      SpareSlot next = pool_.slot(slot);
      for (int p = 0; p < pool_.charParts(); ++p) {
        if (p == part || whole) {
          next.part[p].lower = lower;
          next.part[p].upper = 0;
        }
      }
      if (explicitType_[kc] != lendingType_)
        pool_.NoteChange(nowUs); // the type is set by a change of its own
      if (!SetLendingKey(kc, LevelSyms(next, pool_.charParts()))) {
        PlatformTrace("inject: keycode %u could not be given keysym 0x%lX", kc, lower);
        return false;
      }
    }
    pool_.Assign(slot, part, lower, onePart ? upper : 0, keyLend, nowUs, 0, whole);
    return true;
  }

  // Before a keymap change: waits, when the focus may be on a client that
  // is only starting to follow keymap changes (see FocusSettledAtUs), with
  // what was typed before sent.
  void WaitForFocusToSettle() {
    int64_t wait = FocusSettledAtUs() - MonotonicMicroseconds();
    if (wait > 0) {
      Flush();
      std::this_thread::sleep_for(std::chrono::microseconds(wait));
    }
  }

  // When a keymap change may be made without a client missing its notice.
  // An Xlib client reads the keymap, and only then asks to be told of
  // changes, when it translates its first key; a change the server makes
  // between the two is never announced to it, and the key lent by that
  // change reaches it as no key at all. So when a key went out within the
  // settle time and the focus is on a window not seen since (a new client,
  // perhaps, getting its first key), the change waits until that key has
  // settled. Any top-level window mapped or destroyed since counts as new
  // focus too: a new client may reuse the window id of one that went away.
  int64_t FocusSettledAtUs() {
    if (MonotonicMicroseconds() >= lastKeyUs_ + kLentSettleUs)
      return 0;
    Window focus = None;
    int revert = 0;
    XGetInputFocus(dpy_, &focus, &revert); // a round trip: window notices sent before it are in
    XEvent ev;
    while (XCheckIfEvent(dpy_, &ev, IsWindowNotice, nullptr))
      settledFocus_ = None;
    if (focus == settledFocus_)
      return 0;
    settledFocus_ = focus;
    return lastKeyUs_ + kLentSettleUs;
  }

  static Bool IsWindowNotice(Display *, XEvent *ev, XPointer) {
    return ev->type == MapNotify || ev->type == DestroyNotify;
  }

  // The keysyms of the first `levels` levels of a slot lent for characters.
  // An empty second level of a pair of levels repeats the first: given a
  // letter and NoSymbol, the server makes the two levels the letter's small
  // and capital forms (as the core keymap's rules say), and the first level
  // would no longer carry the keysym lent to it. NoSymbol otherwise.
  static std::vector<unsigned long> LevelSyms(const SpareSlot &s, int levels) {
    std::vector<unsigned long> syms;
    for (int p = 0; p < levels && p < SpareSlot::kParts; ++p)
      syms.push_back(s.part[p].lower);
    for (size_t level = 1; level < syms.size(); level += 2)
      if (!syms[level])
        syms[level] = syms[level - 1];
    return syms;
  }

  // Gives keycode one group of the lending type (four or eight levels) with
  // these keysyms, one per level. The type is set (and marked explicit, so
  // that the server keeps it) with an XKB request the first time; the
  // keysyms always go in a core request, as for a two-level lend, because
  // only a core change is announced to every client: one that has not yet
  // read its XKB keymap is not sent the XKB notice, and would translate the
  // key with the keymap it cached before.
  bool SetLendingKey(unsigned kc, const std::vector<unsigned long> &syms) {
    const size_t width = lending_.numLevels;
    if (!xkb_ || !xkb_->map || lendingType_ < 0 || kc < xkb_->min_key_code ||
        kc > xkb_->max_key_code || syms.size() != width || width < 4)
      return false;
    if (explicitType_[kc] != lendingType_) {
      if ((!xkb_->server || !xkb_->server->c_explicit) &&
          XkbAllocServerMap(xkb_, XkbExplicitComponentsMask, 0) != Success)
        return false;
      KeySym *out = XkbResizeKeySyms(xkb_, static_cast<int>(kc), static_cast<int>(width));
      if (!out)
        return false;
      XkbSymMapRec &map = xkb_->map->key_sym_map[kc];
      map.kt_index[0] = static_cast<unsigned char>(lendingType_);
      map.group_info = XkbSetNumGroups(0, 1);
      map.width = static_cast<unsigned char>(width);
      for (size_t i = 0; i < width; ++i)
        out[i] = NoSymbol;
      xkb_->server->c_explicit[kc] = XkbExplicitKeyType1Mask;
      XkbMapChangesRec changes{};
      changes.changed = XkbKeySymsMask | XkbExplicitComponentsMask;
      changes.first_key_sym = changes.first_key_explicit = static_cast<KeyCode>(kc);
      changes.num_key_syms = changes.num_key_explicit = 1;
      if (!XkbChangeMap(dpy_, xkb_, &changes))
        return false;
      explicitType_[kc] = lendingType_;
    }
    // Core order: group 1 levels 1-2, group 2 levels 1-2 (none), then group
    // 1 levels 3 and up (the server reads as many as the key's explicit
    // type has levels).
    std::vector<KeySym> core = {syms[0], syms[1], NoSymbol, NoSymbol};
    core.insert(core.end(), syms.begin() + 2, syms.end());
    XChangeKeyboardMapping(dpy_, static_cast<int>(kc), static_cast<int>(core.size()), core.data(),
                           1);
    return true;
  }

  // Clears the explicit type of a keycode lent as a four- or eight-level
  // key, so that the core request that empties it gives it no group at all,
  // as before.
  void DropExplicitType(unsigned kc) {
    if (explicitType_[kc] < 0)
      return;
    explicitType_[kc] = -1;
    ClearExplicit(kc);
  }

  // Lets the server choose kc's type and action again from its keysyms:
  // nothing fixed on it any more.
  void ClearExplicit(unsigned kc) {
    if (!xkb_ || !xkb_->server || !xkb_->server->c_explicit || kc < xkb_->min_key_code ||
        kc > xkb_->max_key_code)
      return;
    xkb_->server->c_explicit[kc] = 0;
    XkbMapChangesRec changes{};
    changes.changed = XkbExplicitComponentsMask;
    changes.first_key_explicit = static_cast<KeyCode>(kc);
    changes.num_key_explicit = 1;
    XkbChangeMap(dpy_, xkb_, &changes);
  }

  // Reads the keymap change notices that came in; reloads the keymap when a
  // change touched more than our own lent keycodes, and the index when the
  // lock state or group changed.
  void Refresh() {
    while (NoticesWaiting()) {
      XEvent ev;
      XNextEvent(dpy_, &ev);
      if (IsWindowNotice(dpy_, &ev, nullptr)) {
        settledFocus_ = None;
      } else if (ev.type == MappingNotify) {
        XRefreshKeyboardMapping(&ev.xmapping);
        if (ev.xmapping.request != MappingKeyboard ||
            !OnlySpares(ev.xmapping.first_keycode, ev.xmapping.count))
          keymapDirty_ = true;
      } else if (ev.type == xkbEvent_) {
        auto *xkb = reinterpret_cast<XkbEvent *>(&ev);
        if (xkb->any.xkb_type == XkbStateNotify) {
          // Each notice carries the whole state after its change: the last
          // one read is the state now, as far as the server has told.
          group_ = static_cast<unsigned>(xkb->state.group);
          locked_ = xkb->state.locked_mods;
        } else if (xkb->any.xkb_type == XkbNewKeyboardNotify) {
          keymapDirty_ = true;
          stateStale_ = true;
          levelFiveFailed_ = false; // a new keymap may take a level-5 key
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
    if (stateStale_) {
      // A key of ours that may lock a modifier or move the group went out
      // since the state was last known: its notice may not be here yet, so
      // the server is asked (a round trip, for such keys only). Notices
      // sent before the answer were read on the way and are older.
      XkbStateRec state;
      if (XkbGetState(dpy_, XkbUseCoreKbd, &state) != Success)
        return;
      group_ = state.group;
      locked_ = state.locked_mods;
      stateStale_ = false;
    }
    if (!indexValid_ || locked_ != index_.lockedMods() || group_ != index_.group()) {
      index_.Build(dpy_, group_, locked_, level3Mask_,
                   [this](unsigned kc) { return pool_.IsSpare(kc); });
      indexValid_ = true;
    }
  }

  // Whether notices wait to be read: those Xlib has read already, or any
  // waiting on the connection, looked for with one poll of it, cheaper
  // than Xlib's read attempts.
  bool NoticesWaiting() {
    if (XEventsQueued(dpy_, QueuedAlready) > 0)
      return true;
    pollfd p{ConnectionNumber(dpy_), POLLIN, 0};
    if (poll(&p, 1, 0) <= 0)
      return false;
    return XPending(dpy_) > 0;
  }

  bool OnlySpares(int first, int count) {
    for (int kc = first; kc < first + count; ++kc)
      if (!pool_.IsSpare(static_cast<unsigned>(kc)))
        return false;
    return true;
  }

  // Rereads the keymap: the spare keycodes (no keysym at all, or ours still
  // carrying what we lent them), the Shift, level-3 and level-5 keys, and
  // how many levels lent keycodes can carry.
  void ReloadKeymap() {
    keymapDirty_ = false;
    indexValid_ = false;
    if (xkb_)
      XkbFreeKeyboard(xkb_, 0, True);
    xkb_ = XkbGetMap(dpy_,
                     XkbKeyTypesMask | XkbKeySymsMask | XkbKeyActionsMask |
                         XkbExplicitComponentsMask | XkbModifierMapMask | XkbVirtualModsMask,
                     XkbUseCoreKbd);
    FindStateKeys();
    if (xkb_ && XkbGetNames(dpy_, XkbKeyTypeNamesMask | XkbVirtualModNamesMask, xkb_) != Success)
      PlatformTrace("inject: key type names not available");
    if (lentLevel5Keycode_ && !ShowsLevelFiveKey(lentLevel5Keycode_, lentLevel5Mod_)) {
      // Changed by someone else (a new keymap, say): no longer ours to give back.
      PlatformTrace("inject: the level-5 key on keycode %u was changed elsewhere",
                    lentLevel5Keycode_);
      lentLevel5Keycode_ = 0;
    }
    std::vector<unsigned> spares;
    for (int kc = xkb_ ? xkb_->min_key_code : 1; xkb_ && kc <= xkb_->max_key_code; ++kc) {
      bool empty = true;
      KeySym *syms = XkbKeySymsPtr(xkb_, kc);
      for (int i = 0; i < XkbKeyNumSyms(xkb_, kc); ++i)
        empty &= syms[i] == NoSymbol;
      int slot = pool_.IndexOfKeycode(static_cast<unsigned>(kc));
      bool ours = slot >= 0 && pool_.slot(slot).lent() && ShowsLent(pool_.slot(slot));
      if ((empty || ours) && static_cast<unsigned>(kc) != lentLevel5Keycode_)
        spares.push_back(static_cast<unsigned>(kc));
    }
    pool_.SetKeycodes(spares, [&](unsigned kc, int part, unsigned long lower, unsigned long) {
      return LevelSym(kc, part) == lower;
    });
    shiftKeycode_ = XKeysymToKeycode(dpy_, XK_Shift_L);
    if (!shiftKeycode_)
      shiftKeycode_ = XKeysymToKeycode(dpy_, XK_Shift_R);
    level3Keycode_ = XKeysymToKeycode(dpy_, XK_ISO_Level3_Shift);
    level3Mask_ = level3Keycode_ ? XkbKeysymToModifiers(dpy_, XK_ISO_Level3_Shift) : 0;
    if (!level3Mask_)
      level3Keycode_ = 0;
    FindLevelFive();
    const int partsBefore = pool_.charParts();
    FindLendingType();
    levelFivePossible_ = false;
    if (!level5Keycode_ && !lentLevel5Keycode_ && numLockMask_ && fourLevelType_ >= 0) {
      LevelType lt;
      levelFivePossible_ = FindType(kEightLevelTypes, 8, LevelMods(numLockMask_), &lt) >= 0;
    }
    if (pool_.charParts() != partsBefore || !traced_) {
      PlatformTrace("inject: lent keycodes carry %d level(s)%s", pool_.charParts(),
                    levelFivePossible_ ? ", eight once a level-5 key is lent" : "");
      traced_ = true;
    }
    // Which keycodes still have a lending type fixed: a new keymap from
    // elsewhere drops that, and the next lend must set it again.
    for (unsigned kc = 0; kc < 256; ++kc) {
      bool inRange = xkb_ && xkb_->server && xkb_->server->c_explicit &&
                     kc >= xkb_->min_key_code && kc <= xkb_->max_key_code;
      int type = inRange && (xkb_->server->c_explicit[kc] & XkbExplicitKeyType1Mask) &&
                         XkbKeyNumGroups(xkb_, kc) > 0
                     ? XkbKeyKeyTypeIndex(xkb_, kc, 0)
                     : -1;
      bool lending = type >= 0 && (type == fourLevelType_ || type == eightLevelType_);
      explicitType_[kc] = lending ? type : -1;
    }
  }

  KeySym LevelSym(unsigned kc, int level) const { return KeymapLevelSym(xkb_, kc, level); }

  bool ShowsLent(const SpareSlot &s) const {
    for (int p = 0; p < SpareSlot::kParts; ++p)
      if (s.part[p].lower && LevelSym(s.keycode, p) != s.part[p].lower)
        return false;
    return true;
  }

  // Picks the key type for keycodes lent several keysyms: one of the
  // keymap's eight-level types where the keymap has a level-5 key, else one
  // of its four-level alphabetic types, each used only when it provably
  // reads every level with the Shift, level-3 and level-5 keys we can press,
  // whatever the locked modifiers. Without one, lent keycodes carry one
  // pair, as ordinary keys.
  void FindLendingType() {
    const std::vector<unsigned> four = LevelMods(0), eight = LevelMods(level5Mask_);
    fourLevelType_ = eightLevelType_ = -1;
    usableValid_ = false;
    if (xkb_ && xkb_->map && level3Mask_ && level3Keycode_ && shiftKeycode_) {
      fourLevelType_ = FindType(kFourLevelTypes, 4, four, &fourLevel_);
      if (level5Mask_ && level5Keycode_)
        eightLevelType_ = FindType(kEightLevelTypes, 8, eight, &eightLevel_);
    }
    if (eightLevelType_ >= 0) {
      lendingType_ = eightLevelType_;
      lending_ = eightLevel_;
      levelMods_ = eight;
    } else {
      lendingType_ = fourLevelType_;
      lending_ = fourLevel_;
      levelMods_ = four;
    }
    pool_.SetCharParts(lendingType_ >= 0 ? static_cast<int>(lending_.numLevels) : 1);
  }

  // The modifier combinations pressed to reach the levels of a lent key:
  // none, Shift, level 3 and both; with level5 (0: none), each of them with
  // it too. Fewer modifiers first.
  std::vector<unsigned> LevelMods(unsigned level5) const {
    std::vector<unsigned> mods = {0u, ShiftMask, level3Mask_, level3Mask_ | ShiftMask};
    for (size_t i = 0; level5 && i < 4; ++i)
      mods.push_back(mods[i] | level5);
    return mods;
  }

  // The first of the named types with `levels` levels that serves lending
  // with the modifier combinations `mods` (its index, -1 for none); the
  // modifiers we press ourselves are never locked.
  int FindType(std::initializer_list<const char *> names, unsigned levels,
               const std::vector<unsigned> &mods, LevelType *found) const {
    const unsigned pressed = ShiftMask | level3Mask_ | (levelFiveOwn_ ? level5Mask_ : 0);
    return FindLendingKeyType(dpy_, xkb_, names, levels, mods, pressed, found);
  }

  // The parts of lent character keys readable under the host's locked
  // modifiers of the moment (bit p: part p).
  unsigned UsableParts() {
    const unsigned locked = index_.lockedMods();
    if (!usableValid_ || usableFor_ != locked) {
      usableParts_ = pool_.charParts() > 1 ? ReadableLevels(lending_, levelMods_, locked) : 1u;
      usableFor_ = locked;
      usableValid_ = true;
    }
    return usableParts_;
  }

  unsigned ModsSetBy(unsigned kc) const { return ModsSetByKey(xkb_, kc); }
  unsigned VirtualModifier(const char *name) const {
    return VirtualModifierMask(dpy_, xkb_, name);
  }
  // Whether kc is still the level-5 key we lent (see IsBareModifierKey).
  bool ShowsLevelFiveKey(unsigned kc, unsigned mods) const {
    return IsBareModifierKey(xkb_, kc, mods);
  }

  // Finds the modifier that reaches levels 5-8 and a key we can press for
  // it: the keymap's own level-5 key (ISO_Level5_Shift, setting what the
  // virtual modifier LevelFive stands for), else the key we lent for it,
  // which sets what NumLock stands for (the keymap's eight-level types with
  // a level-5 lock read levels 5-8 under num lock).
  void FindLevelFive() {
    level5Keycode_ = level5Mask_ = 0;
    levelFiveOwn_ = false;
    if (!xkb_)
      return;
    const unsigned bound = VirtualModifier("LevelFive");
    const unsigned taken = ShiftMask | LockMask | level3Mask_;
    numLockMask_ = VirtualModifier("NumLock");
    if (numLockMask_ & taken)
      numLockMask_ = 0;
    for (int kc = xkb_->min_key_code; bound && !(bound & taken) && kc <= xkb_->max_key_code; ++kc) {
      unsigned kcu = static_cast<unsigned>(kc);
      if (LevelSym(kcu, 0) == XK_ISO_Level5_Shift && (ModsSetBy(kcu) & bound) == bound) {
        level5Keycode_ = kcu;
        level5Mask_ = bound;
        levelFiveOwn_ = true;
        return;
      }
    }
    if (lentLevel5Keycode_ && !(lentLevel5Mod_ & taken)) {
      level5Keycode_ = lentLevel5Keycode_;
      level5Mask_ = lentLevel5Mod_;
    }
  }

  // Whether a level-5 key may be lent before the next batch (it is, when the
  // batch has more characters to lend than there are spare keycodes): lent
  // keycodes carry four levels now, the keymap has an eight-level type that
  // reads levels 5-8 with the num lock modifier (see ReloadKeymap), nothing
  // is lent yet (so that every lent keycode takes the eight-level type from
  // the start), and the host's num lock is off (with it on, those types read
  // levels 5-8 only: four levels a keycode, one keycode fewer).
  bool LevelFiveLendable() const {
    if (!levelFivePossible_ || levelFiveFailed_ || pool_.charParts() != 4 || pool_.size() < 2 ||
        (index_.lockedMods() & numLockMask_))
      return false;
    for (size_t i = 0; i < pool_.size(); ++i)
      if (pool_.slot(static_cast<int>(i)).lent())
        return false;
    return true;
  }

  // Lends a spare keycode as a key that sets the num lock modifier while
  // held (no keysym, so that no client takes its press for anything; the
  // action fixed, so that the server keeps it). The keymap's types are left
  // as they are: every client already has them, and an Xlib client reads
  // key types only once, so a type that changed under it (a virtual
  // modifier bound afresh, say) would go on being read the old way. The
  // keymap is read back; unless it now has the key and an eight-level type
  // that serves lending, the key is given back and lent keycodes keep four
  // levels.
  void LendLevelFive() {
    WaitForFocusToSettle(); // as for a lend
    const unsigned kc = pool_.slot(static_cast<int>(pool_.size()) - 1).keycode;
    const unsigned mods = numLockMask_;
    bool sent = false;
    if (xkb_ && xkb_->map && xkb_->server &&
        (xkb_->server->c_explicit ||
         XkbAllocServerMap(xkb_, XkbExplicitComponentsMask, 0) == Success)) {
      KeySym *syms = XkbResizeKeySyms(xkb_, static_cast<int>(kc), 1);
      XkbAction *acts = syms ? XkbResizeKeyActions(xkb_, static_cast<int>(kc), 1) : nullptr;
      if (acts) {
        XkbSymMapRec &map = xkb_->map->key_sym_map[kc];
        map.kt_index[0] = XkbOneLevelIndex;
        map.group_info = XkbSetNumGroups(0, 1);
        map.width = 1;
        syms = XkbKeySymsPtr(xkb_, kc);
        syms[0] = NoSymbol;
        acts[0] = XkbAction{};
        acts[0].mods.type = XkbSA_SetMods;
        acts[0].mods.mask = acts[0].mods.real_mods = static_cast<unsigned char>(mods);
        xkb_->server->c_explicit[kc] = XkbExplicitInterpretMask | XkbExplicitKeyType1Mask;
        // The group first, then the action: the server refuses both in one
        // request for a key that had no group.
        XkbMapChangesRec changes{};
        changes.changed = XkbKeySymsMask | XkbExplicitComponentsMask;
        changes.first_key_sym = changes.first_key_explicit = static_cast<KeyCode>(kc);
        changes.num_key_syms = changes.num_key_explicit = 1;
        sent = XkbChangeMap(dpy_, xkb_, &changes);
        changes.changed = XkbKeyActionsMask | XkbExplicitComponentsMask;
        changes.first_key_act = static_cast<KeyCode>(kc);
        changes.num_key_acts = 1;
        sent = sent && XkbChangeMap(dpy_, xkb_, &changes);
      }
    }
    remaps_ += 2;
    pool_.NoteChange(MonotonicMicroseconds());
    pool_.NoteChange(MonotonicMicroseconds());
    lentLevel5Keycode_ = kc;
    lentLevel5Mod_ = mods;
    XSync(dpy_, False);
    ReloadKeymap();
    if (sent && level5Keycode_ == kc && pool_.charParts() == 8) {
      PlatformTrace("inject: level-5 key lent on keycode %u (modifiers 0x%X): lent keycodes carry "
                    "eight levels",
                    kc, mods);
      return;
    }
    PlatformTrace("inject: a level-5 key on keycode %u did not give eight readable levels: lent "
                  "keycodes carry four levels",
                  kc);
    levelFiveFailed_ = true;
    lentLevel5Keycode_ = kc; // given back even where the read-back no longer shows it as ours
    RestoreLevelFive();
    ReloadKeymap();
  }

  // Gives the lent level-5 key back: its action no longer fixed, and its
  // keysyms emptied by a core request as any lent keycode's, which leaves it
  // with no group and no action, as before.
  void RestoreLevelFive() {
    if (!lentLevel5Keycode_)
      return;
    const unsigned kc = lentLevel5Keycode_;
    ClearExplicit(kc);
    KeySym none = NoSymbol;
    XChangeKeyboardMapping(dpy_, static_cast<int>(kc), 1, &none, 1);
    XSync(dpy_, False);
    lentLevel5Keycode_ = 0;
    keymapDirty_ = true;
  }

  // Gives every lent keycode back, once the last key typed on any of them
  // has settled.
  void RestoreLent() {
    int64_t lastUse = INT64_MIN / 2;
    bool any = lentLevel5Keycode_ != 0;
    if (any)
      lastUse = lentLevel5UseUs_;
    for (size_t i = 0; i < pool_.size(); ++i) {
      if (pool_.slot(static_cast<int>(i)).lent()) {
        any = true;
        lastUse = std::max(lastUse, pool_.slot(static_cast<int>(i)).lastUseUs);
      }
    }
    if (!any)
      return;
    int64_t now = MonotonicMicroseconds();
    int64_t wait = lastUse + kLentSettleUs + pool_.BacklogUs(now) - now;
    Flush();
    if (wait > 0)
      std::this_thread::sleep_for(std::chrono::microseconds(wait));
    for (size_t i = 0; i < pool_.size(); ++i) {
      const SpareSlot &s = pool_.slot(static_cast<int>(i));
      if (!s.lent())
        continue;
      DropExplicitType(s.keycode);
      KeySym none = NoSymbol;
      XChangeKeyboardMapping(dpy_, static_cast<int>(s.keycode), 1, &none, 1);
    }
    pool_.ClearAll();
    XSync(dpy_, False);
    RestoreLevelFive();
  }

  void FindStateKeys() { FindStateChangingKeys(xkb_, changesState_); }

  // A key event on kc went out: when it may change the group or the locked
  // modifiers, the next key asks the server for the state.
  void NoteStateKey(unsigned kc) {
    if (kc < 256 && changesState_[kc])
      stateStale_ = true;
  }

  // When the idle thread is to give the lent keycodes back: two seconds
  // after the last typing, once no lent key is held; INT64_MAX when nothing
  // is lent or a lent key is held (a release wakes the thread).
  int64_t GiveBackDueUs() const {
    bool pinned = false, lent = lentLevel5Keycode_ != 0;
    for (size_t i = 0; i < pool_.size(); ++i) {
      pinned |= pool_.slot(static_cast<int>(i)).pins > 0;
      lent |= pool_.slot(static_cast<int>(i)).lent();
    }
    return lent && !pinned ? lastActivityUs_ + kIdleRestoreUs : INT64_MAX;
  }

  // With the lock held: wakes the idle thread when it sleeps without a
  // deadline, so that it sets one. While it sleeps towards a deadline,
  // typing only moves the deadline later, which the thread finds when it
  // wakes: no wake-up per key.
  void WakeIdle() {
    if (idleUnbounded_) {
      idleUnbounded_ = false;
      cv_.notify_all();
    }
  }

  // Sleeps until lent keycodes are due to be given back, or for good while
  // nothing is lent: nothing polls while nothing happens.
  void IdleLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
      int64_t due = GiveBackDueUs();
      if (due == INT64_MAX) {
        idleUnbounded_ = true;
        cv_.wait(lock);
        idleUnbounded_ = false;
        continue;
      }
      int64_t left = due - MonotonicMicroseconds();
      if (left > 0) {
        cv_.wait_for(lock, std::chrono::microseconds(left));
        continue;
      }
      RestoreLent();
      // Our own change notices are read (and ignored) on the next call.
    }
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::thread idle_;
  bool stop_ = false;
  bool idleUnbounded_ = false; // the idle thread sleeps with no deadline
  int64_t lastActivityUs_ = 0;
  int64_t lastKeyUs_ = INT64_MIN / 2; // when a key was last pressed or tapped
  Window settledFocus_ = None;        // a focus known to follow keymap changes

  Display *dpy_ = nullptr;
  int xkbEvent_ = 0;
  bool keymapDirty_ = true;
  bool indexValid_ = false;
  // The keyboard state as the server's notices tell it (see Refresh).
  unsigned group_ = 0, locked_ = 0;
  bool stateStale_ = true;
  bool changesState_[256] = {}; // keycodes whose actions change the state
  KeymapIndex index_;
  SparePool pool_{kLentSettleUs, kChangeCostUs};
  XkbDescPtr xkb_ = nullptr; // our copy of the keymap: types and keysyms
  // The types for keycodes lent four and eight keysyms (indexes, -1: none),
  // and the one lending uses, with the modifier combinations that reach its
  // levels.
  int fourLevelType_ = -1, eightLevelType_ = -1, lendingType_ = -1;
  LevelType fourLevel_, eightLevel_, lending_;
  std::vector<unsigned> levelMods_;
  int explicitType_[256] = {}; // the lending type we made explicit on a keycode (-1: none)
  unsigned shiftKeycode_ = 0, level3Keycode_ = 0, level3Mask_ = 0;
  // The key and modifiers that reach levels 5-8 (the keymap's own level-5
  // key, or the one we lent), and whether they are the keymap's own.
  unsigned level5Keycode_ = 0, level5Mask_ = 0;
  bool levelFiveOwn_ = false;
  unsigned numLockMask_ = 0;       // what the virtual modifier NumLock stands for
  bool levelFivePossible_ = false; // a level-5 key we lend would give eight levels
  bool levelFiveFailed_ = false;   // lending a level-5 key failed on this keymap
  bool traced_ = false;            // the number of levels was traced once
  // The levels of the lending type readable under the locked modifiers
  // usableFor_ (bit p: part p), worked out when the locked modifiers change.
  unsigned usableParts_ = 0, usableFor_ = 0;
  bool usableValid_ = false;
  // The level-5 key we lent (0: none), the modifiers it sets, and when it
  // was last pressed.
  unsigned lentLevel5Keycode_ = 0, lentLevel5Mod_ = 0;
  int64_t lentLevel5UseUs_ = INT64_MIN / 2;
  Held held_[256];
  std::vector<uint32_t> queued_;  // characters typed, not yet sent (see kMaxQueued)
  std::vector<PlannedKey> plan_; // the batch being sent (reused)
  unsigned long remaps_ = 0; // keymap changes that lent a keycode, traced at close
  // A key press waits unflushed for its release, or characters wait in the
  // queue (read without the lock by SendHeldBack; set and cleared by the
  // injecting thread under it).
  std::atomic<bool> pressHeldBack_{false};
};

} // namespace

const InjectOps *XTestInjectOpen(const char *displayName, std::string *why) {
  auto *kbd = new XTestKeyboard;
  std::string reason;
  if (!kbd->Open(displayName, reason)) {
    delete kbd;
    if (why)
      *why = reason;
    return nullptr;
  }
  MakeKeySinkOps(kbd->ops, "xtest", kbd);
  KeepBackend(kbd);
  return &kbd->ops;
}
