// What a client reads from a lent key of a given type, and the modifiers
// chosen to make it read the wanted keysym: with caps lock on and off, for
// the four-level alphabetic type and for variants that leave Lock to Xlib's
// own capitalisation (which then cannot give a small letter at all); and
// which levels of the eight-level types can be read, with a level-5 key or
// with the num lock modifier pressed for levels 5-8.
#include "platform/xtest/level_type.h"

// gtest first: X.h defines None, which gtest uses as a name.
#include <gtest/gtest.h>

#include <X11/X.h>
#include <X11/keysym.h>

namespace {

constexpr unsigned kL3 = Mod5Mask;
const std::vector<unsigned> kHalf0 = {0, ShiftMask};
const std::vector<unsigned> kHalf1 = {kL3, kL3 | ShiftMask};
const std::vector<unsigned long> kLetters = {XK_Cyrillic_a, XK_Cyrillic_A, XK_Cyrillic_be,
                                             XK_Cyrillic_BE};

LevelType FourLevelAlphabetic() {
  LevelType t;
  t.mask = ShiftMask | LockMask | kL3;
  t.numLevels = 4;
  t.entries = {{ShiftMask, 1, 0},       {LockMask, 1, 0},
               {kL3, 2, 0},             {ShiftMask | kL3, 3, 0},
               {LockMask | kL3, 3, 0},  {ShiftMask | LockMask | kL3, 2, 0}};
  return t;
}

TEST(LevelType, FourLevelAlphabeticReadsEveryLevelWithCapsLockOffAndOn) {
  LevelType t = FourLevelAlphabetic();
  EXPECT_EQ(TranslatedKeysym(t, kLetters, 0), XK_Cyrillic_a);
  EXPECT_EQ(TranslatedKeysym(t, kLetters, LockMask), XK_Cyrillic_A);
  EXPECT_EQ(TranslatedKeysym(t, kLetters, LockMask | ShiftMask), XK_Cyrillic_a);
  EXPECT_EQ(TranslatedKeysym(t, kLetters, kL3 | LockMask), XK_Cyrillic_BE);
  // Num lock (Mod2) is not looked at.
  EXPECT_EQ(TranslatedKeysym(t, kLetters, kL3 | Mod2Mask), XK_Cyrillic_be);

  for (unsigned locked : {0u, unsigned{LockMask}, unsigned{LockMask | Mod2Mask}}) {
    EXPECT_EQ(ModsToRead(t, kLetters, XK_Cyrillic_a, locked, kHalf0),
              locked & LockMask ? long{ShiftMask} : 0L);
    EXPECT_EQ(ModsToRead(t, kLetters, XK_Cyrillic_A, locked, kHalf0),
              locked & LockMask ? 0L : long{ShiftMask});
    EXPECT_EQ(ModsToRead(t, kLetters, XK_Cyrillic_be, locked, kHalf1),
              static_cast<long>(locked & LockMask ? kL3 | ShiftMask : kL3));
    EXPECT_EQ(ModsToRead(t, kLetters, XK_Cyrillic_BE, locked, kHalf1),
              static_cast<long>(locked & LockMask ? kL3 : kL3 | ShiftMask));
    // A pair on one half is never read through the other half's modifiers.
    EXPECT_EQ(ModsToRead(t, kLetters, XK_Cyrillic_be, locked, kHalf0), -1);
  }
}

TEST(LevelType, UnconsumedLockIsCapitalisedSoSmallLettersCannotBeTypedUnderCapsLock) {
  // Lock left to Xlib on the level-3 combinations.
  LevelType t = FourLevelAlphabetic();
  t.entries[4].preserve = LockMask;
  t.entries[5].preserve = LockMask;
  EXPECT_EQ(TranslatedKeysym(t, kLetters, kL3 | LockMask), XK_Cyrillic_BE);
  EXPECT_EQ(ModsToRead(t, kLetters, XK_Cyrillic_be, LockMask, kHalf1), -1);

  // A type that does not look at Lock at all: the same.
  LevelType four;
  four.mask = ShiftMask | kL3;
  four.numLevels = 4;
  four.entries = {{ShiftMask, 1, 0}, {kL3, 2, 0}, {ShiftMask | kL3, 3, 0}};
  EXPECT_EQ(ModsToRead(four, kLetters, XK_Cyrillic_a, 0, kHalf0), 0L);
  EXPECT_EQ(ModsToRead(four, kLetters, XK_Cyrillic_a, LockMask, kHalf0), -1);
  // A keysym without case reads the same either way.
  const std::vector<unsigned long> euro = {XK_EuroSign, XK_EuroSign, XK_EuroSign, XK_EuroSign};
  EXPECT_EQ(ModsToRead(four, euro, XK_EuroSign, LockMask, kHalf1), static_cast<long>(kL3));
}

// The eight-level types as a German keymap has them, with Mod5 for level 3
// and Mod2 for num lock. Levels 5-8 are reached with LevelFive where the
// keymap binds it (here Mod3), and, on the types with a level-5 lock, also
// with num lock: their entries naming LevelFive stay inactive while it is
// bound to nothing, and are left out here.
constexpr unsigned kNum = Mod2Mask, kL5 = Mod3Mask;

LevelType EightLevelAlphabetic() {
  LevelType t;
  t.mask = ShiftMask | LockMask | kL3 | kL5;
  t.numLevels = 8;
  t.entries = {{ShiftMask, 1, 0},
               {LockMask, 1, 0},
               {kL3, 2, 0},
               {ShiftMask | kL3, 3, 0},
               {LockMask | kL3, 3, 0},
               {ShiftMask | LockMask | kL3, 2, 0},
               {kL5, 4, 0},
               {ShiftMask | kL5, 5, 0},
               {LockMask | kL5, 5, 0},
               {kL3 | kL5, 6, 0},
               {ShiftMask | kL3 | kL5, 7, 0},
               {LockMask | kL3 | kL5, 7, 0},
               {ShiftMask | LockMask | kL3 | kL5, 6, 0}};
  return t;
}

LevelType EightLevelAlphabeticLevelFiveLockUnbound() {
  LevelType t;
  t.mask = ShiftMask | LockMask | kNum | kL3;
  t.numLevels = 8;
  t.entries = {{ShiftMask, 1, 0},
               {kL3, 2, 0},
               {ShiftMask | kL3, 3, 0},
               {kNum, 4, 0},
               {ShiftMask | kNum, 5, ShiftMask},
               {kNum | kL3, 6, 0},
               {ShiftMask | kNum | kL3, 7, 0},
               {LockMask, 1, 0},
               {LockMask | kL3, 2, 0},
               {ShiftMask | LockMask | kL3, 3, 0},
               {LockMask | kNum, 4, 0},
               {ShiftMask | LockMask | kNum, 5, 0},
               {LockMask | kNum | kL3, 6, 0},
               {ShiftMask | LockMask | kNum | kL3, 7, 0}};
  return t;
}

std::vector<unsigned> Combos(unsigned level5) {
  std::vector<unsigned> c = {0, ShiftMask, kL3, kL3 | ShiftMask};
  for (unsigned m : {0u, unsigned{ShiftMask}, kL3, kL3 | ShiftMask})
    c.push_back(m | level5);
  return c;
}

TEST(LevelType, EightLevelTypesReadTheirLevelsAsTheLockedModifiersAllow) {
  // With a level-5 key: every level, but caps lock leaves level 5 out (the
  // type maps neither Shift+Lock+LevelFive nor Lock+LevelFive to it).
  LevelType alpha = EightLevelAlphabetic();
  EXPECT_EQ(ReadableLevels(alpha, Combos(kL5), 0), 0xFFu);
  EXPECT_EQ(ReadableLevels(alpha, Combos(kL5), LockMask), 0xEFu);
  // Without a key for levels 5-8, only the lower four.
  EXPECT_EQ(ReadableLevels(alpha, Combos(0), 0), 0x0Fu);

  // The level-5 lock type with num lock pressed for levels 5-8: every level
  // with num lock off, caps lock on or off; with num lock on, only levels
  // 5-8 (the entries that would give levels 1-4 name LevelFive).
  LevelType lock5 = EightLevelAlphabeticLevelFiveLockUnbound();
  EXPECT_EQ(ReadableLevels(lock5, Combos(kNum), 0), 0xFFu);
  EXPECT_EQ(ReadableLevels(lock5, Combos(kNum), LockMask), 0xFFu);
  EXPECT_EQ(ReadableLevels(lock5, Combos(kNum), kNum), 0xF0u);
  EXPECT_EQ(ReadableLevels(lock5, Combos(kNum), kNum | LockMask), 0xF0u);
  // Level 6 keeps Shift: a capital is still read as it is, not capitalised
  // again, and a small letter as small.
  std::vector<unsigned long> six(8, 0);
  six[5] = XK_Cyrillic_be;
  EXPECT_EQ(ModsToRead(lock5, six, XK_Cyrillic_be, 0, Combos(kNum)),
            static_cast<long>(ShiftMask | kNum));
  EXPECT_EQ(ModsToRead(lock5, six, XK_Cyrillic_be, kNum, Combos(kNum)),
            static_cast<long>(ShiftMask));
}

} // namespace
