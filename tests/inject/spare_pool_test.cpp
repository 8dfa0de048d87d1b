// Lending spare keycodes: a pair already lent is reused without a keymap
// change; a keycode is remapped (either half) only once it has settled since
// its last key on any level, never while its key is held down; among settled
// keycodes the pair used longest ago is replaced.
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
    pool.Assign(l.slot, l.half, lower, upper, keyLend);
  if (l.slot >= 0)
    pool.Use(l.slot, l.half, std::max(now, l.readyAtUs));
  return l;
}

TEST(SparePool, OneHalfLentPairsAreReusedAndTheLeastRecentlyUsedKeycodeIsLentNext) {
  SparePool pool(kSettle);
  pool.SetKeycodes({200, 201, 202}, KeepAll);

  SparePool::Lease a = LendAt(pool, 0x6d6, 0x6f6, 1000);
  ASSERT_GE(a.slot, 0);
  EXPECT_TRUE(a.remap);
  EXPECT_EQ(a.half, 0);

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
  EXPECT_EQ(fourth.half, 0);
  EXPECT_EQ(pool.slot(fourth.slot).half[0].lower, 0x100u);
  EXPECT_EQ(fourth.readyAtUs, 2000 + kSettle);
}

TEST(SparePool, TwoHalvesDoubleTheCapacityButAKeycodeSettlesAsAWhole) {
  SparePool pool(kSettle);
  pool.SetHalves(2);
  pool.SetKeycodes({200, 201}, KeepAll);
  // Four pairs fit on two keycodes without any pair being replaced.
  for (unsigned long p = 1; p <= 4; ++p)
    ASSERT_GE(LendAt(pool, p, p + 100, static_cast<int64_t>(p - 1) * 2 * kSettle).slot, 0);
  const int64_t t = 10 * kSettle;
  for (unsigned long p = 1; p <= 4; ++p)
    EXPECT_FALSE(pool.Find(p, p + 100, t, false).remap) << "pair " << p;
  EXPECT_EQ(pool.slot(0).half[0].lower + pool.slot(0).half[1].lower +
                pool.slot(1).half[0].lower + pool.slot(1).half[1].lower,
            1u + 2 + 3 + 4);

  // Pair 1 has not been typed for long, but the other pair of its keycode
  // just was: that keycode is not changed before the settle time from that
  // key, and the other keycode (whose last key came earlier) is taken.
  int a = pool.slot(0).half[0].lower == 1 || pool.slot(0).half[1].lower == 1 ? 0 : 1;
  int aOther = pool.slot(a).half[0].lower == 1 ? 1 : 0;
  pool.Use(a, aOther, t + 50000);
  pool.Use(1 - a, 0, t + 40000);
  pool.Use(1 - a, 1, t + 40000);
  SparePool::Lease next = pool.Find(9, 109, t + 60000, false);
  EXPECT_EQ(next.slot, 1 - a);
  EXPECT_EQ(next.readyAtUs, t + 40000 + kSettle);

  // Once both have settled, the half used longest ago goes: pair 1.
  next = pool.Find(9, 109, t + 50000 + kSettle, false);
  EXPECT_EQ(next.slot, a);
  EXPECT_EQ(pool.slot(a).half[next.half].lower, 1u);
  EXPECT_EQ(next.readyAtUs, t + 50000 + kSettle);
}

TEST(SparePool, KeyLendsTakeAWholeTwoLevelKeyAndAreFoundOnlyAsKeys) {
  SparePool pool(kSettle);
  pool.SetHalves(2);
  pool.SetKeycodes({200}, KeepAll);
  SparePool::Lease ch = LendAt(pool, 'x', 'X', 0);
  LendAt(pool, 'y', 'Y', 10);
  EXPECT_EQ(pool.slot(ch.slot).half[1].lower, static_cast<unsigned long>('y'));

  // A virtual key for the same letters is not served by the character pair.
  SparePool::Lease key = pool.Find('x', 'X', 20, true);
  EXPECT_TRUE(key.remap);
  EXPECT_EQ(key.half, 0);
  EXPECT_EQ(key.readyAtUs, pool.slot(key.slot).lastUseUs + kSettle);
  pool.Assign(key.slot, 0, 'x', 'X', true);
  pool.Use(key.slot, 0, 2 * kSettle);
  EXPECT_TRUE(pool.slot(key.slot).keyLend);
  EXPECT_EQ(pool.slot(key.slot).half[1].lower, 0u) << "a two-level key keeps no second pair";
  EXPECT_FALSE(pool.Find('x', 'X', 2 * kSettle, true).remap);
  // Nor may a character take the free half of a two-level key.
  SparePool::Lease y = pool.Find('y', 'Y', 4 * kSettle, false);
  EXPECT_TRUE(y.remap);
  EXPECT_EQ(y.half, 0);
  pool.Assign(y.slot, y.half, 'y', 'Y', false);
  EXPECT_FALSE(pool.slot(y.slot).keyLend);
}

TEST(SparePool, HeldKeysAreNotLentAndUnpinningFreesThem) {
  SparePool pool(kSettle);
  pool.SetHalves(2);
  pool.SetKeycodes({200}, KeepAll);
  SparePool::Lease l = LendAt(pool, 'a', 'A', 0, true);
  pool.Pin(l.slot);
  EXPECT_EQ(pool.Find('b', 'B', 10 * kSettle, false).slot, -1);
  EXPECT_EQ(pool.Find('a', 'A', 10 * kSettle, true).slot, l.slot); // the held pair is still found
  pool.Unpin(l.slot);
  pool.Unpin(l.slot); // an extra release does no harm
  EXPECT_EQ(pool.Find('b', 'B', 10 * kSettle, false).slot, l.slot);
}

TEST(SparePool, NewKeycodeSetsKeepWhatIsStillLentAndDropTheRest) {
  SparePool pool(kSettle);
  pool.SetHalves(2);
  pool.SetKeycodes({200, 201}, KeepAll);
  SparePool::Lease l = LendAt(pool, 'x', 'X', 777);
  LendAt(pool, 'y', 'Y', 778);
  LendAt(pool, 'z', 'Z', 779);
  unsigned kc = pool.slot(l.slot).keycode;

  pool.SetKeycodes({kc, 210}, KeepAll);
  EXPECT_EQ(pool.size(), 2u);
  SparePool::Lease kept = pool.Find('x', 'X', 1000, false);
  EXPECT_FALSE(kept.remap);
  EXPECT_EQ(pool.slot(kept.slot).half[0].lastUseUs, 777);

  // The keymap no longer shows one half (another client replaced it): that
  // pair is dropped, the other stays, and the keycode is still ours to restore.
  pool.SetKeycodes({kc}, [](unsigned, int half, unsigned long, unsigned long) { return half == 1; });
  EXPECT_TRUE(pool.Find('x', 'X', 1000, false).remap);
  EXPECT_TRUE(pool.slot(0).lent());
  EXPECT_FALSE(pool.IsSpare(210));

  // Without a level-3 key, pairs on half 1 are not typed any more but are
  // still recorded until restored.
  pool.SetHalves(1);
  unsigned long onHalf1 = pool.slot(0).half[1].lower;
  EXPECT_TRUE(pool.Find(onHalf1, onHalf1 - 0x20, 1000, false).remap);
  EXPECT_TRUE(pool.slot(0).lent());

  pool.ClearAll();
  EXPECT_FALSE(pool.slot(0).lent());
}

} // namespace
