// Lending spare keycodes: a keysym (or pair) already lent is reused without a
// keymap change; a level of a four-level key is replaced only once it has
// settled since its last key, any other change only once the whole keycode
// has; never while its key is held down; among settled levels the one used
// longest ago is replaced.
#include "platform/xtest/spare_pool.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t kSettle = 100000;
auto KeepAll = [](unsigned, int, unsigned long, unsigned long) { return true; };

// Lends the pair as the backend does: find, wait if needed, assign, use.
SparePool::Lease LendAt(SparePool &pool, unsigned long lower, unsigned long upper, int64_t now,
                        bool keyLend = false) {
  SparePool::Lease l = pool.Find(lower, upper, now, keyLend);
  if (l.slot >= 0 && l.remap)
    pool.Assign(l.slot, l.part, lower, upper, keyLend, now);
  if (l.slot >= 0)
    pool.Use(l.slot, l.part, std::max(now, l.readyAtUs));
  return l;
}

TEST(SparePool, OnePartLentPairsAreReusedAndTheLeastRecentlyUsedKeycodeIsLentNext) {
  SparePool pool(kSettle);
  pool.SetKeycodes({200, 201, 202}, KeepAll);

  SparePool::Lease a = LendAt(pool, 0x6d6, 0x6f6, 1000);
  ASSERT_GE(a.slot, 0);
  EXPECT_TRUE(a.remap);
  EXPECT_EQ(a.part, 0);

  SparePool::Lease again = pool.Find(0x6d6, 0x6f6, 1500, false);
  EXPECT_EQ(again.slot, a.slot);
  EXPECT_FALSE(again.remap);

  // Fill the other two, then a fourth pair takes the one used longest ago,
  // not before it settles.
  for (int i = 0; i < 2; ++i)
    ASSERT_NE(LendAt(pool, 0x100 + i, 0, 2000 + i).slot, a.slot);
  pool.Use(a.slot, 0, 5000); // ж typed again: now the most recent
  SparePool::Lease fourth = pool.Find(0x200, 0, 6000, false);
  EXPECT_TRUE(fourth.remap);
  EXPECT_EQ(fourth.part, 0);
  EXPECT_EQ(pool.slot(fourth.slot).part[0].lower, 0x100u);
  EXPECT_EQ(fourth.readyAtUs, 2000 + kSettle);
}

TEST(SparePool, FourPartKeysHoldFourKeysymsAndEachLevelSettlesOnItsOwn) {
  SparePool pool(kSettle);
  pool.SetCharParts(4);
  pool.SetKeycodes({200, 201}, KeepAll);
  // Eight keysyms fit on two keycodes without any being replaced.
  for (unsigned long k = 1; k <= 8; ++k)
    ASSERT_GE(LendAt(pool, k, 0, static_cast<int64_t>(k) * 10).slot, 0) << "keysym " << k;
  const int64_t t = 10 * kSettle;
  unsigned long sum = 0;
  for (unsigned long k = 1; k <= 8; ++k) {
    SparePool::Lease l = pool.Find(k, 0, t, false);
    EXPECT_FALSE(l.remap) << "keysym " << k;
    sum += pool.slot(l.slot).part[l.part].lower;
  }
  EXPECT_EQ(sum, 36u);
  // A pair is looked for as a pair: the single keysyms do not serve it.
  EXPECT_TRUE(pool.Find(1, 2, t, false).remap);

  // Every level but the one holding keysym 5 is typed just now: that level
  // is replaced at once, although its keycode's other levels were just used.
  for (unsigned long k = 1; k <= 8; ++k) {
    SparePool::Lease l = pool.Find(k, 0, t, false);
    if (k != 5)
      pool.Use(l.slot, l.part, t + static_cast<int64_t>(k));
  }
  SparePool::Lease five = pool.Find(5, 0, t, false);
  SparePool::Lease next = pool.Find(9, 0, t + 100, false);
  EXPECT_TRUE(next.remap);
  EXPECT_EQ(next.slot, five.slot);
  EXPECT_EQ(next.part, five.part);
  EXPECT_LE(next.readyAtUs, t + 100);
  pool.Assign(next.slot, next.part, 9, 0, false, t + 100);
  pool.Use(next.slot, next.part, t + 100);
  EXPECT_EQ(pool.Find(6, 0, t + 100, false).slot >= 0, true) << "the other levels stay lent";
  EXPECT_FALSE(pool.Find(6, 0, t + 100, false).remap);

  // Now every level was used within the settle time: the one used longest
  // ago (keysym 1's) is taken, once its own settle time is over.
  SparePool::Lease one = pool.Find(1, 0, t + 200, false);
  next = pool.Find(10, 0, t + 200, false);
  EXPECT_EQ(next.slot, one.slot);
  EXPECT_EQ(next.part, one.part);
  EXPECT_EQ(next.readyAtUs, t + 1 + kSettle);
}

