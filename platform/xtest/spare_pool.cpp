// Spare keycode bookkeeping (see spare_pool.h).
#include "platform/xtest/spare_pool.h"

SparePool::Lease SparePool::Find(unsigned long lower, unsigned long upper, int64_t nowUs,
                                 bool keyLend) const {
  Lease lease;
  if (lower == 0)
    return lease;
  for (size_t i = 0; i < slots_.size(); ++i) {
    const SpareSlot &s = slots_[i];
    // A pair lent for a virtual key is on a two-level key, one lent for a
    // character on a key of the lending type: they act differently under
    // caps lock, so each kind is only found by its own.
    if (s.keyLend != keyLend)
      continue;
    for (int h = 0; h < (keyLend ? 1 : halves_); ++h) {
      if (s.half[h].lower == lower && s.half[h].upper == upper) {
        lease.slot = static_cast<int>(i);
        lease.half = h;
        return lease;
      }
    }
  }
  // Candidates: every half that may take the pair, of a slot not held down.
  // Settled slots come first, and among them the half used longest ago (an
  // empty half has not been used at all); when none has settled, the slot
  // that settles first, and its half used longest ago. Even an empty half
  // waits for its keycode to settle: any change to a keycode does.
  struct Rank {
    bool notReady;
    int64_t primary, secondary;
    bool operator<(const Rank &o) const {
      if (notReady != o.notReady)
        return !notReady;
      if (primary != o.primary)
        return primary < o.primary;
      return secondary < o.secondary;
    }
  };
  Rank best{};
  for (size_t i = 0; i < slots_.size(); ++i) {
    const SpareSlot &s = slots_[i];
    if (s.pins > 0)
      continue;
    bool ready = s.lastUseUs + settleUs_ <= nowUs;
    int nHalves = keyLend || s.keyLend ? 1 : halves_;
    for (int h = 0; h < nHalves; ++h) {
      Rank r = ready ? Rank{false, s.half[h].lastUseUs, 0}
                     : Rank{true, s.lastUseUs, s.half[h].lastUseUs};
      if (lease.slot >= 0 && !(r < best))
        continue;
      lease.slot = static_cast<int>(i);
      lease.half = h;
      best = r;
    }
  }
  if (lease.slot >= 0) {
    lease.remap = true;
    lease.readyAtUs = slots_[lease.slot].lastUseUs + settleUs_;
  }
  return lease;
}

void SparePool::Assign(int slot, int half, unsigned long lower, unsigned long upper, bool keyLend) {
  SpareSlot &s = slots_[slot];
  if (keyLend || s.keyLend) {
    // Switching between the two kinds rewrites the whole key.
    s.half[1].lower = s.half[1].upper = 0;
    if (half != 0)
      s.half[0].lower = s.half[0].upper = 0;
  }
  s.keyLend = keyLend;
  s.half[half].lower = lower;
  s.half[half].upper = upper;
}

void SparePool::ClearAll() {
  for (SpareSlot &s : slots_) {
    for (SpareHalf &h : s.half)
      h.lower = h.upper = 0;
    s.keyLend = false;
  }
}

int SparePool::IndexOfKeycode(unsigned keycode) const {
  for (size_t i = 0; i < slots_.size(); ++i)
    if (slots_[i].keycode == keycode)
      return static_cast<int>(i);
  return -1;
}
