// The Alt shortcuts that talk to windows: OK and Cancel go to the top-level
// window around the focus, help and hot tips to the main window.
#include "tests/keys/keys_fixture.h"

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

} // namespace
} // namespace keytest
