// The Alt shortcuts that talk to windows: OK and Cancel go to the top-level
// window around the focus, help and hot tips to the main window.
#include "tests/keys/keys_fixture.h"

#include <cstring>

namespace keytest {
namespace {

struct Command {
  HWND window;
  WPARAM wParam;
  LPARAM lParam;
  bool operator==(const Command &) const = default;
};

std::vector<Command> gCommands;

LRESULT recordCommands(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_COMMAND)
    gCommands.push_back({hwnd, wParam, lParam});
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

class AltShortcutTest : public KeysTest {
protected:
  void SetUp() override {
    KeysTest::SetUp();
    gCommands.clear();
    WNDCLASSW cls{};
    cls.lpfnWndProc = &recordCommands;
    cls.lpszClassName = u"AltShortcutTest";
    RegisterClassW(&cls);
    mainWindow = CreateWindowExW(0, u"AltShortcutTest", u"main", WS_OVERLAPPED, 0, 0, 10, 10,
                                 nullptr, nullptr, nullptr, nullptr);
    dialog = CreateWindowExW(0, u"AltShortcutTest", u"dialog", WS_POPUP, 0, 0, 10, 10, nullptr,
                             nullptr, nullptr, nullptr);
    control = CreateWindowExW(0, u"AltShortcutTest", u"control", WS_CHILD, 0, 0, 10, 10, dialog,
                              nullptr, nullptr, nullptr);
    AppGlobals.mainWindow = mainWindow;
    SetFocus(control);
  }
  void TearDown() override {
    DestroyWindow(dialog);
    DestroyWindow(mainWindow);
    UnregisterClassW(u"AltShortcutTest", nullptr);
    KeysTest::TearDown();
  }
  void dispatch() {
    int exitCode = 0;
    PumpThreadMessages(&exitCode);
  }

  HWND mainWindow = nullptr, dialog = nullptr, control = nullptr;
};

TEST_F(AltShortcutTest, AltXCancelsThenConfirmsAndAltEnterConfirmsTheFocusDialog) {
  type({113, 88});
  dispatch();
  EXPECT_EQ(gCommands, (std::vector<Command>{{dialog, IDCANCEL, 2}, {dialog, IDOK, 1}}));
  gCommands.clear();
  type({113, 13});
  dispatch();
  EXPECT_EQ(gCommands, (std::vector<Command>{{dialog, IDOK, 1}}));
  EXPECT_TRUE(injector.calls.empty());
  EXPECT_EQ(AppGlobals.modifierKey, NORMALMODE);
}

TEST_F(AltShortcutTest, AltHAsksForHelpAndAltEscForHotTipsFromTheMainWindow) {
  type({113, 72});
  dispatch();
  EXPECT_EQ(gCommands, (std::vector<Command>{{mainWindow, 122, 0}}));
  gCommands.clear();
  type({113, 27});
  dispatch();
  ASSERT_EQ(gCommands.size(), 1u);
  EXPECT_EQ(gCommands[0].window, mainWindow);
  EXPECT_EQ(gCommands[0].wParam, 120u);
  type({113, 75}); // main window forward: posts nothing
  dispatch();
  EXPECT_EQ(gCommands.size(), 1u);
  EXPECT_TRUE(injector.calls.empty());
}

// While the key test is open, what a key types goes to it, not to the
// desktop; Alt shortcuts that talk to windows still do.
std::vector<LPARAM> gTestChars;

LRESULT recordTestChars(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_APP + 119) // WM_KEY_TEST_CHAR
    gTestChars.push_back(lParam);
  return recordCommands(hwnd, msg, wParam, lParam);
}

TEST_F(AltShortcutTest, KeysGoToTheOpenKeyTestInsteadOfTheDesktop) {
  gTestChars.clear();
  WNDCLASSW cls{};
  cls.lpfnWndProc = &recordTestChars;
  cls.lpszClassName = u"KeyTestStandIn";
  RegisterClassW(&cls);
  HWND test = CreateWindowExW(0, u"KeyTestStandIn", u"key test", WS_POPUP, 0, 0, 10, 10, nullptr,
                              nullptr, nullptr, nullptr);
  int32_t saved[3][kLayoutColumns];
  std::memcpy(saved, AppGlobals.KeycodeTable[65], sizeof saved);
  AppGlobals.KeycodeTable[65][0] = 65;          // a virtual key
  AppGlobals.KeycodeTable[65][1] = 1065;        // its shifted form
  AppGlobals.KeycodeTable[65][2] = 65;          // under caps lock
  AppGlobals.KeycodeTable[66][0] = 2000 + 233;  // a character
  AppGlobals.KeycodeTable[67][0] = 3000 + 0x0D; // a key sent down only
  AppGlobals.keyTestDialog.store(test);
  type({65, 2, 65, 3, 65, 3, 66, 67});
  type({113, 72}); // Alt+H still asks the main window for help
  dispatch();
  EXPECT_EQ(gTestChars, (std::vector<LPARAM>{65, 65, 65, 233, 0x0D}));
  EXPECT_EQ(gCommands, (std::vector<Command>{{mainWindow, 122, 0}}));
  EXPECT_TRUE(injector.calls.empty()) << describe(injector.calls.front());

  // Closed: the desktop gets the keys again.
  AppGlobals.keyTestDialog.store(nullptr);
  type({65});
  dispatch();
  EXPECT_EQ(gTestChars.size(), 5u);
  EXPECT_FALSE(injector.calls.empty());
  DestroyWindow(test);
  UnregisterClassW(u"KeyTestStandIn", nullptr);
  std::memcpy(AppGlobals.KeycodeTable[65], saved, sizeof saved);
}

} // namespace
} // namespace keytest
