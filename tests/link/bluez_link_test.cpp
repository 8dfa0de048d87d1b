// Whole connections to the keyboard through BlueZ, against the BlueZ stand-in
// on a private bus: vantrel-kbd serves the keyboard's side of the radio link
// (--listen) and the stand-in connects it when the program asks BlueZ for the
// keyboard's serial port. Each scenario runs in a process of its own.
#include "common/messages.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "link/port_discovery.h"
#include "tests/link/link_harness.h"
#include "tests/support/bluez_stand_in.h"

#include <gmock/gmock.h>

namespace linktest {
namespace {

constexpr char kKeyboard[] = "02:A5:F3:00:00:2A";
constexpr int kBluezConnectMs = 20000;

bool StatusShown(LinkHarness &h, const std::string &part) {
  for (const Note &n : h.Notes())
    if (n.msg == WM_STATUS_TEXT_CHANGED && n.text.find(part) != std::string::npos)
      return true;
  return false;
}

bool Traced(LinkHarness &h, const std::string &part) {
  for (const std::string &line : h.Traces())
    if (line.find(part) != std::string::npos)
      return true;
  return false;
}

// A fresh root, the keyboard known already, the stand-in running with a
// phone and a headset paired besides the keyboard, then the link started.
// keyboardSocket: where vantrel-kbd is to serve the keyboard's radio link.
void RunOverBluez(const std::function<void(LinkHarness &, testbus::BluezStandIn &,
                                           const std::string &)> &scenario) {
  if (!testbus::DbusmockAvailable())
    GTEST_SKIP() << "python3-dbusmock is not installed";
  RunIsolated([&] {
    TempRoot root;
    UseFreshRoot(root);
    SettingsStore::WriteDword(u"Connection Timeout", 0);
    SettingsStore::WriteDword(u"Serial No", 0x00A5F301);
    testbus::BluezStandIn bluez;
    ASSERT_TRUE(bluez.Ready()) << bluez.Problem();
    ASSERT_TRUE(bluez.AddPairedDevice("5C:F3:70:11:22:33", "Phone", true));
    ASSERT_TRUE(bluez.AddPairedDevice("00:1A:7D:DA:71:13", "Headset", false));
    ASSERT_TRUE(bluez.AddPairedDevice(kKeyboard, "Textile Keyboard", true));
    std::string socket = root.path() + "/keyboard.sock";
    ASSERT_TRUE(bluez.SetKeyboardSocket(kKeyboard, socket));
    LinkHarness h(root);
    h.StartLink();
    scenario(h, bluez, socket);
  });
}

TEST(BluezLink, FoundConnectedTypedDroppedConnectedAgainAndForgotten) {
  RunOverBluez([](LinkHarness &h, testbus::BluezStandIn &bluez, const std::string &socket) {
    const std::string text = "typed over the radio link of the keyboard";
    ASSERT_TRUE(h.StartKeyboardListening(socket, {"--first-heartbeat", "250", "--heartbeat", "300",
                                                  "--type", text, "--key-interval", "15"}));
    h.Toggle();
    ASSERT_TRUE(h.WaitForPhase(1, 2, kBluezConnectMs)) << "no connection";
    std::string port = StoredComport();
    ASSERT_GE(port.size(), 6u) << port;
    EXPECT_EQ(port.substr(0, 3), "COM");
    EXPECT_GE(atoi(port.c_str() + 3), 10);
    EXPECT_TRUE(Traced(h, "Opening " + port));
    ASSERT_TRUE(h.WaitFor([&] { return h.KeysRead() == static_cast<int>(text.size()); }, 10000))
        << h.KeysRead();
    keytest::UsHostModel host;
    EXPECT_EQ(host.type(h.injector.calls), std::u32string(text.begin(), text.end()));

    // The radio link drops while the program writes and reads: the port
    // hangs up as a tty does, and nothing raises SIGPIPE (the scenario's
    // process would die of it).
    ASSERT_TRUE(h.WaitForLinkState(LINK_TYPING, 3000));
    ASSERT_TRUE(bluez.DropLink(kKeyboard));
    ASSERT_TRUE(h.WaitForPhase(1, 0, 15000, 2)) << "the dropped link was not noticed";
    EXPECT_EQ(AppGlobals.portHandle.load(), INVALID_HANDLE_VALUE);

    // Connect again: the same port, a new stream.
    h.Toggle();
    ASSERT_TRUE(h.WaitForPhase(1, 2, kBluezConnectMs, 2)) << "no second connection";
    EXPECT_EQ(StoredComport(), port);
    h.Toggle();
    ASSERT_TRUE(h.WaitForPhase(1, 0, 6000, 3));
    ASSERT_TRUE(h.WaitFor([&] {
      std::vector<std::string> d = Describe(h.Packets());
      return std::count(d.begin(), d.end(), "DISCONNECT") == 1;
    }, 3000)) << "DISCONNECT did not reach the keyboard";

    // Reset ComPort: BlueZ forgets the keyboard, and the port is searched
    // for again next time.
    ForgetKeyboard();
    EXPECT_FALSE(bluez.HasDevice(kKeyboard));
    EXPECT_TRUE(bluez.HasDevice("5C:F3:70:11:22:33"));
    EXPECT_EQ(StoredComport(), "None");
    EXPECT_FALSE(IsKeyboardPaired());
  });
}

TEST(BluezLink, ProfileHeldByAnotherProgramIsSaid) {
  RunOverBluez([](LinkHarness &h, testbus::BluezStandIn &bluez, const std::string &) {
    ASSERT_TRUE(bluez.HoldSerialProfile());
    WCHAR port[kPortNameUnits];
    ASSERT_TRUE(FindKeyboardPort(port));
    SettingsStore::WriteString(u"COMPORT", port);
    h.Toggle();
    ASSERT_TRUE(h.WaitForPhase(1, 0, kBluezConnectMs, 2));
    EXPECT_TRUE(Traced(h, "another program holds the serial port profile"));
    EXPECT_TRUE(StatusShown(h, "Another program holds Bluetooth serial ports"));
  });
}

TEST(BluezLink, KeyboardSwitchedOffIsSaidInWords) {
  RunOverBluez([](LinkHarness &h, testbus::BluezStandIn &bluez, const std::string &) {
    ASSERT_TRUE(bluez.SetReachable(kKeyboard, false));
    WCHAR port[kPortNameUnits];
    ASSERT_TRUE(FindKeyboardPort(port));
    SettingsStore::WriteString(u"COMPORT", port);
    h.Toggle();
    ASSERT_TRUE(h.WaitForPhase(1, 0, kBluezConnectMs, 2));
    EXPECT_TRUE(StatusShown(h, "switched off or out of range"));
  });
}

TEST(BluezLink, WithoutBluezTheStoredPortIsUsed) {
  RunOverBluez([](LinkHarness &h, testbus::BluezStandIn &bluez, const std::string &) {
    bluez.StopBluez();
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                              u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\02a5f3c0ffee", 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, u"Port", 0, REG_SZ, reinterpret_cast<const BYTE *>(u"COM6"), 10);
    RegCloseKey(key);
    ASSERT_TRUE(h.StartKeyboard("COM6", {"--first-heartbeat", "250", "--heartbeat", "300"}));
    h.Toggle();
    ASSERT_TRUE(h.WaitForPhase(1, 2, kBluezConnectMs));
    EXPECT_EQ(StoredComport(), "COM6:");
    EXPECT_TRUE(Traced(h, "no org.bluez on the system bus"));
  });
}

} // namespace
} // namespace linktest
