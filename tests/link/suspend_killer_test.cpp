// SuspendKiller against the registry's power time-outs, and the power
// manager's inhibits against mock logind and screensaver services on
// private buses.
#include "link/suspend_killer.h"
#include "platform/power.h"
#include "tests/link/link_harness.h"
#include "tests/support/private_bus.h"

#include <gtest/gtest.h>

#include <systemd/sd-bus.h>

namespace linktest {
namespace {

constexpr WCHAR kPath[] = u"System\\CurrentControlSet\\Control\\Power\\Timeouts";
const WCHAR *const kNames[3] = {u"BattUserIdle", u"BattSystemIdle", u"BattSuspend"};

void SetTimeouts(std::initializer_list<int> values) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  int i = 0;
  for (int v : values) {
    if (v >= 0)
      RegSetValueExW(key, kNames[i], 0, REG_DWORD, reinterpret_cast<const BYTE *>(&v), 4);
    else
      RegDeleteValueW(key, kNames[i]);
    ++i;
  }
  RegCloseKey(key);
}

// The three values, -1 for a missing one.
std::vector<int> Timeouts() {
  std::vector<int> out;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return out;
  for (const WCHAR *name : kNames) {
    DWORD v = 0, size = 4, type = 0;
    out.push_back(RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE *>(&v), &size) ==
                          ERROR_SUCCESS
                      ? static_cast<int>(v)
                      : -1);
  }
  RegCloseKey(key);
  return out;
}

// What SuspendKiller remembers across runs: the three values and "Engaged"
// (-1 for a missing one).
const WCHAR *const kRememberedNames[4] = {u"BattUserIdle", u"BattSystemIdle", u"BattSuspend",
                                          u"Engaged"};

std::vector<int> Remembered() {
  std::vector<int> out;
  HKEY key = nullptr;
  const bool open = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRememberedKey, 0, KEY_READ, &key) == ERROR_SUCCESS;
  for (const WCHAR *name : kRememberedNames) {
    DWORD v = 0, size = 4, type = 0;
    out.push_back(open && RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE *>(&v),
                                           &size) == ERROR_SUCCESS
                      ? static_cast<int>(v)
                      : -1);
  }
  if (open)
    RegCloseKey(key);
  return out;
}

// -1 deletes the value.
void SetRemembered(std::initializer_list<int> values) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRememberedKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  int i = 0;
  for (int v : values) {
    if (v >= 0)
      RegSetValueExW(key, kRememberedNames[i], 0, REG_DWORD, reinterpret_cast<const BYTE *>(&v), 4);
    else
      RegDeleteValueW(key, kRememberedNames[i]);
    ++i;
  }
  RegCloseKey(key);
}

bool KeptAwake() {
  EXPECT_TRUE(WaitForPowerManager(5000));
  return GetPowerManagerStatus().keepAwake;
}

class Power : public ::testing::Test {
protected:
  void SetUp() override { UseFreshRoot(root); }
  // The manager's thread (started by the first requirement or evaluation)
  // ends with the test, as at the program's end.
  void TearDown() override { EXPECT_TRUE(StopPowerManager(10000)); }
  TempRoot root;
};

TEST_F(Power, EngageZeroesAndReleaseRestoresTheTimeouts) {
  SetTimeouts({60, 120, 300});
  {
    SuspendKiller killer;
    EXPECT_EQ(killer.Engage(true), 1);
    EXPECT_EQ(Timeouts(), (std::vector<int>{0, 0, 0}));
    EXPECT_NE(killer.powerRequirement, nullptr);
    EXPECT_TRUE(KeptAwake());
    // A second engage must not save our own zeros over the real values.
    EXPECT_EQ(killer.Engage(true), 1);
    EXPECT_EQ(killer.Engage(false), 1);
    EXPECT_EQ(Timeouts(), (std::vector<int>{60, 120, 300}));
    EXPECT_EQ(killer.engaged, 0u);
    EXPECT_EQ(killer.saved, 0u);
    EXPECT_EQ(killer.powerRequirement, nullptr);
    EXPECT_FALSE(KeptAwake());
  }
  EXPECT_EQ(Timeouts(), (std::vector<int>{60, 120, 300})) << "the destructor had nothing to do";
}

TEST_F(Power, MissingValueIsCreatedAndRestoredAsItsDefault) {
  SetTimeouts({60, 120, -1});
  SuspendKiller killer;
  killer.Engage(true);
  EXPECT_EQ(Timeouts(), (std::vector<int>{0, 0, 0}));
  killer.Engage(false);
  EXPECT_EQ(Timeouts(), (std::vector<int>{60, 120, 240}));
}

TEST_F(Power, ReleaseWithoutEngageChangesNothing) {
  SetTimeouts({60, 120, 300});
  SuspendKiller killer;
  EXPECT_EQ(killer.Apply(false), 0) << "needs an open key only when there is something to do";
  EXPECT_EQ(killer.Engage(false), 1);
  EXPECT_EQ(Timeouts(), (std::vector<int>{60, 120, 300}));
}

