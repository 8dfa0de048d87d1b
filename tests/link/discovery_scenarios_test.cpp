// Port discovery in whole connections: the keyboard's Bluetooth port found
// through the registry and remembered only once the keyboard answered.
#include "common/messages.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "tests/link/link_harness.h"

#include <gmock/gmock.h>

namespace linktest {
namespace {

TEST(Discovery, BluetoothPortIsFoundAndRememberedAfterTheKeyboardAnswers) {
  RunIsolated([] {
    TempRoot root;
    UseFreshRoot(root);
    SettingsStore::WriteDword(u"Connection Timeout", 0);
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\0002a5f3c0de", 0,
                    nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExW(key, u"Port", 0, REG_SZ, reinterpret_cast<const BYTE *>(u"COM6"), 10);
    RegCloseKey(key);
    LinkHarness h(root);
    h.StartLink();
    ASSERT_TRUE(h.StartKeyboard("COM6", {"--heartbeat", "300"}));
    h.Toggle();
    // While the port is open and the keyboard has not answered yet, nothing
    // is remembered.
    ASSERT_TRUE(h.WaitFor([&] {
      for (const Note &n : h.Notes())
        if (n.msg == WM_STATUS_TEXT_CHANGED && n.text == Narrow(UiString(24)))
          return true;
      return false;
    }, 5000));
    EXPECT_EQ(StoredComport(), "None");
    ASSERT_TRUE(h.WaitForPhase(1, 2, 15000));
    EXPECT_EQ(StoredComport(), "COM6:");
    EXPECT_EQ(AppGlobals.portAutoDetect.load(), 0);
    // The status text naming the port is shown only until the next one
    // replaces it, which on a busy machine can happen before the window reads
    // it; the trace of the open is the lasting record.
    bool opened = false;
    for (const std::string &line : h.Traces())
      opened |= line.find("Opening COM6:") != std::string::npos;
    EXPECT_TRUE(opened);
  });
}

// No port answers: the search goes from port to port, and the connect
// button, which shows each port tried, stays usable and ends the search.
// The pause after each port lasts until the test lets its time pass (a
// Manual clock), so the cancel comes between two ports for sure.
TEST(Discovery, SearchIsCancelledWithTheConnectButton) {
  RunIsolated([] {
    TempRoot root;
    UseFreshRoot(root);
    SettingsStore::WriteDword(u"Connection Timeout", 0);
    LinkHarness h(root);
    h.StartLink();
    h.Toggle();
    const std::string probing = Narrow(UiString(28)) + " COM1:";
    auto statusNotes = [&] {
      std::vector<Note> out;
      for (const Note &n : h.Notes())
        if (n.msg == WM_STATUS_TEXT_CHANGED)
          out.push_back(n);
      return out;
    };
    ASSERT_TRUE(h.AdvanceUntil([&] {
      for (const Note &n : statusNotes())
        if (n.text == probing)
          return true;
      return false;
    }, 250, 4000)) << "the search did not reach COM1:";
    for (const Note &n : statusNotes())
      EXPECT_EQ(n.wParam, 1u) << "status \"" << n.text << "\" disabled the connect button";

    h.Toggle(); // the user cancels between two ports
    ASSERT_TRUE(h.AdvanceUntil([&] { return h.Phases().size() >= 3; }, 250, 4000))
        << "the search was not cancelled";
    ASSERT_TRUE(h.WaitForPhase(1, 0, 1000, 2));
    EXPECT_EQ(AppGlobals.connectRequested.load(), 0);
    auto opened = [&] {
      int n = 0;
      for (const std::string &line : h.Traces())
        n += line.rfind("Opening COM", 0) == 0;
      return n;
    };
    int before = opened();
    // Longer than the pause between two ports (and the disconnection's).
    h.Advance(5000);
    EXPECT_EQ(opened(), before) << "the search went on after the cancel";
    EXPECT_EQ(AppGlobals.linkState.load(), LINK_IDLE);
    EXPECT_TRUE(h.Boxes().empty()) << "a cancelled search is no failed connection";
  }, VirtualClock::Manual);
}

} // namespace
} // namespace linktest
