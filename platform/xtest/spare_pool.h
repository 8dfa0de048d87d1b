// The spare keycodes lent to characters (and keys) the host's keymap lacks.
//
// X clients learn of a keymap change only when they get round to reading the
// change notice; a key event on a keycode whose mapping changed again before
// the client translated it comes out as the wrong character. So what a
// keycode carries at a level is never replaced until that level has been left
// unused for the settle time, the level used longest ago is taken first, and
// a keysym already lent stays lent (typing it again needs no change at all).
//
// Where the keymap has a level-3 key and a four-level key type that reads
// every level exactly, a keycode lent for characters is first lent whole: the
// one keysym on every level, so that it types with no modifier pressed (a
// modifier press costs every client a state notice). Only when no whole
// keycode is free does a keycode carry four keysyms, one on each level (part
// p on level p), reached with Shift and the level-3 modifier; where it also has a level-5 key and an eight-level type that
// reads every level exactly, eight, reached with Shift and the level-3 and
// level-5 modifiers. Replacing one level leaves the others and the key type
// as they are, so a key event on another level reads the same under the old
// and the new mapping: the settle time counts per level. Elsewhere a keycode
// carries one pair (part 0: lower case at level 1, upper case at level 2) as
// an ordinary two-level key, as does a keycode lent to a virtual key; any
// change to such a key, and any change between the two kinds, rewrites the
// whole key and waits until no key event went to the keycode, on any level,
// for the settle time.
//
// The settle time assumes a client keeping up. But every keymap change makes
// every client read the keymap again before its next key, so a burst of
// changes (the first characters of a text, each lent afresh) leaves clients
// behind by about the time those reads take. The pool keeps an estimate of
// that backlog, a change cost added per change and drained in real time, and
// a level is replaced only when it has been unused for the settle time plus
// the backlog.
//
// Pure bookkeeping: the caller does the X requests and passes the time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct SparePart {
  unsigned long lower = 0; // keysym lent (0: nothing)
  unsigned long upper = 0; // a pair's upper case at level 2 (0: a single keysym)
  int64_t lastUseUs = INT64_MIN / 2;
};

struct SpareSlot {
  static constexpr int kParts = 8; // the most levels a lent keycode carries
  unsigned keycode = 0;
  SparePart part[kParts];
  // Lent to a virtual key: an ordinary two-level key, part 0 only.
  bool keyLend = false;
  int64_t lastUseUs = INT64_MIN / 2; // when a key event last went to it, any level
  int pins = 0;                      // presses not yet released
  bool lent() const {
    for (const SparePart &p : part)
      if (p.lower != 0)
        return true;
    return false;
  }
};

class SparePool {
public:
  // settleUs: how long a level stays unused before it is replaced, with
  // clients keeping up; changeCostUs: how far behind each keymap change may
  // leave a client.
  explicit SparePool(int64_t settleUs, int64_t changeCostUs = 0)
      : settleUs_(settleUs), changeCostUs_(changeCostUs) {}

  // 4 or 8: keycodes lent for characters carry a keysym on each of that many
  // levels; anything else: a pair on part 0. Keysyms already on parts beyond
  // stay recorded (so that they are restored) but are not used; the next
  // change to such a key rewrites it whole and drops them (see Assign).
  void SetCharParts(int parts) { charParts_ = parts == 4 || parts == 8 ? parts : 1; }
  int charParts() const { return charParts_; }

  // Replaces the set of spare keycodes. Slots of keycodes still listed keep
  // what they carry and their last use; keepLent(keycode, part, lower, upper)
  // says whether the keymap still shows the lent keysym at level `part`
  // (else it is dropped).
  template <typename KeepLent> void SetKeycodes(const std::vector<unsigned> &keycodes, KeepLent keepLent) {
    std::vector<SpareSlot> next;
    for (unsigned kc : keycodes) {
      SpareSlot slot;
      slot.keycode = kc;
      for (const SpareSlot &old : slots_) {
        if (old.keycode != kc)
          continue;
        slot = old;
        for (int p = 0; p < SpareSlot::kParts; ++p) {
          SparePart &part = slot.part[p];
          if (part.lower && !keepLent(kc, p, part.lower, part.upper))
            part.lower = part.upper = 0;
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
    int part = 0;          // which part (level) of the slot
    bool remap = false;    // the slot must be given the keysym(s) first
    int64_t readyAtUs = 0; // remapping is safe from this time on
  };
  // Where the keysym pair (upper 0: one keysym) is or is to be lent: the part
  // that carries it already, else a part of a slot not held down. A part
  // whose settle time is over is taken first, the one used longest ago (an
  // empty part has not been used at all); when none is, the one that settles
  // first. keyLend: for a virtual key, which needs part 0 of a two-level key.
  // A lend that is not a part of a multi-level character key, or that changes
  // the kind of the key, waits for the whole keycode to settle. usable:
  // the parts that may be used at all (bit p: part p; a level the host's
  // locked modifiers make unreadable is neither found nor taken).
  Lease Find(unsigned long lower, unsigned long upper, int64_t nowUs, bool keyLend,
             unsigned usable = ~0u) const;
  // A slot to be lent whole to one character keysym (on every part) at
  // nowUs: not held down, carrying one keysym at most, and no key event went
  // to it, on any level, for the settle time and the backlog; the one used
  // longest ago. -1 when there is none: the pool is short, and characters go
  // onto single parts (Find).
  int FindWhole(int64_t nowUs) const;

  // Records the keysyms on the part, changed at nowUs (one keymap change; see
  // NoteChange). A key lend, or a lend onto a key lent as a key, rewrites the
  // whole key: the other parts are dropped. A character lend leaves the key
  // with as many levels as the pool has parts: parts beyond are dropped.
  // whole: the keysym goes on every part of a character key (FindWhole).
  void Assign(int slot, int part, unsigned long lower, unsigned long upper, bool keyLend,
              int64_t nowUs, int64_t extraCostUs = 0, bool whole = false);
  // A keymap change made at nowUs, for the clients' backlog: the change cost,
  // plus extraCostUs where the caller has reason to think clients are slower
  // (a busy server).
  void NoteChange(int64_t nowUs, int64_t extraCostUs = 0) {
    lagUs_ = BacklogUs(nowUs) + changeCostUs_ + (extraCostUs > 0 ? extraCostUs : 0);
    lagAtUs_ = nowUs;
  }
  // How far behind clients may be at nowUs, by the changes made so far.
  int64_t BacklogUs(int64_t nowUs) const {
    int64_t left = lagUs_ - (nowUs - lagAtUs_);
    return left > 0 ? left : 0;
  }
  void Use(int slot, int part, int64_t nowUs) {
    slots_[slot].lastUseUs = nowUs;
    slots_[slot].part[part].lastUseUs = nowUs;
  }
  // A key planned for the batch being put together, not sent yet: its part
  // (and its keycode, for a whole lend) counts as in use however long the
  // batch takes to plan, and is never settled, so that no later lend of the
  // same batch replaces it. Use gives the time it was typed (or, for a key
  // left untyped, the time the plan was given up) and ends the reservation.
  static constexpr int64_t kReservedUs = INT64_MAX / 4;
  void Reserve(int slot, int part) { Use(slot, part, kReservedUs); }
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
  int64_t changeCostUs_;
  int64_t lagUs_ = 0, lagAtUs_ = 0; // the backlog estimate, as of lagAtUs_
  int charParts_ = 1;
  std::vector<SpareSlot> slots_;
};
