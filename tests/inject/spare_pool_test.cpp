// Lending spare keycodes: a pair already lent is reused without a keymap
// change, the least recently used keycode is lent next, never before the
// settle time since its last key, and never while its key is held down.
#include "platform/xtest/spare_pool.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t kSettle = 100000;
auto KeepAll = [](unsigned, unsigned long, unsigned long) { return true; };

TEST(SparePool, LentPairsAreReusedAndTheLeastRecentlyUsedKeycodeIsLentNext) {
  SparePool pool(kSettle);
  pool.SetKeycodes({200, 201, 202}, KeepAll);

  SparePool::Lease a = pool.Find(0x6d6, 0x6f6);
  ASSERT_GE(a.slot, 0);
  EXPECT_TRUE(a.remap);
  pool.Assign(a.slot, 0x6d6, 0x6f6);
  pool.Use(a.slot, 1000);

  SparePool::Lease again = pool.Find(0x6d6, 0x6f6);
  EXPECT_EQ(again.slot, a.slot);
  EXPECT_FALSE(again.remap);

  // Fill the other two, then a fourth pair takes the one used longest ago.
  for (int i = 0; i < 2; ++i) {
    SparePool::Lease l = pool.Find(0x100 + i, 0);
    ASSERT_NE(l.slot, a.slot);
    pool.Assign(l.slot, 0x100 + i, 0);
    pool.Use(l.slot, 2000 + i);
  }
  pool.Use(a.slot, 5000); // ж typed again: now the most recent
  SparePool::Lease fourth = pool.Find(0x200, 0);
  EXPECT_TRUE(fourth.remap);
  EXPECT_EQ(pool.slot(fourth.slot).lower, 0x100u);
  EXPECT_EQ(fourth.readyAtUs, 2000 + kSettle);
}

TEST(SparePool, HeldKeysAreNotLentAndUnpinningFreesThem) {
  SparePool pool(kSettle);
  pool.SetKeycodes({200}, KeepAll);
  SparePool::Lease l = pool.Find('a', 'A');
  pool.Assign(l.slot, 'a', 'A');
  pool.Pin(l.slot);
  EXPECT_EQ(pool.Find('b', 'B').slot, -1);
  EXPECT_EQ(pool.Find('a', 'A').slot, l.slot); // the held pair itself is still found
  pool.Unpin(l.slot);
  pool.Unpin(l.slot); // an extra release does no harm
  EXPECT_EQ(pool.Find('b', 'B').slot, l.slot);
}

TEST(SparePool, NewKeycodeSetsKeepWhatIsStillLentAndDropTheRest) {
  SparePool pool(kSettle);
  pool.SetKeycodes({200, 201}, KeepAll);
  SparePool::Lease l = pool.Find('x', 'X');
  pool.Assign(l.slot, 'x', 'X');
  pool.Use(l.slot, 777);
  unsigned kc = pool.slot(l.slot).keycode;

  pool.SetKeycodes({kc, 210}, KeepAll);
  EXPECT_EQ(pool.size(), 2u);
  SparePool::Lease kept = pool.Find('x', 'X');
  EXPECT_FALSE(kept.remap);
  EXPECT_EQ(pool.slot(kept.slot).lastUseUs, 777);

  // The keymap no longer shows our pair (another client replaced it).
  pool.SetKeycodes({kc}, [](unsigned, unsigned long, unsigned long) { return false; });
  EXPECT_TRUE(pool.Find('x', 'X').remap);
  EXPECT_FALSE(pool.IsSpare(210));

  pool.ClearAll();
  EXPECT_EQ(pool.slot(0).lower, 0u);
}

} // namespace
