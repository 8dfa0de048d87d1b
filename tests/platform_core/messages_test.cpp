// The window and message core: creation, destruction, posting and sending
// across threads, timers, message boxes, resources.
#include "platform/clock.h"
#include "platform/inject.h"
#include "platform/threads.h"
#include "platform/trace.h"
#include "platform/window.h"
#include "tests/support/trace_lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Seen {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD thread;
};
std::vector<Seen> gSeen; // touched by the window's own thread only

LRESULT CALLBACK_Record(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_CREATE) {
    auto *cs = reinterpret_cast<CREATESTRUCTW *>(l);
    if (cs->lpCreateParams == reinterpret_cast<void *>(-1))
      return -1;
  }
  if (msg == WM_USER + 50)
    return static_cast<LRESULT>(w * 2);
  gSeen.push_back(Seen{hwnd, msg, w, l, GetCurrentThreadId()});
  return DefWindowProcW(hwnd, msg, w, l);
}

class MessagesTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    WNDCLASSW cls{};
    cls.lpfnWndProc = CALLBACK_Record;
    cls.lpszClassName = u"RecordWnd";
    RegisterClassW(&cls);
  }
  void SetUp() override {
    gSeen.clear();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  HWND Make(HWND owner = nullptr, void *param = nullptr) {
    return CreateWindowExW(0, u"RecordWnd", u"t", 0, 0, 0, 10, 10, owner, nullptr, nullptr, param);
  }
  // Runs the loop until `until` returns true or the time is up.
  template <typename F> void PumpUntil(F until, DWORD ms = 5000) {
    DWORD start = GetTickCount();
    MSG msg;
    while (!until() && GetTickCount() - start < ms) {
      if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
      else
        Sleep(1);
    }
  }
  size_t Count(UINT message) {
    size_t n = 0;
    for (const Seen &s : gSeen)
      n += s.message == message;
    return n;
  }
};

TEST_F(MessagesTest, CreateSendsWmCreateAndMinusOneAborts) {
  HWND hwnd = Make();
  ASSERT_NE(hwnd, nullptr);
  ASSERT_EQ(gSeen.size(), 1u);
  EXPECT_EQ(gSeen[0].message, static_cast<UINT>(WM_CREATE));
  EXPECT_EQ(FindWindowW(u"recordwnd", nullptr), hwnd);
  EXPECT_EQ(Make(nullptr, reinterpret_cast<void *>(-1)), nullptr);
  EXPECT_EQ(Count(WM_DESTROY), 1u); // the aborted window was taken down
  DestroyWindow(hwnd);
  EXPECT_EQ(FindWindowW(u"RecordWnd", nullptr), nullptr);
}

TEST_F(MessagesTest, DestroyTakesOwnedWindowsAndStaleHandlesStayDead) {
  HWND owner = Make();
  HWND owned = Make(owner);
  EXPECT_EQ(GetParent(owned), owner);
  // An owned window is its own top-level window; only children climb.
  EXPECT_EQ(GetTopLevelWindow(owned), owned);
  SetWindowLongW(owner, GWL_USERDATA, 77);
  EXPECT_EQ(GetWindowLongW(owner, GWL_USERDATA), 77);
  ASSERT_TRUE(SetTimer(owner, 1, 10, nullptr));
  EXPECT_TRUE(PostMessageW(owner, WM_USER + 1, 0, 0));
  EXPECT_TRUE(DestroyWindow(owner));
  EXPECT_FALSE(IsWindow(owner));
  EXPECT_FALSE(IsWindow(owned));
  EXPECT_EQ(Count(WM_DESTROY), 2u);
  // Nothing of the dead window comes out of the queue: neither the message
  // posted before nor its timer, and a new post is refused.
  EXPECT_FALSE(PostMessageW(owner, WM_USER + 2, 0, 0));
  Sleep(30);
  MSG msg;
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  // A new window never gets an old handle back.
  HWND next = Make();
  EXPECT_NE(next, owner);
  EXPECT_NE(next, owned);
  EXPECT_EQ(SendMessageW(owner, WM_USER + 50, 1, 0), 0);
  DestroyWindow(next);
}