TEST_F(Power, DestroyingAnEngagedObjectReleasesIt) {
  SetTimeouts({30, 45, 90});
  SuspendKiller *killer = new SuspendKiller();
  killer->Engage(true);
  EXPECT_TRUE(KeptAwake());
  delete killer; // through the virtual destructor, as the reader thread does
  EXPECT_EQ(Timeouts(), (std::vector<int>{30, 45, 90}));
  EXPECT_FALSE(KeptAwake());
}

TEST_F(Power, MissingKeyDoesNothing) {
  SuspendKiller killer;
  EXPECT_EQ(killer.Engage(true), 0);
  EXPECT_EQ(killer.engaged, 0u);
  EXPECT_EQ(killer.powerRequirement, nullptr);
  EXPECT_TRUE(Timeouts().empty());
}

TEST_F(Power, ZerosReadAreNeverTakenAsTheValuesToRestore) {
  // Zeros an earlier run left behind, its values remembered.
  SetTimeouts({0, 0, 0});
  SetRemembered({60, 120, 300, 0});
  {
    SuspendKiller killer;
    killer.Engage(true);
    EXPECT_EQ(Remembered(), (std::vector<int>{60, 120, 300, 1}));
    killer.Engage(false);
  }
  EXPECT_EQ(Timeouts(), (std::vector<int>{60, 120, 300}));
  EXPECT_EQ(Remembered(), (std::vector<int>{60, 120, 300, 0}));

  // Nothing remembered (an older settings database): a zero gives way to
  // the default, a value read is kept; neither is ever remembered as 0.
  SetRemembered({-1, -1, -1, -1});
  SetTimeouts({0, 90, 0});
  {
    SuspendKiller killer;
    killer.Engage(true);
    EXPECT_EQ(Remembered(), (std::vector<int>{120, 90, 240, 1}));
    killer.Engage(false);
  }
  EXPECT_EQ(Timeouts(), (std::vector<int>{120, 90, 240}));
  EXPECT_EQ(Remembered(), (std::vector<int>{120, 90, 240, 0}));
}

