// Spare keycode bookkeeping (see spare_pool.h).
#include "platform/xtest/spare_pool.h"

SparePool::Lease SparePool::Find(unsigned long lower, unsigned long upper, int64_t nowUs,
                                 bool keyLend, unsigned usable) const {
  Lease lease;
  if (lower == 0)
    return lease;
  const int parts = keyLend ? 1 : charParts_;
  for (size_t i = 0; i < slots_.size(); ++i) {
    const SpareSlot &s = slots_[i];
    // A pair lent for a virtual key is on a two-level key, one lent for a
    // character on a key of the lending type: they act differently under
    // caps lock, so each kind is only found by its own.
    if (s.keyLend != keyLend)
      continue;
    for (int p = 0; p < parts; ++p) {
      if (((usable >> p) & 1) && s.part[p].lower == lower && s.part[p].upper == upper) {
        lease.slot = static_cast<int>(i);
        lease.part = p;
        return lease;
      }
    }
  }
  // Candidates: every part that may take the keysyms, of a slot not held
  // down. Ready parts come first, and among them the one used longest ago;
  // when none is ready, the one that is ready first. A part settles on its
  // own only on a character key of four or eight levels that stays one; any
  // other change rewrites the key and waits for the whole keycode, and is
  // ranked by the keycode's last use (everything it carries goes).
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
  const int64_t settle = settleUs_ + BacklogUs(nowUs);
  for (size_t i = 0; i < slots_.size(); ++i) {
    const SpareSlot &s = slots_[i];
    if (s.pins > 0)
      continue;
    bool perPart = !keyLend && charParts_ > 1 && s.lent() && !s.keyLend;
    for (int p = 0; p < parts; ++p) {
      if (!((usable >> p) & 1))
        continue;
      int64_t lastUse = perPart ? s.part[p].lastUseUs : s.lastUseUs;
      bool ready = lastUse + settle <= nowUs;
      Rank r = ready ? Rank{false, lastUse, 0} : Rank{true, lastUse, s.part[p].lastUseUs};
      if (lease.slot >= 0 && !(r < best))
        continue;
      lease.slot = static_cast<int>(i);
      lease.part = p;
      lease.readyAtUs = lastUse + settle; // the backlog drains meanwhile: on the safe side
      best = r;
    }
  }
  if (lease.slot >= 0)
    lease.remap = true;
  return lease;
}

int SparePool::FindWhole(int64_t nowUs) const {
  const int64_t settle = settleUs_ + BacklogUs(nowUs);
  int best = -1;
  for (size_t i = 0; i < slots_.size(); ++i) {
    const SpareSlot &s = slots_[i];
    if (s.pins > 0 || s.lastUseUs + settle > nowUs)
      continue;
    // A keycode whose levels carry several keysyms is not taken whole: that
    // would drop them all, each to be lent again when next typed.
    unsigned long carried = 0;
    bool several = false;
    for (const SparePart &p : s.part) {
      if (p.lower == 0)
        continue;
      several |= carried != 0 && p.lower != carried;
      carried = p.lower;
    }
    if (several)
      continue;
    if (best < 0 || s.lastUseUs < slots_[best].lastUseUs)
      best = static_cast<int>(i);
  }
  return best;
}

void SparePool::Assign(int slot, int part, unsigned long lower, unsigned long upper, bool keyLend,
                       int64_t nowUs, int64_t extraCostUs, bool whole) {
  NoteChange(nowUs, extraCostUs);
  SpareSlot &s = slots_[slot];
  if (keyLend || s.keyLend) {
    // A two-level key, or switching away from one, rewrites the whole key.
    for (SparePart &p : s.part)
      p.lower = p.upper = 0;
  }
  for (int p = charParts_; !keyLend && p < SpareSlot::kParts; ++p)
    s.part[p].lower = s.part[p].upper = 0;
  s.keyLend = keyLend;
  s.part[part].lower = lower;
  s.part[part].upper = upper;
  for (int p = 0; whole && !keyLend && p < charParts_; ++p) {
    s.part[p].lower = lower;
    s.part[p].upper = upper;
  }
}

void SparePool::ClearAll() {
  for (SpareSlot &s : slots_) {
    for (SparePart &p : s.part)
      p.lower = p.upper = 0;
    s.keyLend = false;
  }
}

int SparePool::IndexOfKeycode(unsigned keycode) const {
  for (size_t i = 0; i < slots_.size(); ++i)
    if (slots_[i].keycode == keycode)
      return static_cast<int>(i);
  return -1;
}