TEST_F(MessagesTest, PostFromAnotherThreadArrivesInOrderAndWakesTheLoop) {
  HWND hwnd = Make();
  DWORD me = GetCurrentThreadId();
  std::thread poster([hwnd] {
    Sleep(50); // the loop below is blocked in GetMessageW by then
    for (int i = 0; i < 500; ++i)
      PostMessageW(hwnd, WM_USER + 1, i, 0);
    PostMessageW(hwnd, WM_USER + 2, 0, 0);
  });
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0)) {
    DispatchMessageW(&msg);
    if (msg.message == WM_USER + 2)
      break;
  }
  poster.join();
  std::vector<WPARAM> order;
  for (const Seen &s : gSeen)
    if (s.message == WM_USER + 1) {
      order.push_back(s.wParam);
      EXPECT_EQ(s.thread, me);
    }
  ASSERT_EQ(order.size(), 500u);
  for (size_t i = 0; i < order.size(); ++i)
    EXPECT_EQ(order[i], i);
  DestroyWindow(hwnd);
}

// A queue that nothing reads (a thread that posts to no window, or a
// flooded window) stops growing at its limit: further posts fail with a
// single trace line, and the queue takes posts again once it has drained.
TEST_F(MessagesTest, FullQueueRefusesPostsUntilItDrains) {
  auto traces = std::make_unique<testtrace::TraceLines>();
  HWND hwnd = Make();
  std::thread poster([hwnd] {
    for (int i = 0; i < 10000; ++i)
      ASSERT_TRUE(PostMessageW(hwnd, WM_USER + 1, i, 0));
    for (int i = 0; i < 3; ++i) {
      SetLastError(0);
      EXPECT_FALSE(PostMessageW(hwnd, WM_USER + 1, 0, 0));
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_QUOTA));
    }
    // The poster's own thread queue is bounded the same way.
    for (int i = 0; i < 10000; ++i)
      ASSERT_TRUE(PostMessageW(nullptr, WM_USER + 3, i, 0));
    EXPECT_FALSE(PostMessageW(nullptr, WM_USER + 3, 0, 0));
  });
  poster.join();
  EXPECT_EQ(traces->Lines().size(), 2u) << "one line per queue that filled up";
  traces.reset();
  MSG msg;
  int taken = 0;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    taken += msg.message == WM_USER + 1;
  EXPECT_EQ(taken, 10000);
  EXPECT_TRUE(PostMessageW(hwnd, WM_USER + 2, 0, 0));
  DestroyWindow(hwnd);
}

TEST_F(MessagesTest, TimerRestartedFromAnotherThreadFiresOnceAfterTheNewPeriod) {
  HWND hwnd = Make();
  DWORD start = GetTickCount();
  SetTimer(hwnd, 3, 200, nullptr);
  std::thread other([hwnd] {
    Sleep(100);
    SetTimer(hwnd, 3, 500, nullptr); // now due about 600 ms after start
  });
  DWORD firstAt = 0;
  PumpUntil([&] {
    if (!firstAt && Count(WM_TIMER)) {
      firstAt = GetTickCount() - start;
      KillTimer(hwnd, 3);
    }
    return firstAt != 0;
  });
  other.join();
  EXPECT_GE(firstAt, 550u);
  EXPECT_LT(firstAt, 3000u);
  PumpUntil([] { return false; }, 700);
  EXPECT_EQ(Count(WM_TIMER), 1u); // killed: no second expiry
  EXPECT_EQ(gSeen.back().wParam, 3u);
  DestroyWindow(hwnd);
}

// A timer restarted again and again (the link's keep-alive timers, at every
// key) only moves its deadline later: its thread is not woken for that, and
// still takes the timer once, at the new deadline. A restart that brings
// the deadline nearer wakes it.
std::atomic<int> gWakes{0};
std::atomic<DWORD> gToolkitThread{0};
void CountWake(DWORD, void *) { ++gWakes; }