TEST_F(Power, AnEngagementNeverReleasedIsUndoneAtTheNextStart) {
  SetTimeouts({60, 120, 300});
  {
    // A run that ends while engaged: nothing releases the keeper.
    SuspendKiller killer;
    killer.Engage(true);
    ReleasePowerRequirement(killer.powerRequirement); // the process's end drops it
    killer.engaged = killer.saved = 0;
  }
  EXPECT_EQ(Timeouts(), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(Remembered(), (std::vector<int>{60, 120, 300, 1}));

  // The next start: a time-out the person changed meanwhile stays theirs.
  SetTimeouts({0, 45, 0});
  EXPECT_TRUE(RestoreAbandonedTimeouts());
  EXPECT_EQ(Timeouts(), (std::vector<int>{60, 45, 300}));
  EXPECT_EQ(Remembered()[3], 0);
  EXPECT_FALSE(RestoreAbandonedTimeouts()) << "only once";

  // Zeros not marked as ours are the person's own "never".
  SetTimeouts({0, 0, 0});
  EXPECT_FALSE(RestoreAbandonedTimeouts());
  EXPECT_EQ(Timeouts(), (std::vector<int>{0, 0, 0}));

  // Marked, with no values remembered: the defaults.
  SetRemembered({-1, -1, -1, 1});
  EXPECT_TRUE(RestoreAbandonedTimeouts());
  EXPECT_EQ(Timeouts(), (std::vector<int>{120, 180, 240}));
}

TEST_F(Power, KeyPathWithLeadingBackslashIsTheSameKey) {
  SetTimeouts({60, 120, 300});
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, SuspendKiller().keyPath, 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD v = 0, size = 4, type = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"BattSuspend", nullptr, &type, reinterpret_cast<BYTE *>(&v), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(v, 300u);
  RegCloseKey(key);
}

TEST_F(Power, ZeroTimeoutsAloneKeepTheMachineAwake) {
  StartPowerManager();
  SetTimeouts({0, 0, 0});
  EXPECT_TRUE(KeptAwake());
  SetTimeouts({0, 0, 5});
  EXPECT_FALSE(KeptAwake());
  EXPECT_EQ(ReleasePowerRequirement(reinterpret_cast<HANDLE>(uintptr_t{12345})),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// --- Against mock services ------------------------------------------------

using testbus::Connect;
using testbus::Daemon;
using testbus::StartBus;
using testbus::StartMock;
using testbus::Stop;
using testbus::WaitForName;

// logind's inhibitors held by "Vantrel", as (what, why, mode) texts.
std::vector<std::string> VantrelInhibitors(sd_bus *bus) {
  std::vector<std::string> out;
  sd_bus_message *reply = nullptr;
  if (sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                         "org.freedesktop.login1.Manager", "ListInhibitors", nullptr, &reply, "") < 0)
    return {"(ListInhibitors failed)"};
  sd_bus_message_enter_container(reply, 'a', "(ssssuu)");
  const char *what, *who, *why, *mode;
  uint32_t uid, pid;
  while (sd_bus_message_read(reply, "(ssssuu)", &what, &who, &why, &mode, &uid, &pid) > 0)
    if (std::string(who) == "Vantrel")
      out.push_back(std::string(what) + "|" + why + "|" + mode);
  sd_bus_message_unref(reply);
  return out;
}

int MockCalls(sd_bus *bus, const char *method) {
  sd_bus_message *reply = nullptr;
  if (sd_bus_call_method(bus, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                         "org.freedesktop.DBus.Mock", "GetMethodCalls", nullptr, &reply, "s", method) < 0)
    return -1;
  int n = 0;
  sd_bus_message_enter_container(reply, 'a', "(tav)");
  while (sd_bus_message_skip(reply, "(tav)") > 0)
    ++n;
  sd_bus_message_unref(reply);
  return n;
}

TEST_F(Power, InhibitsAreTakenAndReleasedWithTheRequirement) {
  if (!testbus::DbusmockAvailable())
    GTEST_SKIP() << "python3-dbusmock is not installed";
  Daemon system = StartBus(), session = StartBus();
  if (system.address.empty() || session.address.empty()) {
    Stop(system.pid);
    Stop(session.pid);
    GTEST_SKIP() << "dbus-daemon could not start a private bus";
  }
  setenv("DBUS_SYSTEM_BUS_ADDRESS", system.address.c_str(), 1);
  setenv("DBUS_SESSION_BUS_ADDRESS", session.address.c_str(), 1);
  pid_t logind = StartMock({"--system", "--template", "logind"});
  pid_t saver = StartMock({"--session", "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                           "org.freedesktop.ScreenSaver"});
  sd_bus *sys = Connect(system.address);
  sd_bus *ses = Connect(session.address);
  ASSERT_TRUE(sys && ses);
  ASSERT_TRUE(WaitForName(sys, "org.freedesktop.login1"));
  ASSERT_TRUE(WaitForName(ses, "org.freedesktop.ScreenSaver"));
  sd_bus_error error = SD_BUS_ERROR_NULL;
  ASSERT_GE(sd_bus_call_method(ses, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                               "org.freedesktop.DBus.Mock", "AddMethod", &error, nullptr, "sssss",
                               "org.freedesktop.ScreenSaver", "Inhibit", "ss", "u", "ret = 7"),
            0)
      << error.message;
  ASSERT_GE(sd_bus_call_method(ses, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                               "org.freedesktop.DBus.Mock", "AddMethod", &error, nullptr, "sssss",
                               "org.freedesktop.ScreenSaver", "UnInhibit", "u", "", ""),
            0)
      << error.message;

  SetTimeouts({60, 120, 300});
  SuspendKiller *killer = new SuspendKiller();
  killer->Engage(true);
  EXPECT_TRUE(KeptAwake());
  PowerManagerStatus held = GetPowerManagerStatus();
  EXPECT_TRUE(held.logindInhibitor);
  EXPECT_TRUE(held.screensaverInhibit);
  EXPECT_EQ(VantrelInhibitors(sys), std::vector<std::string>{"idle:sleep|Keyboard connected|block"});
  EXPECT_EQ(MockCalls(ses, "Inhibit"), 1);

  killer->Engage(false);
  delete killer;
  EXPECT_FALSE(KeptAwake());
  // The mock drops the inhibitor when our descriptor closes.
  for (int i = 0; i < 100 && !VantrelInhibitors(sys).empty(); ++i)
    usleep(20000);
  EXPECT_TRUE(VantrelInhibitors(sys).empty());
  EXPECT_EQ(MockCalls(ses, "UnInhibit"), 1);

  sd_bus_flush_close_unref(sys);
  sd_bus_flush_close_unref(ses);
  Stop(logind);
  Stop(saver);
  Stop(system.pid);
  Stop(session.pid);
}

TEST_F(Power, NoServicesMeansATraceAndNoFailure) {
  auto traces = std::make_unique<testtrace::TraceLines>();
  SetTimeouts({60, 120, 300});
  SuspendKiller killer;
  EXPECT_EQ(killer.Engage(true), 1);
  EXPECT_TRUE(KeptAwake());
  EXPECT_FALSE(GetPowerManagerStatus().logindInhibitor);
  EXPECT_FALSE(GetPowerManagerStatus().screensaverInhibit);
  killer.Engage(false);
  EXPECT_FALSE(KeptAwake());
  std::vector<std::string> lines = traces->Lines();
  traces.reset();
  bool told = false;
  for (const std::string &t : lines)
    told |= t.find("logind is not available") != std::string::npos;
  EXPECT_TRUE(told);
}

} // namespace
} // namespace linktest
