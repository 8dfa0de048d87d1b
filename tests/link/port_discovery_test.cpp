// Finding and opening the keyboard's port, and the sync step, run directly on
// the test thread (no reader thread), with pseudo-terminals as ports and
// short read time-outs where the test needs many reads.
#include "common/messages.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "link/port_discovery.h"
#include "link/reader_thread.h"
#include "link/suspend_killer.h"
#include "platform/power.h"
#include "tests/link/fake_port.h"
#include "tests/link/link_harness.h"

#include <gmock/gmock.h>

namespace linktest {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

void AddKey(const WCHAR *path, const WCHAR *port = nullptr, DWORD type = REG_SZ) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  if (port)
    RegSetValueExW(key, u"Port", 0, type, reinterpret_cast<const BYTE *>(port),
                   static_cast<DWORD>((wcslen(port) + 1) * sizeof(WCHAR)));
  RegCloseKey(key);
}

bool KeyExists(const WCHAR *path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

std::string Setting(const WCHAR *name) {
  WCHAR text[kSettingTextUnits];
  SettingsStore::ReadString(name, text);
  return Narrow(text);
}

class Discovery : public ::testing::Test {
protected:
  void SetUp() override {
    UseFreshRoot(root);
    devices = root.path() + "/devices";
    event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    AppGlobals.connectionEvent.store(event);
    AppGlobals.linkState.store(LINK_IDLE);
    traceLines = std::make_unique<testtrace::TraceLines>();
  }
  void TearDown() override {
    traceLines.reset();
    if (AppGlobals.portHandle.load() != INVALID_HANDLE_VALUE)
      CloseHandle(AppGlobals.portHandle.exchange(INVALID_HANDLE_VALUE));
    delete AppGlobals.suspendKiller;
    AppGlobals.suspendKiller = nullptr;
    EXPECT_TRUE(StopPowerManager(10000));
    CloseHandle(event);
  }
  bool Signalled() { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }
  // Short reads, so that ten sync reads take a moment.
  void QuickReads() {
    COMMTIMEOUTS t{50, 1, 10, 10, 100};
    ASSERT_TRUE(SetCommTimeouts(AppGlobals.portHandle.load(), &t));
  }

  TempRoot root;
  std::string devices;
  HANDLE event = nullptr;
  std::unique_ptr<testtrace::TraceLines> traceLines;
};

TEST_F(Discovery, BluetoothKeysNameThePort) {
  WCHAR name[kPortNameUnits];
  EXPECT_FALSE(FindKeyboardPort(name)) << "no Bluetooth keys at all";
  AddKey(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\00112233aabb", u"COM2");
  AddKey(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\0002a5f30011", u"COM8");
  ASSERT_TRUE(FindKeyboardPort(name));
  EXPECT_EQ(Narrow(name), "COM8:");
}

TEST_F(Discovery, UnusablePortValuesAreSkipped) {
  // No "COM" in the value: the device's own subkeys are looked at.
  AddKey(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\0002a5f30011", u"BSP1");
  AddKey(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\0002a5f30011\\x02a5f3", u"COM4");
  WCHAR name[kPortNameUnits + 4];
  for (WCHAR &c : name)
    c = u'#';
  ASSERT_TRUE(FindKeyboardPort(name));
  EXPECT_EQ(Narrow(name), "COM4:");

  // Values that would not fit with their colon, or are no text, are not used
  // and never written past the name.
  AddKey(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\0002a5f30011\\x02a5f3", u"COM123456");
  for (WCHAR &c : name)
    c = u'#';
  EXPECT_FALSE(FindKeyboardPort(name));
  for (size_t i = kPortNameUnits; i < kPortNameUnits + 4; ++i)
    EXPECT_EQ(name[i], u'#');
  AddKey(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\0002a5f30011\\x02a5f3", u"COM9", REG_BINARY);
  EXPECT_FALSE(FindKeyboardPort(name));
}

TEST_F(Discovery, PairingIsFoundAndForgotten) {
  EXPECT_FALSE(IsKeyboardPaired());
  AddKey(u"Software\\Microsoft\\Bluetooth\\Device\\00112233aabb");
  EXPECT_FALSE(IsKeyboardPaired());
  AddKey(u"Software\\Microsoft\\Bluetooth\\Device\\0002a5f30011");
  AddKey(u"Software\\Microsoft\\Bluetooth\\Device\\0002a5f30022");
  AddKey(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\0002a5f30011", u"COM8");
  SettingsStore::WriteString(u"COMPORT", u"COM8:");
  SettingsStore::WriteDword(u"Keyclicks", 0);
  EXPECT_TRUE(IsKeyboardPaired());

  ForgetKeyboard();
  EXPECT_FALSE(IsKeyboardPaired());
  EXPECT_FALSE(KeyExists(u"Software\\Microsoft\\Bluetooth\\Device\\0002a5f30011"));
  EXPECT_FALSE(KeyExists(u"Software\\Microsoft\\Bluetooth\\Device\\0002a5f30022"));
  EXPECT_FALSE(KeyExists(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\0002a5f30011"));
  EXPECT_TRUE(KeyExists(u"Software\\Microsoft\\Bluetooth\\Device\\00112233aabb"));
  EXPECT_EQ(SettingsStore::ReadDword(u"Keyclicks", 1), 0);
  EXPECT_EQ(Setting(u"COMPORT"), "None"); // gone: read as missing
}

TEST_F(Discovery, ProbeWalksComZeroToNineThenGivesUp) {
  std::vector<std::string> tried;
  for (int attempt = 0; attempt < 10; ++attempt) {
    OpenPort();
    tried.push_back(Narrow(AppGlobals.statusText));
    EXPECT_EQ(AppGlobals.portAutoDetect.load(), 1);
    if (attempt < 9) {
      EXPECT_EQ(AppGlobals.linkState.load(), LINK_IDLE);
      EXPECT_TRUE(Signalled()) << "no next attempt after " << tried.back();
    }
  }
  std::string opening = Narrow(UiString(28));
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(tried[i], opening + " COM" + std::to_string(i) + ":");
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_ERROR);
  EXPECT_FALSE(Signalled());
  EXPECT_EQ(Setting(u"COMPORT"), "None") << "a missing COMPORT reads as None";
  EXPECT_THAT(traceLines->Lines(), Contains("Opening COM9:"));

  // The next search starts again at COM0:.
  AppGlobals.linkState.store(LINK_IDLE);
  OpenPort();
  EXPECT_EQ(Narrow(AppGlobals.portName), "COM0:");
}

TEST_F(Discovery, ConfiguredPortOpensWithTheLinkTimeouts) {
  FakePort port(devices, 5);
  ASSERT_TRUE(port.ok());
  AddKey(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\0002a5f30011", u"COM8");
  SettingsStore::WriteString(u"COMPORT", u"COM5:");
  OpenPort();
  EXPECT_EQ(Narrow(AppGlobals.portName), "COM5:");
  EXPECT_EQ(AppGlobals.portAutoDetect.load(), 0);
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_SYNCING);
  EXPECT_EQ(Narrow(AppGlobals.statusText), Narrow(UiString(24)));
  COMMTIMEOUTS t{};
  ASSERT_TRUE(GetCommTimeouts(AppGlobals.portHandle.load(), &t));
  EXPECT_EQ(t.ReadIntervalTimeout, 120u);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 200u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 10u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 10u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 100u);
}

TEST_F(Discovery, ConfiguredPortThatIsMissingEndsTheAttempt) {
  SettingsStore::WriteString(u"COMPORT", u"COM6:");
  OpenPort();
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_ERROR);
  EXPECT_EQ(AppGlobals.portHandle.load(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(Signalled());
}

TEST_F(Discovery, OverlongComportIsRefusedAndThePortSearched) {
  SettingsStore::WriteString(u"COMPORT", u"COM3:and-a-great-deal-more-than-fits");
  AddKey(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\0002a5f30011", u"COM7");
  FakePort port(devices, 7);
  ASSERT_TRUE(port.ok());
  OpenPort();
  EXPECT_EQ(Narrow(AppGlobals.portName), "COM7:");
  EXPECT_EQ(AppGlobals.portAutoDetect.load(), 1);
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_SYNCING);
  EXPECT_THAT(traceLines->Lines(), Contains("COMPORT is longer than 9 characters, searching for the port"));
}

TEST_F(Discovery, TenSilentSyncReadsThenTheNextPortOrTheError) {
  for (bool automatic : {true, false}) {
    SCOPED_TRACE(automatic ? "automatic search" : "configured port");
    FakePort port(devices, 2);
    ASSERT_TRUE(port.ok());
    SettingsStore::WriteString(u"COMPORT", automatic ? u"None" : u"COM2:");
    if (automatic)
      AddKey(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\0002a5f30011", u"COM2");
    AppGlobals.linkState.store(LINK_IDLE);
    AppGlobals.syncAttempts = 7; // left over from an attempt the user ended
    OpenPort();
    ASSERT_EQ(AppGlobals.linkState.load(), LINK_SYNCING);
    QuickReads();
    for (int read = 0; read < 10; ++read) {
      SyncStep();
      ASSERT_EQ(AppGlobals.linkState.load(), LINK_SYNCING) << "after read " << read + 1;
    }
    Signalled(); // clear
    SyncStep();
    EXPECT_EQ(AppGlobals.portHandle.load(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(AppGlobals.syncAttempts, 0);
    if (automatic) {
      EXPECT_EQ(AppGlobals.linkState.load(), LINK_IDLE);
      EXPECT_TRUE(Signalled()) << "the pending request tries again";
    } else {
      EXPECT_EQ(AppGlobals.linkState.load(), LINK_ERROR);
    }
  }
}

TEST_F(Discovery, HeartbeatAfterSyncStoresTheFoundPortAndKeepsAwake) {
  StartPowerManager(); // as the reader thread's start-up does
  FakePort port(devices, 4);
  ASSERT_TRUE(port.ok());
  AddKey(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\0002a5f30011", u"COM4");
  OpenPort();
  ASSERT_EQ(AppGlobals.linkState.load(), LINK_SYNCING);
  QuickReads();
  port.Write({0xA5, 0x5A});
  SyncStep();
  EXPECT_EQ(Narrow(AppGlobals.statusText), Narrow(UiString(23)));
  EXPECT_THAT(port.PacketKinds(), ElementsAre(100 + 14)); // calibration off
  EXPECT_EQ(Setting(u"COMPORT"), "None") << "stored only once the keyboard answered";

  port.Write({0xFA});
  SyncStep();
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_HANDSHAKE);
  EXPECT_EQ(AppGlobals.portAutoDetect.load(), 0);
  EXPECT_EQ(Setting(u"COMPORT"), "COM4:");
  ASSERT_NE(AppGlobals.suspendKiller, nullptr);
  EXPECT_EQ(AppGlobals.suspendKiller->engaged, 1u);
}

// The keyboard may answer the opening before the program looks: what waits
// on the port at the open is the keyboard's own on the first connection of
// a run (its sync pattern, sent once), and on a later connection, which
// decodes from the first byte, the tail of the one before.
TEST_F(Discovery, InputWaitingAtTheOpenIsKeptUntilTheFirstSync) {
  struct Case {
    uint8_t synchronised;
    std::vector<uint8_t> waiting;
    std::vector<int> packets; // sent after one sync read
    int32_t state;
  };
  const Case cases[] = {
      {0, {0xA5, 0x5A}, {100 + 14}, LINK_SYNCING},   // found: calibration off
      {1, {0x41, 0xFA}, {}, LINK_SYNCING},           // a stale heartbeat is not taken
  };
  SettingsStore::WriteString(u"COMPORT", u"COM4:");
  for (const Case &c : cases) {
    SCOPED_TRACE("synchronised " + std::to_string(c.synchronised));
    FakePort port(devices, 4);
    ASSERT_TRUE(port.ok());
    port.Write(c.waiting);
    AppGlobals.linkSynchronised = c.synchronised;
    AppGlobals.linkState.store(LINK_IDLE);
    OpenPort();
    ASSERT_EQ(AppGlobals.linkState.load(), LINK_SYNCING);
    QuickReads();
    SyncStep();
    EXPECT_EQ(port.PacketKinds(), c.packets);
    EXPECT_EQ(AppGlobals.linkState.load(), c.state);
    CloseHandle(AppGlobals.portHandle.exchange(INVALID_HANDLE_VALUE));
  }
}

} // namespace
} // namespace linktest