// A character is lent a whole keycode (its keysym on every level) while one
// has settled that carries one keysym at most; when none has, FindWhole says
// so and the character takes a single level, which leaves the levels that
// were read on that keycode as they are.
TEST(SparePool, WholeKeycodesGoFirstAndSingleLevelsOnlyWhenThePoolRunsShort) {
  SparePool pool(kSettle);
  pool.SetCharParts(4);
  pool.SetKeycodes({200, 201}, KeepAll);
  auto lendWhole = [&](unsigned long ks, int64_t now) {
    int slot = pool.FindWhole(now);
    if (slot >= 0) {
      pool.Assign(slot, 0, ks, 0, false, now, 0, true);
      pool.Use(slot, 0, now);
    }
    return slot;
  };
  const int a = lendWhole(1, 1000);
  const int b = lendWhole(2, 1001);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_NE(a, b);
  for (int p = 0; p < 4; ++p)
    EXPECT_EQ(pool.slot(a).part[p].lower, 1u) << "part " << p;
  // Found where it is, at level 1, without a change.
  SparePool::Lease found = pool.Find(1, 0, 1500, false);
  EXPECT_EQ(found.slot, a);
  EXPECT_EQ(found.part, 0);
  EXPECT_FALSE(found.remap);

  // Both keycodes typed within the settle time: no whole keycode; a third
  // keysym goes onto a level not read, at once.
  EXPECT_EQ(pool.FindWhole(2000), -1);
  SparePool::Lease third = pool.Find(3, 0, 2000, false);
  ASSERT_GE(third.slot, 0);
  EXPECT_NE(third.part, 0);
  EXPECT_LE(third.readyAtUs, 2000);
  pool.Assign(third.slot, third.part, 3, 0, false, 2000);
  EXPECT_EQ(pool.slot(third.slot).part[0].lower, third.slot == a ? 1u : 2u)
      << "the level typed keeps its keysym";

  // Once settled, the keycode that carries one keysym is taken whole again;
  // the one that carries two is not (both would have to be lent again), nor
  // is a held key.
  const int single = third.slot == a ? b : a;
  const int64_t later = 1001 + 10 * kSettle;
  EXPECT_EQ(pool.FindWhole(later), single);
  pool.Pin(single);
  EXPECT_EQ(pool.FindWhole(later), -1);
  pool.Unpin(single);
}

// A batch is planned before any of it is sent, and planning may wait (for a
// new focus to settle): a key planned earlier in the batch keeps its keycode
// however long that takes, whole or level, until it is typed.
TEST(SparePool, AKeyPlannedForTheBatchIsNotReplacedBeforeItIsTyped) {
  SparePool pool(kSettle);
  pool.SetCharParts(4);
  pool.SetKeycodes({200}, KeepAll);
  const int slot = pool.FindWhole(0);
  ASSERT_EQ(slot, 0);
  pool.Assign(slot, 0, 1, 0, false, 0, 0, true);
  pool.Use(slot, 0, 0);
  pool.Reserve(slot, 1); // planned on level 2 (caps lock on), not sent yet
  const int64_t later = 100 * kSettle;
  EXPECT_EQ(pool.FindWhole(later), -1) << "the keycode is not taken whole from under the plan";
  SparePool::Lease other = pool.Find(2, 0, later, false);
  ASSERT_EQ(other.slot, slot);
  EXPECT_NE(other.part, 1) << "nor the level planned";
  EXPECT_LE(other.readyAtUs, later);
  // Typed: the level settles from the time of its key as any other.
  pool.Use(slot, 1, later);
  EXPECT_EQ(pool.FindWhole(later + kSettle), slot);
}

