// The sleep watch: logind's sleep and resume announcements on the system bus
// reach a window as posted messages, and without logind one trace line says
// so. The watch runs once per process, so each case runs in its own.
#include "platform/power.h"
#include "tests/link/link_harness.h"
#include "tests/support/logind_stand_in.h"
#include "tests/support/trace_lines.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace linktest {
namespace {

constexpr UINT kSleepMessage = WM_APP + 7;
constexpr int kWaitMs = 15000;

LRESULT Quiet(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

HWND MakeTarget() {
  WNDCLASSW cls{};
  cls.lpfnWndProc = &Quiet;
  cls.lpszClassName = u"SleepTarget";
  RegisterClassW(&cls);
  return CreateWindowExW(0, u"SleepTarget", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                         nullptr);
}

// The wParam of the next sleep message within kWaitMs, or -1.
int NextSleepMessage(HWND target) {
  for (int waited = 0; waited < kWaitMs; waited += 10) {
    MSG m;
    if (PeekMessageW(&m, target, kSleepMessage, kSleepMessage, PM_REMOVE))
      return static_cast<int>(m.wParam);
    usleep(10000);
  }
  return -1;
}

bool WaitForTrace(const testtrace::TraceLines &traces, const std::string &part) {
  for (int waited = 0; waited < kWaitMs; waited += 10) {
    if (traces.CountContaining(part) > 0)
      return true;
    usleep(10000);
  }
  return false;
}

TEST(SleepWatch, LogindsSleepAndResumeArePostedAndOthersSignalsIgnored) {
  if (!testbus::DbusmockAvailable())
    GTEST_SKIP() << "python3-dbusmock is not installed";
  RunIsolated([] {
    testbus::Daemon bus = testbus::StartBus();
    ASSERT_FALSE(bus.address.empty());
    setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address.c_str(), 1);
    testbus::LogindStandIn logind(bus.address);
    ASSERT_TRUE(logind.Ready());
    testtrace::TraceLines traces;
    HWND target = MakeTarget();
    StartSleepWatch(target, kSleepMessage);
    ASSERT_TRUE(WaitForTrace(traces, "power: watching logind for sleep and resume"));

    // Another program sending logind's signal is not logind.
    sd_bus *other = testbus::Connect(bus.address);
    ASSERT_NE(other, nullptr);
    ASSERT_GE(sd_bus_emit_signal(other, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                 "PrepareForSleep", "b", 1),
              0);
    sd_bus_flush(other);
    ASSERT_TRUE(logind.PrepareForSleep(true));
    ASSERT_TRUE(logind.PrepareForSleep(false));
    EXPECT_EQ(NextSleepMessage(target), 1);
    EXPECT_EQ(NextSleepMessage(target), 0);
    EXPECT_EQ(traces.Count("power: the machine is about to sleep"), 1);
    EXPECT_EQ(traces.Count("power: the machine has resumed"), 1);

    EXPECT_TRUE(StopSleepWatch(5000));
    sd_bus_flush_close_unref(other);
    testbus::Stop(bus.pid);
  });
}

TEST(SleepWatch, WithoutLogindOrWithoutABusOneTraceLineSaysSo) {
  if (!testbus::DbusmockAvailable())
    GTEST_SKIP() << "python3-dbusmock is not installed";
  const char *const ending = "a link is not connected again after the machine resumes";
  // A bus without logind.
  RunIsolated([&] {
    testbus::Daemon bus = testbus::StartBus();
    ASSERT_FALSE(bus.address.empty());
    setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address.c_str(), 1);
    testtrace::TraceLines traces;
    StartSleepWatch(MakeTarget(), kSleepMessage);
    ASSERT_TRUE(WaitForTrace(traces, ending));
    EXPECT_TRUE(StopSleepWatch(5000));
    EXPECT_EQ(traces.Lines(),
              std::vector<std::string>{std::string("power: no logind on the system bus: ") + ending});
    testbus::Stop(bus.pid);
  });
  // No bus at all.
  RunIsolated([&] {
    TempRoot root;
    setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + root.path() + "/no-bus").c_str(), 1);
    testtrace::TraceLines traces;
    StartSleepWatch(MakeTarget(), kSleepMessage);
    ASSERT_TRUE(WaitForTrace(traces, ending));
    EXPECT_TRUE(StopSleepWatch(5000));
    std::vector<std::string> lines = traces.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("power: no system bus (", 0), 0u) << lines[0];
  });
}

} // namespace
} // namespace linktest
