// Whole connections to the keyboard through BlueZ, against the BlueZ stand-in
// on a private bus: vantrel-kbd serves the keyboard's side of the radio link
// (--listen) and the stand-in connects it when the program asks BlueZ for the
// keyboard's serial port. Each scenario runs in a process of its own.
#include "common/messages.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "link/port_discovery.h"
#include "platform/bluetooth/bluez.h"
#include "platform/power.h"
#include "platform/serial.h"
#include "tests/link/link_harness.h"
#include "tests/support/bluez_stand_in.h"
#include "tests/support/logind_stand_in.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

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
// With logind: a logind stand-in on the same bus, and the sleep watch
// posting to TypingWnd as the program's start-up has it.
using Scenario =
    std::function<void(LinkHarness &, testbus::BluezStandIn &, const std::string &)>;
using SleepScenario = std::function<void(LinkHarness &, testbus::BluezStandIn &,
                                         testbus::LogindStandIn &, const std::string &)>;

void RunRadio(const Scenario &scenario, const SleepScenario &sleepScenario) {
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
    std::unique_ptr<testbus::LogindStandIn> logind;
    if (sleepScenario) {
      logind = std::make_unique<testbus::LogindStandIn>(bluez.Address());
      ASSERT_TRUE(logind->Ready()) << "the logind stand-in did not start";
    }
    LinkHarness h(root);
    h.StartLink();
    if (!sleepScenario) {
      scenario(h, bluez, socket);
      return;
    }
    StartSleepWatch(AppGlobals.typingWnd.load(), WM_MACHINE_SLEEP);
    ASSERT_TRUE(h.WaitFor([&] { return Traced(h, "power: watching logind for sleep and resume"); },
                          10000));
    sleepScenario(h, bluez, *logind, socket);
    EXPECT_TRUE(StopSleepWatch(5000));
  });
}

void RunOverBluez(const Scenario &scenario) { RunRadio(scenario, nullptr); }
void RunOverBluezWithLogind(const SleepScenario &scenario) { RunRadio(nullptr, scenario); }

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

    // The radio link drops while the program writes and reads: the port
    // hangs up as a tty does, and nothing raises SIGPIPE (the scenario's
    // process would die of it).
    ASSERT_TRUE(h.WaitForLinkState(LINK_TYPING, 3000));
    ASSERT_TRUE(bluez.DropLink(kKeyboard));
    ASSERT_TRUE(h.WaitForPhase(1, 0, 15000, 2)) << "the dropped link was not noticed";
    EXPECT_EQ(AppGlobals.portHandle.load(), INVALID_HANDLE_VALUE);
    // The reader thread has left typing (it posted the notice after): the
    // injector's record is complete and no longer written.
    keytest::UsHostModel host;
    EXPECT_EQ(host.type(h.injector.calls), std::u32string(text.begin(), text.end()));

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

// NewConnection(device, fd) from `caller` on the program's profile object
// `name` `path`: "accepted", or the name of the error it was answered with.
std::string OfferStream(sd_bus *caller, const std::string &name, const std::string &path,
                        const std::string &device, int fd) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  int r = sd_bus_call_method(caller, name.c_str(), path.c_str(), "org.bluez.Profile1",
                             "NewConnection", &error, nullptr, "oha{sv}", device.c_str(), fd, 0);
  std::string answer = r >= 0 ? "accepted" : error.name ? error.name : strerror(-r);
  sd_bus_error_free(&error);
  return answer;
}

