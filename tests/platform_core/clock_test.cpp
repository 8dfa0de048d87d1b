// The virtual clock that tests put the link on: Sleep on a Manual clock
// waits for the clock, on an Auto clock it moves the clock; window timers
// and a waiting message loop follow the clock; the real clock comes back.
#include "platform/clock.h"
#include "platform/threads.h"
#include "platform/window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// Waits (real time, bounded) until a thread sleeps on the clock until a
// time still ahead; returns that time.
bool SleeperAhead(DWORD *wake) {
  for (int i = 0; i < 5000; ++i) {
    if (NextSleeperWake(wake) && static_cast<int32_t>(*wake - GetTickCount()) > 0)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

TEST(VirtualClock, ManualSleepEndsOnlyWhenTheClockHasMovedFarEnough) {
  VirtualClockScope clock(VirtualClock::Manual);
  const DWORD start = GetTickCount();
  std::atomic<bool> woke{false};
  std::thread sleeper([&] {
    Sleep(300);
    woke = true;
  });
  DWORD wake = 0;
  ASSERT_TRUE(SleeperAhead(&wake));
  EXPECT_EQ(wake - start, 300u);
  AdvanceVirtualClock(299);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(woke.load()) << "woke before its time";
  AdvanceVirtualClock(1);
  sleeper.join();
  EXPECT_TRUE(woke.load());
  EXPECT_EQ(GetTickCount() - start, 300u);
  EXPECT_FALSE(NextSleeperWake(nullptr));
}

TEST(VirtualClock, AutoSleepMovesTheClockOnAtOnce) {
  VirtualClockScope clock(VirtualClock::Auto);
  const DWORD start = GetTickCount();
  auto real = std::chrono::steady_clock::now();
  Sleep(60000);
  std::thread other([] { Sleep(30000); });
  other.join();
  EXPECT_EQ(GetTickCount() - start, 90000u);
  // Sleeping for real would take a minute and a half.
  EXPECT_LT(std::chrono::steady_clock::now() - real, std::chrono::milliseconds(60000));
}

LRESULT Quiet(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcW(h, m, w, l); }

TEST(VirtualClock, TimersFireAsTheClockPassesThemAndWakeAWaitingLoop) {
  VirtualClockScope clock(VirtualClock::Manual);
  WNDCLASSW cls{};
  cls.lpfnWndProc = &Quiet;
  cls.lpszClassName = u"ClockTestWnd";
  RegisterClassW(&cls);
  std::atomic<HWND> wnd{nullptr};
  std::atomic<UINT_PTR> got{0};
  std::atomic<DWORD> at{0};
  std::thread ui([&] {
    HWND w = CreateWindowExW(0, u"ClockTestWnd", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    SetTimer(w, 7, 10000, nullptr);
    wnd = w;
    MSG m;
    // Without a virtual deadline of its own, only the clock ends this wait.
    while (GetMessageW(&m, nullptr, 0, 0)) {
      if (m.message == WM_TIMER) {
        got = m.wParam;
        at = m.time;
        KillTimer(w, 7);
        DestroyWindow(w);
        PostQuitMessage(0);
      }
    }
  });
  while (!wnd.load())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const DWORD start = GetTickCount();
  AdvanceVirtualClock(9999);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(got.load(), 0u) << "fired early";
  AdvanceVirtualClock(1);
  ui.join();
  EXPECT_EQ(got.load(), 7u);
  EXPECT_EQ(at.load() - start, 10000u);
}

TEST(VirtualClock, TurningItOffWakesSleepersAndBringsTheRealClockBack) {
  UseVirtualClock(VirtualClock::Manual);
  std::thread sleeper([] { Sleep(100000); });
  DWORD wake = 0;
  ASSERT_TRUE(SleeperAhead(&wake));
  UseVirtualClock(VirtualClock::Off);
  sleeper.join();
  EXPECT_EQ(VirtualClockMode(), VirtualClock::Off);
  const DWORD before = GetTickCount();
  Sleep(20);
  EXPECT_GE(GetTickCount() - before, 20u);
  AdvanceVirtualClock(5000); // no virtual clock: nothing to move
  EXPECT_LT(GetTickCount() - before, 5000u);
}

} // namespace
