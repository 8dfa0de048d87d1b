// Events, threads and the per-thread last error.
#include "platform/threads.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

DWORD SetAfterDelay(LPVOID event) {
  Sleep(100);
  SetEvent(static_cast<HANDLE>(event));
  return 7;
}

TEST(Events, AutoResetWakesOnceAndTimesOut) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  DWORD start = GetTickCount();
  EXPECT_EQ(WaitForSingleObject(event, 60), WAIT_TIMEOUT);
  EXPECT_GE(GetTickCount() - start, 50u);

  HANDLE thread = CreateThread(nullptr, 0, SetAfterDelay, event, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT); // consumed by the first wait
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_TRUE(CloseHandle(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
}

TEST(Events, ManualResetStaysSetUntilReset) {
  HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ResetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 20), WAIT_TIMEOUT);
  CloseHandle(event);
}

TEST(Events, NamedEventsAreSharedWhileOpen) {
  EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, u"VantrelTestEvent"), nullptr);
  HANDLE first = CreateEventW(nullptr, FALSE, FALSE, u"VantrelTestEvent");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  HANDLE second = CreateEventW(nullptr, FALSE, FALSE, u"VantrelTestEvent");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  HANDLE opened = OpenEventW(EVENT_ALL_ACCESS, FALSE, u"VantrelTestEvent");
  ASSERT_NE(opened, nullptr);
  EXPECT_NE(first, second);
  SetEvent(opened);
  EXPECT_EQ(WaitForSingleObject(second, 1000), WAIT_OBJECT_0);
  CloseHandle(first);
  CloseHandle(second);
  CloseHandle(opened);
  EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, u"VantrelTestEvent"), nullptr);
}

TEST(Threads, IdsAndLastErrorArePerThread) {
  static std::atomic<DWORD> seenId{0};
  static std::atomic<DWORD> seenError{0};
  SetLastError(1234);
  DWORD id = 0;
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID) -> DWORD {
        seenId = GetCurrentThreadId();
        seenError = GetLastError();
        SetLastError(99);
        return 0;
      },
      nullptr, 0, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(seenId.load(), id);
  EXPECT_NE(id, GetCurrentThreadId());
  EXPECT_EQ(seenError.load(), 0u);
  EXPECT_EQ(GetLastError(), 1234u);
  CloseHandle(thread);
}

} // namespace
