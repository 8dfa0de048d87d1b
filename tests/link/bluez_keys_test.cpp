// The Bluetooth keys served from BlueZ: port discovery, the pairing check and
// Reset ComPort against the BlueZ stand-in on a private bus, the same keys
// through vantrel-reg, and the stored keys when there is no BlueZ.
#include "common/settings_store.h"
#include "link/port_discovery.h"
#include "tests/link/link_harness.h"
#include "tests/support/bluez_stand_in.h"

#include <gmock/gmock.h>

#include <cstdio>

namespace linktest {
namespace {

constexpr char kKeyboard[] = "02:A5:F3:00:00:2A";
constexpr char kPhone[] = "5C:F3:70:11:22:33";
constexpr char kHeadset[] = "00:1A:7D:DA:71:13";

std::vector<std::string> Subkeys(const WCHAR *path) {
  std::vector<std::string> names;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return {"(cannot open)"};
  WCHAR name[256];
  for (DWORD i = 0;; ++i) {
    DWORD len = 256;
    if (RegEnumKeyExW(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    names.push_back(Narrow(name));
  }
  RegCloseKey(key);
  return names;
}

std::string PortOf(const std::string &address) {
  std::u16string path = u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\";
  path += std::u16string(address.begin(), address.end());
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return "(no key)";
  WCHAR value[16] = {};
  DWORD type = 0, size = sizeof value;
  LONG r = RegQueryValueExW(key, u"Port", nullptr, &type,
                            reinterpret_cast<BYTE *>(value), &size);
  RegCloseKey(key);
  return r == ERROR_SUCCESS && type == REG_SZ ? Narrow(value) : "(no value)";
}

std::string RunTool(const std::string &args, int *status) {
  std::string out;
  FILE *p = popen((std::string(VANTREL_REG_TOOL) + " " + args + " 2>&1").c_str(), "r");
  char buf[512];
  while (p && fgets(buf, sizeof buf, p))
    out += buf;
  int rc = p ? pclose(p) : -1;
  *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

class BluezKeys : public ::testing::Test {
protected:
  void SetUp() override {
    UseFreshRoot(root);
    traces = std::make_unique<testtrace::TraceLines>();
    bluez = std::make_unique<testbus::BluezStandIn>();
    if (!bluez->Ready())
      GTEST_SKIP() << bluez->Problem();
    ASSERT_TRUE(bluez->AddPairedDevice(kPhone, "Phone", true));
    ASSERT_TRUE(bluez->AddPairedDevice(kHeadset, "Headset", false));
  }
  void TearDown() override {
    bluez.reset();
    traces.reset();
  }

  TempRoot root;
  std::unique_ptr<testtrace::TraceLines> traces;
  std::unique_ptr<testbus::BluezStandIn> bluez;
};

TEST_F(BluezKeys, KeyboardPairedWhileRunningIsFoundAmongOthers) {
  WCHAR name[kPortNameUnits];
  EXPECT_FALSE(FindKeyboardPort(name)) << "only a phone and a headset are paired";
  EXPECT_FALSE(IsKeyboardPaired());
  EXPECT_THAT(Subkeys(u"Software\\Microsoft\\Bluetooth\\Device"),
              ::testing::ElementsAre("5cf370112233", "001a7dda7113"));
  EXPECT_THAT(Subkeys(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports"),
              ::testing::ElementsAre("5cf370112233"))
      << "the headset offers no serial port";

  // Paired in the desktop's settings while the program runs: found at once.
  ASSERT_TRUE(bluez->AddPairedDevice(kKeyboard, "Textile Keyboard", true));
  EXPECT_TRUE(IsKeyboardPaired());
  ASSERT_TRUE(FindKeyboardPort(name));
  std::string port = Narrow(name);
  EXPECT_EQ(port, PortOf("02a5f300002a") + ":");
  ASSERT_GE(port.size(), 6u);
  ASSERT_LE(port.size(), 9u);
  EXPECT_EQ(port.substr(0, 3), "COM");
  int number = atoi(port.c_str() + 3);
  EXPECT_GE(number, 10) << "never one of the probe names COM0: to COM9:";
  EXPECT_NE(PortOf("02a5f300002a"), PortOf("5cf370112233"));
  // The same name at every look while the program runs.
  ASSERT_TRUE(FindKeyboardPort(name));
  EXPECT_EQ(Narrow(name), port);

  // Pairing cannot be made or changed through the keys.
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                            u"Software\\Microsoft\\Bluetooth\\Device\\02a5f3999999", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_ACCESS_DENIED);
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                          u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\02a5f300002a", 0,
                          KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  const WCHAR other[] = u"COM1";
  EXPECT_EQ(RegSetValueExW(key, u"Port", 0, REG_SZ, reinterpret_cast<const BYTE *>(other),
                           sizeof other),
            ERROR_ACCESS_DENIED);
  RegCloseKey(key);
  EXPECT_EQ(PortOf("02a5f300002a") + ":", port);
}

TEST_F(BluezKeys, ResetComPortForgetsTheKeyboardInBlueZ) {
  ASSERT_TRUE(bluez->AddPairedDevice(kKeyboard, "Textile Keyboard", true));
  SettingsStore::WriteString(u"COMPORT", u"COM4567:");
  ForgetKeyboard();
  EXPECT_FALSE(bluez->HasDevice(kKeyboard)) << "RemoveDevice was called";
  EXPECT_TRUE(bluez->HasDevice(kPhone)) << "other pairings stay";
  EXPECT_TRUE(bluez->HasDevice(kHeadset));
  EXPECT_FALSE(IsKeyboardPaired());
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Vantrel", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(key, u"COMPORT", nullptr, nullptr, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(BluezKeys, ForgettingAFailureIsTracedAndReturned) {
  ASSERT_TRUE(bluez->AddPairedDevice(kKeyboard, "Textile Keyboard", true));
  HKEY list = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Bluetooth\\Device", 0,
                          KEY_ALL_ACCESS, &list),
            ERROR_SUCCESS);
  // Forgotten elsewhere after this handle listed it: BlueZ refuses.
  ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Bluetooth\\Device\\02a5f300002a"),
            ERROR_SUCCESS);
  LONG r = RegDeleteKeyW(list, u"02a5f300002a");
  EXPECT_NE(r, ERROR_SUCCESS);
  EXPECT_GE(traces->CountContaining("RemoveDevice"), 1);
  EXPECT_EQ(RegDeleteKeyW(list, u"0123456789ab"), ERROR_FILE_NOT_FOUND) << "never listed";
  RegCloseKey(list);
}

TEST_F(BluezKeys, TheToolSeesAndForgetsTheSameDevices) {
  ASSERT_TRUE(bluez->AddPairedDevice(kKeyboard, "Textile Keyboard", true));
  int status = -1;
  std::string out = RunTool("list 'HKLM\\Software\\Microsoft\\Bluetooth\\Device'", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_THAT(out, ::testing::HasSubstr("02a5f300002a"));
  EXPECT_THAT(out, ::testing::HasSubstr("5cf370112233"));
  out = RunTool("get 'HKLM\\Software\\Microsoft\\Bluetooth\\Serial\\Ports\\02a5f300002a' Port",
                &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_THAT(out, ::testing::HasSubstr(PortOf("02a5f300002a")));
  out = RunTool("delete 'HKLM\\Software\\Microsoft\\Bluetooth\\Device\\02a5f300002a'", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_FALSE(bluez->HasDevice(kKeyboard));
}

// A device BlueZ describes oddly costs only what cannot be read: an address
// that is a number or bytes leaves that device out, services that are one
// string cost that device its serial port; the others are all listed and
// the keyboard is found.
TEST_F(BluezKeys, OddPropertiesCostOnlyTheirOwnDevice) {
  ASSERT_TRUE(bluez->AddPairedDevice(kKeyboard, "Textile Keyboard", true));
  for (const char *odd : {"AA:BB:CC:00:00:01", "AA:BB:CC:00:00:02", "AA:BB:CC:00:00:03"})
    ASSERT_TRUE(bluez->AddPairedDevice(odd, "Odd", true));
  ASSERT_TRUE(bluez->SetDeviceProperty("AA:BB:CC:00:00:03", "UUIDs", "s",
                                       "00001101-0000-1000-8000-00805f9b34fb"));
  ASSERT_TRUE(bluez->SetDeviceProperty("AA:BB:CC:00:00:01", "Address", "i", 42));
  ASSERT_TRUE(bluez->SetDeviceProperty("AA:BB:CC:00:00:02", "Address", "ay", 3, 1, 2, 3));
  EXPECT_THAT(Subkeys(u"Software\\Microsoft\\Bluetooth\\Device"),
              ::testing::ElementsAre("5cf370112233", "001a7dda7113", "02a5f300002a",
                                     "aabbcc000003"));
  EXPECT_THAT(Subkeys(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports"),
              ::testing::ElementsAre("5cf370112233", "02a5f300002a"));
  WCHAR name[kPortNameUnits];
  EXPECT_TRUE(FindKeyboardPort(name));
  EXPECT_EQ(Narrow(name), PortOf("02a5f300002a") + ":");
  EXPECT_EQ(traces->CountContaining("its Address is not of the type BlueZ gives it"), 2);
}

TEST_F(BluezKeys, WithoutBluezTheStoredKeysAnswerAndATraceSaysWhy) {
  bluez->StopBluez();
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                            u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\02a5f3aaaaaa", 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const WCHAR port[] = u"COM8";
  RegSetValueExW(key, u"Port", 0, REG_SZ, reinterpret_cast<const BYTE *>(port), sizeof port);
  RegCloseKey(key);
  WCHAR name[kPortNameUnits];
  ASSERT_TRUE(FindKeyboardPort(name));
  EXPECT_EQ(Narrow(name), "COM8:");
  FindKeyboardPort(name);
  EXPECT_EQ(traces->CountContaining("no org.bluez on the system bus: the Bluetooth keys are stored keys"), 1)
      << "one line, not one per look";
}

} // namespace
} // namespace linktest