TEST_F(MessagesTest, RestartingATimerLaterWakesNoThreadBringingItNearerDoes) {
  HWND hwnd = Make();
  WindowSystemHooks hooks{};
  hooks.wake = &CountWake;
  SetWindowSystemHooks(&hooks);
  gWakes = 0;
  SetTimer(hwnd, 4, 10000, nullptr);
  EXPECT_EQ(gWakes.load(), 1) << "a new timer wakes its thread";
  std::thread other([hwnd] {
    for (int i = 0; i < 100; ++i)
      SetTimer(hwnd, 4, 10000, nullptr);
  });
  other.join();
  EXPECT_EQ(gWakes.load(), 1) << "restarts that move the deadline later woke the thread";
  std::thread nearer([hwnd] { SetTimer(hwnd, 4, 50, nullptr); });
  nearer.join();
  EXPECT_EQ(gWakes.load(), 2);
  SetWindowSystemHooks(nullptr);
  PumpUntil([&] { return Count(WM_TIMER) > 0; });
  EXPECT_EQ(Count(WM_TIMER), 1u);
  KillTimer(hwnd, 4);
  DestroyWindow(hwnd);
}

// A toolkit that keeps the thread's next deadline in a timer of its own is
// told the changes and re-arms it: a timer restarted from other threads,
// nearer or later, or killed, wakes the thread for nothing, and the deadline
// the toolkit holds is never the old one once it is near: restarts at every
// key re-arm it now and then, not at each.
std::atomic<int> gToolkitDueMs{-2}, gToolkitReports{0};
bool KeepToolkitTimer(DWORD thread, int dueMs, void *) {
  if (thread != gToolkitThread)
    return false; // not the toolkit's thread
  gToolkitDueMs = dueMs;
  ++gToolkitReports;
  return true;
}

TEST_F(MessagesTest, AToolkitTimerFollowsRestartsAndKillsWithoutWakes) {
  VirtualClockScope clock(VirtualClock::Manual);
  HWND hwnd = Make();
  gToolkitThread = GetCurrentThreadId();
  WindowSystemHooks hooks{};
  hooks.wake = &CountWake;
  hooks.timerDue = &KeepToolkitTimer;
  SetWindowSystemHooks(&hooks);
  gWakes = 0;
  gToolkitReports = 0;
  SetTimer(hwnd, 4, 10000, nullptr);
  EXPECT_EQ(gToolkitDueMs.load(), 10000);
  std::thread([hwnd] {
    for (int i = 0; i < 100; ++i)
      SetTimer(hwnd, 4, 10000, nullptr);
  }).join();
  EXPECT_EQ(gToolkitReports.load(), 1) << "restarts re-armed the toolkit's timer at each";
  // Restarted once the held deadline is less than half the way off: the
  // toolkit holds the new one, and the old one goes off for no one.
  AdvanceVirtualClock(6000);
  gWakes = 0; // the clock's step wakes every waiting thread
  std::thread([hwnd] { SetTimer(hwnd, 4, 10000, nullptr); }).join();
  EXPECT_EQ(gToolkitDueMs.load(), 10000) << "the old deadline was left armed";
  std::thread([hwnd] { SetTimer(hwnd, 4, 50, nullptr); }).join();
  EXPECT_EQ(gToolkitDueMs.load(), 50);
  std::thread([hwnd] { KillTimer(hwnd, 4); }).join();
  EXPECT_EQ(gToolkitDueMs.load(), -1) << "a killed timer left its deadline armed";
  EXPECT_EQ(gWakes.load(), 0) << "the thread was woken though its toolkit timer was re-armed";
  // Another thread's timer is not the toolkit's: its thread is woken.
  std::thread([] {
    UINT_PTR id = SetTimer(nullptr, 0, 10000, nullptr);
    KillTimer(nullptr, id);
  }).join();
  EXPECT_EQ(gWakes.load(), 1);
  EXPECT_EQ(gToolkitDueMs.load(), -1);
  SetWindowSystemHooks(nullptr);
  DestroyWindow(hwnd);
}