// Eight levels a keycode: sixteen keysyms fit on two keycodes. Which levels
// can be read depends on the host's locked modifiers (num lock makes the
// lower four unreadable on some types): a keysym on a level not usable now
// is not found, and a new lend only takes a usable level.
TEST(SparePool, EightPartKeysHoldEightKeysymsAndOnlyUsableLevelsAreFoundOrTaken) {
  SparePool pool(kSettle);
  pool.SetCharParts(8);
  EXPECT_EQ(pool.charParts(), 8);
  pool.SetKeycodes({200, 201}, KeepAll);
  for (unsigned long k = 1; k <= 16; ++k)
    ASSERT_GE(LendAt(pool, k, 0, static_cast<int64_t>(k) * 10).slot, 0) << "keysym " << k;
  const int64_t t = 10 * kSettle;
  int perSlot[2] = {0, 0};
  for (unsigned long k = 1; k <= 16; ++k) {
    SparePool::Lease l = pool.Find(k, 0, t, false);
    ASSERT_GE(l.slot, 0);
    EXPECT_FALSE(l.remap) << "keysym " << k;
    ++perSlot[l.slot];
  }
  EXPECT_EQ(perSlot[0], 8);
  EXPECT_EQ(perSlot[1], 8);

  // Only the upper four levels usable: a keysym on a lower level is lent
  // again, onto the upper level used longest ago, and is found there.
  const unsigned upper = 0xF0;
  SparePool::Lease low = pool.Find(1, 0, t, false);
  ASSERT_LT(low.part, 4);
  SparePool::Lease again = pool.Find(1, 0, t, false, upper);
  EXPECT_TRUE(again.remap);
  EXPECT_GE(again.part, 4);
  unsigned long replaced = pool.slot(again.slot).part[again.part].lower;
  EXPECT_TRUE(replaced == 5 || replaced == 13) << "the first upper level lent: " << replaced;
  pool.Assign(again.slot, again.part, 1, 0, false, t);
  EXPECT_FALSE(pool.Find(1, 0, t, false, upper).remap);
  EXPECT_EQ(pool.Find(1, 0, t, false, upper).part, again.part);
  // Nothing at all usable: nothing is found or taken.
  EXPECT_EQ(pool.Find(2, 0, t, false, 0).slot, -1);

  // Other part counts than 1, 4 and 8 mean one pair.
  pool.SetCharParts(5);
  EXPECT_EQ(pool.charParts(), 1);
}

// A key rewritten with fewer levels (the keymap lost its level-5 key, say)
// keeps none of the keysyms it carried above them: were they still
// recorded, the keycode would no longer show what the pool says it lent,
// and would never be given back.
TEST(SparePool, ALendOnFewerLevelsDropsTheKeysymsAboveThem) {
  SparePool pool(kSettle);
  pool.SetCharParts(8);
  pool.SetKeycodes({200}, KeepAll);
  for (unsigned long k = 1; k <= 8; ++k)
    LendAt(pool, k, 0, static_cast<int64_t>(k));
  pool.SetCharParts(4);
  EXPECT_FALSE(pool.Find(3, 0, 10 * kSettle, false).remap);
  SparePool::Lease l = pool.Find(9, 0, 10 * kSettle, false);
  ASSERT_TRUE(l.remap);
  pool.Assign(l.slot, l.part, 9, 0, false, 10 * kSettle);
  for (int p = 4; p < SpareSlot::kParts; ++p)
    EXPECT_EQ(pool.slot(0).part[p].lower, 0u) << "part " << p;
  // And a pair on one part, where no level-3 key is left, drops all others.
  pool.SetCharParts(1);
  l = pool.Find('q', 'Q', 20 * kSettle, false);
  pool.Assign(l.slot, l.part, 'q', 'Q', false, 20 * kSettle);
  for (int p = 1; p < SpareSlot::kParts; ++p)
    EXPECT_EQ(pool.slot(0).part[p].lower, 0u) << "part " << p;
}

// A burst of keymap changes leaves clients behind: a level is not replaced
// until it has been unused for the settle time plus the backlog the changes
// made, which drains in real time.
TEST(SparePool, ABurstOfChangesLengthensTheSettleTimeUntilClientsCatchUp) {
  constexpr int64_t kCost = 3000;
  SparePool pool(kSettle, kCost);
  pool.SetCharParts(4);
  pool.SetKeycodes({200}, KeepAll);
  SparePool::Lease first = LendAt(pool, 1, 0, 0);
  EXPECT_EQ(pool.BacklogUs(0), kCost);
  EXPECT_EQ(pool.BacklogUs(kCost / 2), kCost / 2);
  EXPECT_EQ(pool.BacklogUs(10 * kCost), 0);
  // Three more keysyms lent in a burst at t = 1 s fill the keycode.
  const int64_t t = 1000000;
  for (unsigned long k = 2; k <= 4; ++k)
    LendAt(pool, k, 0, t);
  EXPECT_EQ(pool.BacklogUs(t), 3 * kCost);
  // Keysym 1 was last typed at 0: settled long ago, and not held up.
  SparePool::Lease next = pool.Find(5, 0, t, false);
  EXPECT_EQ(next.part, first.part);
  EXPECT_EQ(next.readyAtUs, 0 + kSettle + 3 * kCost);
  // Typed again at t, it may be replaced only once the settle time and the
  // backlog (as it stands when asked) have passed.
  pool.Use(first.slot, first.part, t);
  next = pool.Find(5, 0, t + kSettle, false); // the backlog is gone by then
  EXPECT_EQ(next.readyAtUs, t + kSettle);
  next = pool.Find(5, 0, t + 1000, false);
  EXPECT_GT(next.readyAtUs, t + 1000);
  EXPECT_EQ(next.readyAtUs, t + kSettle + 3 * kCost - 1000);
  // A change made while the server is slow counts for more.
  pool.NoteChange(t + 1000, 20000);
  EXPECT_EQ(pool.BacklogUs(t + 1000), 3 * kCost - 1000 + kCost + 20000);
}

