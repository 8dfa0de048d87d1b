// The spare keycodes lent to characters (and keys) the host's keymap lacks.
//
// X clients learn of a keymap change only when they get round to reading the
// change notice; a key event on a keycode whose mapping changed again before
// the client translated it comes out as the wrong character. So a keycode is
// never remapped until it has been left unused for the settle time, keycodes
// are taken least recently used first, and a keysym pair already lent stays
// lent (typing it again needs no change at all).
//
// Pure bookkeeping: the caller does the X requests and passes the time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct SpareSlot {
  unsigned keycode = 0;
  unsigned long lower = 0; // keysym at level 1 (0: nothing lent)
  unsigned long upper = 0; // keysym at level 2 (0: none)
  int64_t lastUseUs = INT64_MIN / 2; // when a key event last went to it
  int pins = 0;                      // presses not yet released
};

class SparePool {
public:
  explicit SparePool(int64_t settleUs) : settleUs_(settleUs) {}

  // Replaces the set of spare keycodes. Slots of keycodes still listed keep
  // what they carry and their last use; keepLent(keycode, lower, upper) says
  // whether the keymap still shows the lent pair (else the slot is emptied).
  template <typename KeepLent> void SetKeycodes(const std::vector<unsigned> &keycodes, KeepLent keepLent) {
    std::vector<SpareSlot> next;
    for (unsigned kc : keycodes) {
      SpareSlot slot;
      slot.keycode = kc;
      for (const SpareSlot &old : slots_) {
        if (old.keycode == kc) {
          slot = old;
          if (slot.lower && !keepLent(kc, slot.lower, slot.upper))
            slot.lower = slot.upper = 0;
        }
      }
      next.push_back(slot);
    }
    slots_ = std::move(next);
  }

  struct Lease {
    int slot = -1;        // -1: every slot is held down
    bool remap = false;   // the slot must be given the pair first
    int64_t readyAtUs = 0; // remapping is safe from this time on
  };
  // The slot for the keysym pair: the one that carries it already, else the
  // least recently used slot not held down (remap, once readyAtUs is reached).
  Lease Find(unsigned long lower, unsigned long upper) const;

  void Assign(int slot, unsigned long lower, unsigned long upper);
  void Use(int slot, int64_t nowUs) { slots_[slot].lastUseUs = nowUs; }
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
  std::vector<SpareSlot> slots_;
};