// Timers share their thread's wake-ups: one nearly due when another is
// taken goes with it, one further off waits, and a periodic timer keeps its
// rhythm however late its thread took it.
TEST_F(MessagesTest, NearlyDueTimersGoTogetherAndPeriodsKeepTheirRhythm) {
  VirtualClockScope clock(VirtualClock::Manual);
  HWND hwnd = Make();
  SetTimer(hwnd, 1, 1000, nullptr);
  SetTimer(hwnd, 2, 1030, nullptr);  // within 50 ms of timer 1
  SetTimer(hwnd, 3, 1200, nullptr);  // further off than its slack (60 ms)
  auto taken = [] {
    std::vector<WPARAM> ids;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      if (msg.message == WM_TIMER)
        ids.push_back(msg.wParam);
    return ids;
  };
  AdvanceVirtualClock(999);
  EXPECT_TRUE(taken().empty()) << "a timer went before any was due";
  AdvanceVirtualClock(11); // 1010 ms: timer 1 is due, ten ms late
  EXPECT_EQ(taken(), (std::vector<WPARAM>{1, 2}));
  AdvanceVirtualClock(180); // 1190 ms
  EXPECT_TRUE(taken().empty());
  AdvanceVirtualClock(10); // 1200 ms
  EXPECT_EQ(taken(), (std::vector<WPARAM>{3}));
  AdvanceVirtualClock(799); // 1999 ms: timer 1's next expiry is at 2000, not 2010
  EXPECT_TRUE(taken().empty());
  AdvanceVirtualClock(1); // 2000 ms; timer 2 (next at 2040) goes with it
  EXPECT_EQ(taken(), (std::vector<WPARAM>{1, 2}));
  AdvanceVirtualClock(5000); // far behind: one of each, no backlog
  std::vector<WPARAM> behind = taken();
  std::sort(behind.begin(), behind.end());
  EXPECT_EQ(behind, (std::vector<WPARAM>{1, 2, 3}));
  for (UINT_PTR id : {1, 2, 3})
    KillTimer(hwnd, id);
  DestroyWindow(hwnd);
}

TEST_F(MessagesTest, RepeatingTimerAndNextDue) {
  HWND hwnd = Make();
  EXPECT_EQ(NextTimerDueMs(), -1);
  SetTimer(hwnd, 9, 40, nullptr);
  int due = NextTimerDueMs();
  EXPECT_GT(due, 0);
  EXPECT_LE(due, 40);
  PumpUntil([&] { return Count(WM_TIMER) >= 3; });
  EXPECT_GE(Count(WM_TIMER), 3u);
  EXPECT_TRUE(KillTimer(hwnd, 9));
  EXPECT_FALSE(KillTimer(hwnd, 9));
  EXPECT_EQ(NextTimerDueMs(), -1);
  DestroyWindow(hwnd);
}

TEST_F(MessagesTest, SendFromAnotherThreadRunsOnTheWindowsThread) {
  HWND hwnd = Make();
  std::atomic<LRESULT> result{-1};
  std::atomic<bool> finished{false};
  std::thread sender([&] {
    result = SendMessageW(hwnd, WM_USER + 50, 21, 0);
    finished = true;
  });
  PumpUntil([&] { return finished.load(); });
  sender.join();
  EXPECT_EQ(result.load(), 42);
  EXPECT_EQ(SendMessageW(hwnd, WM_USER + 50, 5, 0), 10); // same thread: direct
  DestroyWindow(hwnd);
}

TEST_F(MessagesTest, SendToAWindowDestroyedMeanwhileReturnsZero) {
  HWND hwnd = Make();
  std::atomic<LRESULT> result{-1};
  std::thread sender([&] { result = SendMessageW(hwnd, WM_USER + 50, 21, 0); });
  Sleep(100); // the send is queued; this thread does not pump
  DestroyWindow(hwnd);
  sender.join();
  EXPECT_EQ(result.load(), 0);
}