TEST(SparePool, KeyLendsTakeAWholeTwoLevelKeyAndAreFoundOnlyAsKeys) {
  SparePool pool(kSettle);
  pool.SetCharParts(4);
  pool.SetKeycodes({200}, KeepAll);
  SparePool::Lease ch = LendAt(pool, 'x', 0, 0);
  LendAt(pool, 'y', 0, 10);
  EXPECT_EQ(pool.slot(ch.slot).part[1].lower, static_cast<unsigned long>('y'));

  // A virtual key for the same letter is not served by the character's
  // level; it rewrites the whole key, so it waits for the keycode's last key.
  SparePool::Lease key = pool.Find('x', 'X', 20, true);
  EXPECT_TRUE(key.remap);
  EXPECT_EQ(key.part, 0);
  EXPECT_EQ(key.readyAtUs, 10 + kSettle);
  pool.Assign(key.slot, 0, 'x', 'X', true, 2 * kSettle);
  pool.Use(key.slot, 0, 2 * kSettle);
  EXPECT_TRUE(pool.slot(key.slot).keyLend);
  EXPECT_EQ(pool.slot(key.slot).part[1].lower, 0u) << "a two-level key keeps no other level";
  EXPECT_FALSE(pool.Find('x', 'X', 2 * kSettle, true).remap);
  // Nor may a character take a free level of a two-level key without
  // rewriting it, after the keycode settled.
  SparePool::Lease y = pool.Find('y', 0, 2 * kSettle + 10, false);
  EXPECT_TRUE(y.remap);
  EXPECT_EQ(y.readyAtUs, 3 * kSettle);
  pool.Assign(y.slot, y.part, 'y', 0, false, 3 * kSettle);
  EXPECT_FALSE(pool.slot(y.slot).keyLend);
  EXPECT_EQ(pool.slot(y.slot).part[0].lower + pool.slot(y.slot).part[1].lower +
                pool.slot(y.slot).part[2].lower + pool.slot(y.slot).part[3].lower,
            static_cast<unsigned long>('y'));
}

TEST(SparePool, HeldKeysAreNotLentAndUnpinningFreesThem) {
  SparePool pool(kSettle);
  pool.SetCharParts(4);
  pool.SetKeycodes({200}, KeepAll);
  SparePool::Lease l = LendAt(pool, 'a', 'A', 0, true);
  pool.Pin(l.slot);
  EXPECT_EQ(pool.Find('b', 0, 10 * kSettle, false).slot, -1);
  EXPECT_EQ(pool.Find('a', 'A', 10 * kSettle, true).slot, l.slot); // the held pair is still found
  pool.Unpin(l.slot);
  pool.Unpin(l.slot); // an extra release does no harm
  EXPECT_EQ(pool.Find('b', 0, 10 * kSettle, false).slot, l.slot);
}

TEST(SparePool, NewKeycodeSetsKeepWhatIsStillLentAndDropTheRest) {
  SparePool pool(kSettle);
  pool.SetCharParts(4);
  pool.SetKeycodes({200, 201}, KeepAll);
  SparePool::Lease l = LendAt(pool, 'x', 0, 777);
  SparePool::Lease y = LendAt(pool, 'y', 0, 778);
  LendAt(pool, 'z', 0, 779);
  unsigned kc = pool.slot(l.slot).keycode;
  ASSERT_EQ(pool.slot(y.slot).keycode, kc) << "levels of a lent keycode are filled first";

  pool.SetKeycodes({kc, 210}, KeepAll);
  EXPECT_EQ(pool.size(), 2u);
  SparePool::Lease kept = pool.Find('x', 0, 1000, false);
  EXPECT_FALSE(kept.remap);
  EXPECT_EQ(pool.slot(kept.slot).part[kept.part].lastUseUs, 777);

  // The keymap no longer shows one level (another client replaced it): that
  // keysym is dropped, the others stay, and the keycode is still ours to
  // restore.
  pool.SetKeycodes({kc}, [&](unsigned, int part, unsigned long, unsigned long) {
    return part != l.part;
  });
  EXPECT_TRUE(pool.Find('x', 0, 1000, false).remap);
  EXPECT_FALSE(pool.Find('y', 0, 1000, false).remap);
  EXPECT_TRUE(pool.slot(0).lent());
  EXPECT_FALSE(pool.IsSpare(210));

  // Without a level-3 key, keysyms on levels 3-4 are not typed any more but
  // are still recorded until restored.
  pool.SetCharParts(1);
  EXPECT_TRUE(pool.Find('z', 0, 1000, false).remap);
  EXPECT_TRUE(pool.slot(0).lent());

  pool.ClearAll();
  EXPECT_FALSE(pool.slot(0).lent());
}

} // namespace
