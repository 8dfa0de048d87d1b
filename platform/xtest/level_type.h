// How an X client turns a key event into a keysym, for a lent key of a given
// XKB key type: the type maps the modifiers it looks at to a level, and Xlib
// then capitalises the keysym when caps lock is on and the type left Lock
// unconsumed (two-level and some four-level types do). Used to choose the
// modifiers to press with a lent key so that the client sees the keysym
// wanted whatever the host's locked modifiers are, and to check that a key
// type can serve for lending at all.
#pragma once

#include <vector>

struct LevelTypeEntry {
  unsigned mods;     // exact modifier combination (within the type's mask)
  unsigned level;    // 0-based
  unsigned preserve; // modifiers of mods left unconsumed
};

struct LevelType {
  unsigned mask = 0; // modifiers the type looks at
  unsigned numLevels = 1;
  std::vector<LevelTypeEntry> entries;
};

// The keysym a client reads from a key of type `type` carrying `levelSyms`
// (one per level) when the modifier state is `state`.
unsigned long TranslatedKeysym(const LevelType &type, const std::vector<unsigned long> &levelSyms,
                               unsigned state);

// The first of `candidates` (modifier masks to press) that, with the locked
// modifiers `locked`, makes the key read as `want`; -1 when none does.
long ModsToRead(const LevelType &type, const std::vector<unsigned long> &levelSyms,
                unsigned long want, unsigned locked, const std::vector<unsigned> &candidates);

// The levels of `type` (bit l: level l) on which a small letter, a capital
// and a caseless keysym each read alone with one of the modifier
// combinations `candidates` pressed, while `locked` is locked. A level that
// caps lock capitalises is not among them: it could not type a small letter.
unsigned ReadableLevels(const LevelType &type, const std::vector<unsigned> &candidates,
                        unsigned locked);
