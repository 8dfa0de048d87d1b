// The spare keycodes lent to characters (and keys) the host's keymap lacks.
//
// X clients learn of a keymap change only when they get round to reading the
// change notice; a key event on a keycode whose mapping changed again before
// the client translated it comes out as the wrong character. So a keycode is
// never remapped until it has been left unused for the settle time, keycodes
// are taken least recently used first, and a keysym pair already lent stays
// lent (typing it again needs no change at all).
//
// Where the keymap has a level-3 key, a keycode carries two pairs: one at
// levels 1-2 (half 0) and one at levels 3-4 (half 1), reached with the
// level-3 modifier. The settle time still counts per keycode: replacing
// either half waits until no key event went to the keycode, on any level,
// for the settle time.
//
// Pure bookkeeping: the caller does the X requests and passes the time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct SpareHalf {
  unsigned long lower = 0; // keysym at the first level of the half (0: nothing lent)
  unsigned long upper = 0; // keysym at the second level (0: the same keysym on both)
  int64_t lastUseUs = INT64_MIN / 2;
};

struct SpareSlot {
  unsigned keycode = 0;
  SpareHalf half[2];
  // Lent to a virtual key: an ordinary two-level key, half 1 unused.
  bool keyLend = false;
  int64_t lastUseUs = INT64_MIN / 2; // when a key event last went to it, any level
  int pins = 0;                      // presses not yet released
  bool lent() const { return half[0].lower != 0 || half[1].lower != 0; }
};

class SparePool {
public:
  explicit SparePool(int64_t settleUs) : settleUs_(settleUs) {}

  // 2: keycodes carry a pair on each half; 1: on half 0 only. Pairs already
  // on half 1 stay recorded (so that they are restored) but are not used.
  void SetHalves(int halves) { halves_ = halves == 2 ? 2 : 1; }
  int halves() const { return halves_; }

  // Replaces the set of spare keycodes. Slots of keycodes still listed keep
  // what they carry and their last use; keepLent(keycode, half, lower, upper)
  // says whether the keymap still shows the lent pair (else it is dropped).
  template <typename KeepLent> void SetKeycodes(const std::vector<unsigned> &keycodes, KeepLent keepLent) {
    std::vector<SpareSlot> next;
    for (unsigned kc : keycodes) {
      SpareSlot slot;
      slot.keycode = kc;
      for (const SpareSlot &old : slots_) {
        if (old.keycode != kc)
          continue;
        slot = old;
        for (int h = 0; h < 2; ++h) {
          SpareHalf &half = slot.half[h];
          if (half.lower && !keepLent(kc, h, half.lower, half.upper))
            half.lower = half.upper = 0;
        }
        if (!slot.lent())
          slot.keyLend = false;
      }
      next.push_back(slot);
    }
    slots_ = std::move(next);
  }

  struct Lease {
    int slot = -1;         // -1: every slot is held down
    int half = 0;          // which pair of the slot
    bool remap = false;    // the slot must be given the pair first
    int64_t readyAtUs = 0; // remapping is safe from this time on
  };
  // The slot and half for the keysym pair (upper 0: one keysym): the one that
  // carries it already, else a half of a slot not held down. Among slots
  // settled by nowUs, the half used longest ago is taken (keeping the pairs
  // in use); when none has settled, the slot that settles first. keyLend:
  // for a virtual key, which needs half 0 of a two-level key.
  Lease Find(unsigned long lower, unsigned long upper, int64_t nowUs, bool keyLend) const;

  // Records the pair on the half. A key lend makes the slot a two-level key
  // (its half 1 is dropped with the remap); a character lend undoes that.
  void Assign(int slot, int half, unsigned long lower, unsigned long upper, bool keyLend);
  void Use(int slot, int half, int64_t nowUs) {
    slots_[slot].lastUseUs = nowUs;
    slots_[slot].half[half].lastUseUs = nowUs;
  }
  void Pin(int slot) { ++slots_[slot].pins; }
  void Unpin(int slot) {
    if (slots_[slot].pins > 0)
      --slots_[slot].pins;
  }
  // Empties every slot (after the caller restored their keycodes).
  void ClearAll();

  int IndexOfKeycode(unsigned keycode) const;
  bool IsSpare(unsigned keycode) const { return IndexOfKeycode(keycode) >= 0; }
  size_t size() const { return slots_.size(); }
  const SpareSlot &slot(int i) const { return slots_[i]; }
  int64_t settleUs() const { return settleUs_; }

private:
  int64_t settleUs_;
  int halves_ = 1;
  std::vector<SpareSlot> slots_;
};