TEST_F(MessagesTest, QuitEndsGetMessageWithItsCode) {
  PostQuitMessage(3);
  MSG msg;
  EXPECT_FALSE(GetMessageW(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(MessagesTest, WakeHookHearsPostsForTheWindowsThread) {
  static std::atomic<DWORD> woken{0};
  WindowSystemHooks hooks{};
  hooks.wake = [](DWORD thread, void *) { woken = thread; };
  SetWindowSystemHooks(&hooks);
  HWND hwnd = Make();
  std::thread([hwnd] { PostMessageW(hwnd, WM_USER + 1, 0, 0); }).join();
  EXPECT_EQ(woken.load(), GetCurrentThreadId());
  int code = -1;
  EXPECT_TRUE(PumpThreadMessages(&code));
  EXPECT_EQ(Count(WM_USER + 1), 1u);
  PostQuitMessage(4);
  EXPECT_FALSE(PumpThreadMessages(&code));
  EXPECT_EQ(code, 4);
  SetWindowSystemHooks(nullptr);
  DestroyWindow(hwnd);
}

TEST_F(MessagesTest, FocusForegroundAndVisibilityHeadless) {
  HWND hwnd = Make();
  EXPECT_FALSE(IsWindowVisible(hwnd));
  ShowWindow(hwnd, SW_SHOW);
  EXPECT_TRUE(IsWindowVisible(hwnd));
  HWND other = Make();
  EXPECT_TRUE(SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(other) | 1)));
  EXPECT_EQ(GetFocus(), other);
  DestroyWindow(other);
  EXPECT_EQ(GetFocus(), nullptr);
  DestroyWindow(hwnd);
}

TEST(MessageBoxes, DefaultAnswersAndPresenter) {
  EXPECT_EQ(MessageBoxW(nullptr, u"Calibrate?", u"Vantrel", MB_YESNO), IDNO);
  EXPECT_EQ(MessageBoxW(nullptr, u"Done", u"Vantrel", MB_OK), IDOK);
  static std::u16string shown;
  SetMessageBoxPresenter(
      [](HWND, LPCWSTR text, LPCWSTR, UINT, void *) {
        shown = text;
        return IDYES;
      },
      nullptr);
  EXPECT_EQ(MessageBoxW(nullptr, u"Calibrate?", u"Vantrel", MB_YESNO), IDYES);
  EXPECT_EQ(shown, u"Calibrate?");
  SetMessageBoxPresenter(nullptr, nullptr);
}

// Characters the injection backend holds back (it sends them when the
// typing thread is about to wait for input) go out before a box of that
// thread waits for the person, not when it is closed.
TEST(MessageBoxes, KeysHeldBackForTheNextWaitGoOutBeforeTheBox) {
  static int flushes = 0;
  static int flushesWhenAsked = -1;
  InjectOps ops{"held back", nullptr, nullptr, nullptr, nullptr, nullptr,
                [](void *) { ++flushes; }, nullptr};
  InjectSetBackend(&ops);
  SetMessageBoxPresenter(
      [](HWND, LPCWSTR, LPCWSTR, UINT, void *) {
        flushesWhenAsked = flushes;
        return IDOK;
      },
      nullptr);
  MessageBoxW(nullptr, u"App requested disconnect", u"Vantrel", MB_OK);
  SetMessageBoxPresenter(nullptr, nullptr);
  InjectSetBackend(nullptr);
  EXPECT_EQ(flushesWhenAsked, 1);
}

TEST(Resources, AbsentIsNullRegisteredIsFound) {
  static const char bytes[] = "template";
  EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(4711), RT_DIALOG), nullptr);
  RegisterResource(RT_DIALOG, 4711, bytes, sizeof bytes);
  HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(4711), RT_DIALOG);
  ASSERT_NE(res, nullptr);
  EXPECT_EQ(SizeofResource(nullptr, res), sizeof bytes);
  EXPECT_EQ(LockResource(LoadResource(nullptr, res)), bytes);
  EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(4711), RT_MENU), nullptr);
  EXPECT_EQ(DialogBoxIndirectParamW(nullptr,
                                    static_cast<const DLGTEMPLATE *>(LockResource(res)),
                                    nullptr, nullptr, 0),
            -1); // no toolkit attached
}

} // namespace