bool WaitUntil(const std::function<bool()> &done, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Whatever a stream delivers is typed, so the profile takes one only from
// BlueZ, and only a socket: a stranger on the bus offering a pipe or a
// socket while a connection waits for BlueZ's stream is refused, BlueZ's
// stream still arrives; a pipe from BlueZ itself is refused too.
TEST(BluezLink, StreamsAreTakenOnlyFromBluezAndOnlyAsSockets) {
  if (!testbus::DbusmockAvailable())
    GTEST_SKIP() << "python3-dbusmock is not installed";
  RunIsolated([] {
    TempRoot root;
    UseFreshRoot(root);
    testtrace::TraceLines traces;
    testbus::BluezStandIn bluez;
    ASSERT_TRUE(bluez.Ready()) << bluez.Problem();
    ASSERT_TRUE(bluez.AddPairedDevice(kKeyboard, "Textile Keyboard", true));
    // The keyboard's end of the radio link, which the stand-in connects.
    const std::string socketPath = root.path() + "/keyboard.sock";
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    ASSERT_TRUE(bluez.SetKeyboardSocket(kKeyboard, socketPath));
    std::vector<BluezDevice> devices;
    std::string why;
    ASSERT_EQ(BluezPairedDevices(&devices, &why), BluezAnswer::Served) << why;
    auto keyboard = std::find_if(devices.begin(), devices.end(),
                                 [](const BluezDevice &d) { return d.address == "02a5f300002a"; });
    ASSERT_NE(keyboard, devices.end());
    const BluezDevice device = *keyboard;

    ASSERT_TRUE(bluez.HoldConnect(kKeyboard));
    int fd = -1;
    DWORD error = ERROR_SUCCESS;
    std::string said;
    std::thread connecting([&] { fd = BluezConnectSerial(device, &error, &said); });
    const bool pending = WaitUntil([&] { return bluez.ConnectPending(kKeyboard); }, 20000);
    std::string name, path, fromPipe, fromSocket;
    const bool registered = bluez.SerialProfileOwner(&name, &path);
    sd_bus *stranger = testbus::Connect(bluez.Address());
    if (pending && registered && stranger) {
      int p[2], s[2];
      if (pipe2(p, O_CLOEXEC) == 0) {
        fromPipe = OfferStream(stranger, name, path, device.path, p[0]);
        close(p[0]);
        close(p[1]);
      }
      if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, s) == 0) {
        fromSocket = OfferStream(stranger, name, path, device.path, s[0]);
        close(s[0]);
        close(s[1]);
      }
    }
    bluez.ReleaseConnect(kKeyboard); // in any case: the connecting thread ends
    connecting.join();
    if (stranger)
      sd_bus_flush_close_unref(stranger);
    ASSERT_TRUE(pending) << "ConnectProfile did not arrive";
    ASSERT_TRUE(registered && stranger);
    EXPECT_EQ(fromPipe, "org.bluez.Error.Rejected");
    EXPECT_EQ(fromSocket, "org.bluez.Error.Rejected");
    EXPECT_EQ(traces.CountContaining("on the serial profile from " + std::string(":")), 2);
    ASSERT_GE(fd, 0) << said;
    // The stream is BlueZ's: what the keyboard sends arrives on it.
    pollfd waiting{listener, POLLIN, 0};
    ASSERT_EQ(poll(&waiting, 1, 10000), 1);
    int far = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(far, 0);
    ASSERT_EQ(write(far, "k", 1), 1);
    pollfd reading{fd, POLLIN, 0};
    char c = 0;
    EXPECT_EQ(poll(&reading, 1, 10000), 1);
    EXPECT_EQ(read(fd, &c, 1), 1);
    EXPECT_EQ(c, 'k');
    BluezSerialClosed(fd);
    close(fd);
    close(far);

    // A pipe from BlueZ itself is not a radio link: refused, no stream.
    ASSERT_TRUE(bluez.HandOverPipe(kKeyboard));
    fd = BluezConnectSerial(device, &error, &said);
    EXPECT_EQ(fd, -1);
    EXPECT_NE(error, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(traces.CountContaining("is not a socket: refused"), 1);
    if (fd >= 0)
      close(fd);
    EXPECT_TRUE(StopSerialStreams(10000));
    close(listener);
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
    // The raw RFCOMM socket is tried and declines (no Bluetooth sockets in
    // a container, no adapter or no such keyboard elsewhere); the status
    // keeps saying why.
    EXPECT_TRUE(Traced(h, "bluetooth: 02a5f300002a: no raw RFCOMM socket either: "));
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

TEST(BluezLink, ALinkConnectedAtASleepIsConnectedAgainAfterTheResume) {
  RunOverBluezWithLogind([](LinkHarness &h, testbus::BluezStandIn &bluez,
                            testbus::LogindStandIn &logind, const std::string &socket) {
    ASSERT_TRUE(h.StartKeyboardListening(socket, {"--first-heartbeat", "250", "--heartbeat", "300"}));
    h.Toggle();
    ASSERT_TRUE(h.WaitForPhase(1, 2, kBluezConnectMs)) << "no connection";

    // The suspend ends the radio link, and the link notices before logind
    // announces the resume.
    ASSERT_TRUE(h.WaitForLinkState(LINK_TYPING, 10000));
    ASSERT_TRUE(logind.PrepareForSleep(true));
    ASSERT_TRUE(h.WaitFor([&] { return Traced(h, "Sleep: the keyboard is connected"); }, 10000));
    ASSERT_TRUE(bluez.DropLink(kKeyboard));
    ASSERT_TRUE(h.WaitForPhase(1, 0, 15000, 2)) << "the dropped link was not noticed";
    ASSERT_TRUE(logind.PrepareForSleep(false));
    ASSERT_TRUE(h.WaitForPhase(1, 2, kBluezConnectMs, 2)) << "not connected again after the resume";
    EXPECT_TRUE(Traced(h, "Resumed: connecting the keyboard again"));

    // The link still looks connected when the resume is announced, and is
    // found dead only after it.
    ASSERT_TRUE(h.WaitForLinkState(LINK_TYPING, 10000));
    ASSERT_TRUE(logind.PrepareForSleep(true));
    ASSERT_TRUE(logind.PrepareForSleep(false));
    ASSERT_TRUE(h.WaitFor([&] {
      return Traced(h, "Resumed: the keyboard is connected again once its link has closed");
    }, 10000));
    ASSERT_TRUE(h.WaitForLinkState(LINK_TYPING, 10000));
    ASSERT_TRUE(bluez.DropLink(kKeyboard));
    ASSERT_TRUE(h.WaitForPhase(1, 0, 15000, 3)) << "the dropped link was not noticed";
    ASSERT_TRUE(h.WaitForPhase(1, 2, kBluezConnectMs, 3)) << "not connected again after its drop";
    EXPECT_TRUE(Traced(h, "Connecting the keyboard again after the resume"));
  });
}

TEST(BluezLink, ALinkThePersonClosedStaysClosedAfterTheResume) {
  RunOverBluezWithLogind([](LinkHarness &h, testbus::BluezStandIn &, testbus::LogindStandIn &logind,
                            const std::string &socket) {
    ASSERT_TRUE(h.StartKeyboardListening(socket, {"--first-heartbeat", "250", "--heartbeat", "300"}));
    h.Toggle();
    ASSERT_TRUE(h.WaitForPhase(1, 2, kBluezConnectMs)) << "no connection";
    h.Toggle();
    ASSERT_TRUE(h.WaitForPhase(1, 0, 6000, 2));
    ASSERT_TRUE(logind.PrepareForSleep(true));
    ASSERT_TRUE(logind.PrepareForSleep(false));
    // The resume has been handled on the link's window: nothing was asked of
    // the reader thread, and nothing is left for it to do later.
    ASSERT_TRUE(h.WaitFor([&] {
      return Traced(h, "Resumed: the keyboard was not connected before the sleep");
    }, 10000));
    EXPECT_TRUE(Traced(h, "Sleep: the keyboard is not connected"));
    EXPECT_EQ(AppGlobals.connectRequested.load(), 0);
    EXPECT_EQ(AppGlobals.reconnectAfterResume.load(), 0);
    EXPECT_EQ(h.CountTraces("Opening COM"), 1);

    // Connected at the sleep, but closed by the person after the resume
    // while its link still looked alive: it stays closed too.
    h.Toggle();
    ASSERT_TRUE(h.WaitForPhase(1, 2, kBluezConnectMs, 2)) << "no second connection";
    ASSERT_TRUE(h.WaitForLinkState(LINK_TYPING, 10000));
    ASSERT_TRUE(logind.PrepareForSleep(true));
    ASSERT_TRUE(logind.PrepareForSleep(false));
    ASSERT_TRUE(h.WaitFor([&] {
      return Traced(h, "Resumed: the keyboard is connected again once its link has closed");
    }, 10000));
    h.Toggle();
    ASSERT_TRUE(h.WaitForPhase(1, 0, 6000, 3));
    EXPECT_EQ(AppGlobals.reconnectAfterResume.load(), 0);
    EXPECT_EQ(AppGlobals.connectRequested.load(), 0);
  });
}

} // namespace
} // namespace linktest
