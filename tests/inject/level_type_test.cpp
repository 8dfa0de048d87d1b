// What a client reads from a lent key of a given type, and the modifiers
// chosen to make it read the wanted keysym: with caps lock on and off, for
// the four-level alphabetic type and for variants that leave Lock to Xlib's
// own capitalisation (which then cannot give a small letter at all).
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

} // namespace
