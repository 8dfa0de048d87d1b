// The main window and its commands, driven in-process with the toolkit
// offscreen: the Options menu through a connect and a disconnect, the
// commands that change settings, Quit, the second launch, painting's
// choices and the help viewer.
#include "common/globals.h"
#include "app/install_dir.h"
#include "app/instance.h"
#include "app/keys_reach.h"
#include "app/main_window.h"
#include "app/options_menu.h"
#include "app/shutdown.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "app_test_env.h"
#include "common/messages.h"
#include "platform/controls.h"
#include "platform/gdi.h"
#include "platform/inject.h"
#include "platform/menus.h"
#include "platform/process.h"
#include "platform/qt_app.h"
#include "platform/qt/qt_internal.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/link_stand_in.h"
#include "tests/support/scripted_message_boxes.h"
#include "tests/support/thread_messages.h"
#include "tests/support/toolkit.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace testsupport;

namespace {


class MainWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    StartToolkitOnce();
    ASSERT_TRUE(ReadyInProcessWindow(box_));
    AppGlobals.linkState = LINK_IDLE;
  }
  void TearDown() override {
    if (main_) {
      DestroyWindow(main_);
      UnregisterClassW(u"Vantrel", TestInstance());
    }
    ReleaseInstance();
    link_.reset();
    PumpMessages();
  }
  // The program's start-up from the main window on, with a recording link.
  void Start() {
    link_ = std::make_unique<LinkStandIn>();
    ASSERT_TRUE(CreateMainWindow(TestInstance(), SW_SHOW));
    main_ = AppGlobals.mainWindow;
    ASSERT_NE(AppGlobals.optionsMenu, nullptr);
    SendMessageW(main_, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(AppGlobals.optionsMenu), 200);
  }
  void Post(UINT msg, WPARAM wParam, LPARAM lParam) {
    PostMessageW(main_, msg, wParam, lParam);
    PumpMessages();
  }
  void Command(UINT command) { SendMessageW(main_, WM_COMMAND, command, 0); }
  UINT State(UINT id) { return GetMenuState(AppGlobals.optionsMenu, id, MF_BYCOMMAND); }
  bool Checked(UINT id) { return (State(id) & MF_CHECKED) != 0; }
  bool Greyed(UINT id) { return (State(id) & MF_GRAYED) != 0; }
  HWND Button() { return GetDlgItem(main_, kConnectButtonId); }
  std::string Caption() {
    WCHAR text[300];
    GetWindowTextW(Button(), text, 300);
    return Utf16ToUtf8(text);
  }
  // The messages the link received, of one kind.
  std::vector<LinkMessage> Sent(UINT msg) {
    std::vector<LinkMessage> out;
    for (const LinkMessage &m : link_->Messages())
      if (m.message == msg)
        out.push_back(m);
    return out;
  }
  void PairKeyboard() {
    HKEY key;
    DWORD disposition;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Bluetooth\\Device\\0002a5f30001", 0,
                    nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition);
    RegCloseKey(key);
  }

  ProgramSandbox box_;
  HWND main_ = nullptr;
  std::unique_ptr<LinkStandIn> link_;
};

TEST_F(MainWindowTest, MenuAndButtonFollowAConnectAndADisconnect) {
  Start();
  // Initial states.
  EXPECT_FALSE(Greyed(110));
  EXPECT_FALSE(Checked(110));
  for (UINT id : {116u, 117u, 118u, 120u, 146u})
    EXPECT_TRUE(Greyed(id)) << id;
  for (UINT id : {119u, 121u, 122u})
    EXPECT_FALSE(Greyed(id)) << id;
  EXPECT_EQ(Caption(), "Connect");

  Post(WM_LINK_PHASE, 0, 0); // the reader thread starts
  EXPECT_FALSE(IsWindowEnabled(Button()));
  EXPECT_TRUE(Greyed(110));
  Post(WM_LINK_PHASE, 1, 0); // ready
  EXPECT_TRUE(IsWindowEnabled(Button()));
  EXPECT_FALSE(Greyed(110));
  EXPECT_EQ(Caption(), "Connect");
  EXPECT_TRUE(Greyed(146)); // no pairing: stays greyed

  WStrCopyN(AppGlobals.statusText, 256, u"Opening port COM3:");
  Post(WM_STATUS_TEXT_CHANGED, 0, 0);
  EXPECT_EQ(Caption(), "Opening port COM3:");
  EXPECT_FALSE(IsWindowEnabled(Button()));
  EXPECT_TRUE(Greyed(110));

  AppGlobals.testMode = 1;
  // There is no testmode.txt in InstallDir, so the key test only says it
  // cannot open the list: that box is answered here and no dialog opens.
  {
    ScriptedMessageBoxes boxes;
    boxes.RestoreOnExit(vqt::PresentMessageBox);
    Post(WM_LINK_PHASE, 1, 2); // connected
  }
  EXPECT_EQ(Caption(), "Disconnect");
  EXPECT_TRUE(IsWindowEnabled(Button()));
  EXPECT_TRUE(Checked(110));
  EXPECT_FALSE(Greyed(110));
  for (UINT id : {116u, 117u, 118u, 120u})
    EXPECT_FALSE(Greyed(id)) << id;
  EXPECT_TRUE(Greyed(121));
  EXPECT_TRUE(Greyed(146));
  EXPECT_EQ(AppGlobals.testMode.load(), 0); // the key test ran once
  // No software input panel to keep lowered: no timer wakes the window
  // while connected.
  EXPECT_FALSE(KillTimer(main_, kSipTimer));

  // A second WM_INITMENUPOPUP changes nothing.
  SendMessageW(main_, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(AppGlobals.optionsMenu), 200);
  EXPECT_TRUE(Checked(110));
  EXPECT_FALSE(Greyed(116));

  Post(WM_LINK_PHASE, 1, 0); // disconnected
  EXPECT_EQ(Caption(), "Connect");
  EXPECT_FALSE(Checked(110));
  for (UINT id : {116u, 117u, 118u, 120u})
    EXPECT_TRUE(Greyed(id)) << id;
  EXPECT_FALSE(Greyed(121));
  EXPECT_TRUE(Greyed(146));
}

TEST_F(MainWindowTest, ResetComportFollowsThePairing) {
  PairKeyboard();
  Start();
  EXPECT_FALSE(Greyed(146));
  Post(WM_LINK_PHASE, 1, 2);
  EXPECT_TRUE(Greyed(146));
  Post(WM_LINK_PHASE, 1, 0);
  EXPECT_FALSE(Greyed(146));
}

TEST_F(MainWindowTest, TimeoutChoicesAreStoredCheckedAndSentToTheLink) {
  Start();
  EXPECT_TRUE(Checked(126)); // default index 1: 5 min
  const std::vector<std::tuple<UINT, int, long>> choices = {
      {114, 3, 0}, {125, 0, 60000}, {113, 2, 600000}, {126, 1, 300000}, {114, 3, 0}};
  for (auto [command, index, ms] : choices) {
    link_->Clear();
    Command(command);
    PumpMessages();
    EXPECT_EQ(SettingsStore::ReadDword(u"Keyboard Timeout", -1), index);
    for (UINT id : {125u, 126u, 113u, 114u})
      EXPECT_EQ(Checked(id), id == command) << command << " " << id;
    auto sent = Sent(WM_SET_CONNECTION_TIMEOUT);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].lParam, ms);
  }
  // As after a restart: the stored choice is the checked one.
  for (UINT id : {125u, 126u, 113u, 114u})
    CheckMenuItem(AppGlobals.optionsMenu, id, MF_BYCOMMAND | MF_UNCHECKED);
  InitOptionsMenu(AppGlobals.optionsMenu);
  EXPECT_TRUE(Checked(114));
  EXPECT_FALSE(Checked(126));
}

// The link is given the milliseconds of the item the menu checks, whatever
// an older run left in "Connection Timeout"; an index that names no item
// checks nothing and leaves the stored milliseconds in force.
TEST_F(MainWindowTest, TheLinkRunsWithTheCheckedTimeout) {
  struct Case {
    int32_t keyboardTimeout;   // -1: missing, as on a fresh installation
    int32_t connectionTimeout; // -1: missing
    UINT checked;              // 0: none
    int32_t milliseconds;
  };
  const Case cases[] = {
      {-1, -1, 126, 300000}, {-1, 180000, 126, 300000}, {0, 0, 125, 60000},
      {3, 600000, 114, 0},   {7, 45000, 0, 45000},
  };
  Start();
  for (const Case &c : cases) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Vantrel", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegDeleteValueW(key, u"Keyboard Timeout");
    RegDeleteValueW(key, u"Connection Timeout");
    RegCloseKey(key);
    if (c.keyboardTimeout >= 0)
      SettingsStore::WriteDword(u"Keyboard Timeout", c.keyboardTimeout);
    if (c.connectionTimeout >= 0)
      SettingsStore::WriteDword(u"Connection Timeout", c.connectionTimeout);
    for (UINT id : {125u, 126u, 113u, 114u})
      CheckMenuItem(AppGlobals.optionsMenu, id, MF_BYCOMMAND | MF_UNCHECKED);
    InitOptionsMenu(AppGlobals.optionsMenu);
    for (UINT id : {125u, 126u, 113u, 114u})
      EXPECT_EQ(Checked(id), id == c.checked) << c.keyboardTimeout << " " << id;
    EXPECT_EQ(CheckedTimeoutMilliseconds(), c.milliseconds) << c.keyboardTimeout;
  }
}

TEST_F(MainWindowTest, KeyclicksToggleTwiceReturnsToTheStart) {
  Start();
  PumpMessages();
  auto initial = Sent(WM_SET_KEYCLICKS);
  ASSERT_EQ(initial.size(), 1u); // the menu's set-up tells the link
  EXPECT_EQ(initial[0].lParam, 1);
  EXPECT_TRUE(Checked(115));
  link_->Clear();
  Command(115);
  EXPECT_EQ(SettingsStore::ReadDword(u"Keyclicks", -1), 0);
  EXPECT_FALSE(Checked(115));
  Command(115);
  EXPECT_EQ(SettingsStore::ReadDword(u"Keyclicks", -1), 1);
  EXPECT_TRUE(Checked(115));
  PumpMessages();
  auto sent = Sent(WM_SET_KEYCLICKS);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].lParam, 0);
  EXPECT_EQ(sent[1].lParam, 1);
}

TEST_F(MainWindowTest, ASettingThatCannotBeSavedIsToldByTheWindowNotTheWriter) {
  Start();
  PumpMessages();
  // The settings folder cannot be made: every change stays in memory.
  box_.Put("plain", "a file, not a folder");
  RegistryUseDatabase(box_.path() + "/plain/registry.db");
  std::thread::id shownOn;
  ScriptedMessageBoxes boxes;
  boxes.RestoreOnExit(vqt::PresentMessageBox);
  boxes.DuringEach([&shownOn](size_t) { shownOn = std::this_thread::get_id(); });
  // The reader thread's writes during a handshake: it goes on at once.
  std::thread writer([] {
    SettingsStore::WriteDword(u"Serial No", 1);
    SettingsStore::WriteDword(u"Build No", 2);
  });
  writer.join();
  EXPECT_EQ(boxes.Count(), 0u);
  for (int i = 0; i < 500 && boxes.Count() == 0; ++i) {
    PumpMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  PumpMessages();
  EXPECT_EQ(boxes.Count(), 1u) << "one box for the two changes";
  EXPECT_EQ(shownOn, std::this_thread::get_id());
  EXPECT_EQ(SettingsStore::ReadDword(u"Build No", 0), 2);
}

TEST_F(MainWindowTest, QuitDisconnectsBeforeClosing) {
  Start();
  PumpMessages();
  link_->Clear();
  Command(kCommandQuit);
  auto quit = Sent(WM_LINK_QUIT);
  ASSERT_EQ(quit.size(), 1u);
  EXPECT_FALSE(quit[0].closeQueued); // sent before WM_CLOSE was posted
  EXPECT_FALSE(PumpMessages());      // WM_CLOSE ended the loop
  // The menu went with the bar: later updates are skipped, not misdirected.
  EXPECT_EQ(AppGlobals.optionsMenu, nullptr);
  EXPECT_EQ(AppGlobals.menuBar, nullptr);
  OnLinkPhase(main_, 1, 2);
}

TEST_F(MainWindowTest, QuitWithoutALinkStillCloses) {
  Start();
  AppGlobals.link = nullptr;
  Command(kCommandQuit);
  EXPECT_FALSE(PumpMessages());
}

TEST_F(MainWindowTest, DoneHidesAndASecondLaunchShowsTheWindowAgain) {
  Start();
  Command(kCommandDone);
  EXPECT_FALSE(IsWindowVisible(main_));
  EXPECT_FALSE(CreateMainWindow(TestInstance(), SW_SHOW));
  EXPECT_TRUE(IsWindowVisible(main_));
  EXPECT_EQ(AppGlobals.mainWindow, main_);
}

TEST_F(MainWindowTest, ConnectRequestWaitsForTheLinkAndSkipsAConnectedOne) {
  Start();
  RequestConnectAtStart();
  Post(WM_LINK_PHASE, 0, 0);
  EXPECT_TRUE(Sent(WM_TOGGLE_CONNECTION).empty());
  Post(WM_LINK_PHASE, 1, 0);
  EXPECT_EQ(Sent(WM_TOGGLE_CONNECTION).size(), 1u);
  Post(WM_LINK_PHASE, 1, 2);
  RequestConnect(); // connected already: would disconnect, so dropped
  Post(WM_LINK_PHASE, 1, 0);
  EXPECT_EQ(Sent(WM_TOGGLE_CONNECTION).size(), 1u);
  RequestConnect(); // idle and ready: at once
  PumpMessages();
  EXPECT_EQ(Sent(WM_TOGGLE_CONNECTION).size(), 2u);
}

TEST_F(MainWindowTest, SmartphoneStatusLineIsCutTo99Characters) {
  Start();
  AppGlobals.isSmartphone = 1;
  std::u16string longText(200, u'x');
  WStrCopyN(AppGlobals.statusText, 256, longText.c_str());
  Post(WM_STATUS_TEXT_CHANGED, 0, 0);
  EXPECT_EQ(wcslen(AppGlobals.statusLine), 99u);
  EXPECT_EQ(Caption().size(), 200u); // the button takes the whole text
  Post(WM_LINK_PHASE, 1, 2);
  EXPECT_EQ(Utf16ToUtf8(AppGlobals.statusLine), "Connected");
}

// Keys that cannot reach the person's windows: the status says so while
// connected, and the first connection of the run explains what to do.
TEST_F(MainWindowTest, KeysThatReachNoWindowAreToldOnceAndShownWhileConnected) {
  if (access("/dev/uinput", W_OK) == 0)
    GTEST_SKIP() << "skipped: /dev/uinput is writable, so keys would reach the windows";
  std::vector<std::pair<std::string, std::string>> saved;
  for (const char *name : {"VANTREL_INJECT", "DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"}) {
    const char *v = getenv(name);
    saved.emplace_back(name, v ? v : "");
    unsetenv(name);
  }
  // Nothing named, nothing usable: the log, chosen by default.
  ASSERT_STREQ(InjectSelectBackend(), "log");
  ResetKeysReach();
  Start();
  AppGlobals.isSmartphone = 1;
  {
    ScriptedMessageBoxes boxes;
    Post(WM_LINK_PHASE, 1, 2);
    ASSERT_EQ(boxes.Count(), 1u);
    std::string text = Utf16ToUtf8(boxes.Shown()[0].text.c_str());
    EXPECT_NE(text.find("not reaching any window"), std::string::npos) << text;
    EXPECT_NE(text.find("70-vantrel-uinput.rules"), std::string::npos) << text;
    EXPECT_NE(text.find("X11 session"), std::string::npos) << text;
    EXPECT_EQ(Utf16ToUtf8(AppGlobals.statusLine), "Connected, but keys cannot reach your windows");
    ASSERT_NE(KeysReachShownStatus(), nullptr);
    PaintMainWindow(main_);

    // Disconnected: the usual status; connected again: the status, no box.
    Post(WM_LINK_PHASE, 1, 0);
    EXPECT_EQ(KeysReachShownStatus(), nullptr);
    EXPECT_EQ(Utf16ToUtf8(AppGlobals.statusLine), "Not connected");
    Post(WM_LINK_PHASE, 1, 2);
    EXPECT_EQ(boxes.Count(), 1u);
    EXPECT_NE(KeysReachShownStatus(), nullptr);
    Post(WM_LINK_PHASE, 1, 0);
  }
  InjectShutdown();

  // The log named on purpose is no surprise: nothing to tell.
  ResetKeysReach();
  setenv("VANTREL_INJECT", "log", 1);
  ASSERT_STREQ(InjectSelectBackend(), "log");
  {
    ScriptedMessageBoxes boxes;
    Post(WM_LINK_PHASE, 1, 2);
    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_EQ(Utf16ToUtf8(AppGlobals.statusLine), "Connected");
    Post(WM_LINK_PHASE, 1, 0);
  }
  InjectShutdown();
  ResetKeysReach();
  for (const auto &[name, value] : saved)
    if (!value.empty())
      setenv(name.c_str(), value.c_str(), 1);
    else
      unsetenv(name.c_str());

  // X11 named in a Wayland session reaches Xwayland's programs only: told
  // even though named; a backend that reaches the windows tells nothing.
  const WCHAR *message = nullptr;
  ASSERT_NE(KeysReachStatus(InjectReach::kXwaylandOnly, true, &message), nullptr);
  EXPECT_NE(Utf16ToUtf8(message).find("Xwayland"), std::string::npos);
  EXPECT_EQ(KeysReachStatus(InjectReach::kWindows, false, &message), nullptr);
  EXPECT_EQ(message, nullptr);
}

// Each case names its own next step: the package's user is told the
// package to install (not a file the package does not ship), and a desktop
// that refused the leave to type is shown as such, with the request to
// allow named first, until the connection ends.
TEST_F(MainWindowTest, KeysThatCannotReachNameTheNextStepForTheCase) {
  WCHAR savedDir[MAX_PATH];
  WStrCopyN(savedDir, MAX_PATH, AppGlobals.InstallDir);
  const std::u16string system = SystemDataDir();
  ASSERT_FALSE(system.empty());
  WStrCopyN(AppGlobals.InstallDir, MAX_PATH, (system + u"\\").c_str());
  const WCHAR *message = nullptr;
  ASSERT_NE(KeysReachStatus(InjectReach::kNowhere, false, &message), nullptr);
  std::string text = Utf16ToUtf8(message);
  EXPECT_NE(text.find("sudo apt install vantrel-uinput"), std::string::npos) << text;
  EXPECT_EQ(text.find("Vantrel's folder"), std::string::npos) << text;
  WStrCopyN(AppGlobals.InstallDir, MAX_PATH, savedDir);
  text = Utf16ToUtf8(KeysNotAllowedMessage());
  EXPECT_NE(text.find("allow the desktop's request"), std::string::npos) << text;
  EXPECT_NE(text.find("70-vantrel-uinput.rules"), std::string::npos) << text;

  ResetKeysReach();
  Start();
  AppGlobals.isSmartphone = 1;
  {
    ScriptedMessageBoxes boxes;
    Post(WM_LINK_PHASE, 1, 2);
    Post(WM_KEYS_NOT_ALLOWED, static_cast<WPARAM>(InjectNotice::kConsentRefused), 0);
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_NE(Utf16ToUtf8(boxes.Shown()[0].text.c_str()).find("allow the desktop's request"),
              std::string::npos);
    EXPECT_EQ(Utf16ToUtf8(AppGlobals.statusLine),
              "Connected, but the desktop does not let Vantrel type");
    // The next connection asks the desktop again: the usual status.
    Post(WM_LINK_PHASE, 1, 0);
    Post(WM_LINK_PHASE, 1, 2);
    EXPECT_EQ(KeysReachShownStatus(), nullptr);
    EXPECT_EQ(Utf16ToUtf8(AppGlobals.statusLine), "Connected");
    Post(WM_LINK_PHASE, 1, 0);
  }
  ResetKeysReach();
}

// Keys dropped because one of Vantrel's own windows is active: while
// connected the status says so from the first press dropped until keys go
// out again or the link's phase changes, the button making room for the
// painted line; the key test, which hears the keyboard itself, shows no
// word for the shortcut keys it lets drop.
TEST_F(MainWindowTest, KeysKeptFromOwnWindowsAreToldUntilKeysGoOutAgain) {
  ResetKeysReach();
  AppGlobals.isSmartphone = 0;
  Start();
  const std::string word = Utf16ToUtf8(UiString(kUiKeysKeptFromOwnWindows));
  ASSERT_NE(word.find("Vantrel's own windows"), std::string::npos) << word;
  auto shown = [] {
    const WCHAR *status = KeysReachShownStatus();
    return status ? Utf16ToUtf8(status) : std::string();
  };
  auto buttonTop = [this] {
    RECT r = {};
    GetWindowRect(Button(), &r);
    return r.top;
  };
  Post(WM_KEYS_KEPT_FROM_OWN_WINDOWS, 1, 0); // not connected: nothing to say
  EXPECT_EQ(shown(), "");
  Post(WM_LINK_PHASE, 1, 2);
  const LONG top = buttonTop();
  struct Step {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    bool keyTestOpen;
    bool wordShown;
  };
  const Step steps[] = {
      {WM_KEYS_KEPT_FROM_OWN_WINDOWS, 1, 0, false, true},
      {WM_KEYS_KEPT_FROM_OWN_WINDOWS, 1, 0, false, true},
      {WM_KEYS_KEPT_FROM_OWN_WINDOWS, 0, 0, false, false},
      {WM_KEYS_KEPT_FROM_OWN_WINDOWS, 1, 0, true, false},
      {WM_KEYS_KEPT_FROM_OWN_WINDOWS, 1, 0, false, true},
      {WM_LINK_PHASE, 1, 0, false, false},
      {WM_LINK_PHASE, 1, 2, false, false},
  };
  for (size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
    const Step &step = steps[i];
    SCOPED_TRACE(i);
    AppGlobals.keyTestDialog = step.keyTestOpen ? main_ : nullptr;
    Post(step.msg, step.wParam, step.lParam);
    AppGlobals.keyTestDialog = nullptr;
    EXPECT_EQ(shown(), step.wordShown ? word : "");
    if (step.msg == WM_KEYS_KEPT_FROM_OWN_WINDOWS) {
      EXPECT_EQ(buttonTop() != top, step.wordShown) << "the button keeps its place under the line";
    }
  }
  // A small screen's status line shows the word and then the usual status.
  AppGlobals.isSmartphone = 1;
  Post(WM_KEYS_KEPT_FROM_OWN_WINDOWS, 1, 0);
  EXPECT_EQ(Utf16ToUtf8(AppGlobals.statusLine), word.substr(0, 99));
  Post(WM_KEYS_KEPT_FROM_OWN_WINDOWS, 0, 0);
  EXPECT_EQ(Utf16ToUtf8(AppGlobals.statusLine), "Connected");
  AppGlobals.isSmartphone = 0;
  Post(WM_LINK_PHASE, 1, 0);
  ResetKeysReach();
}

TEST(MainPicture, ChosenByTheClientWidth) {
  EXPECT_STREQ(Utf16ToUtf8(MainPictureName(240, false)).c_str(), "vtr.bmp");
  EXPECT_STREQ(Utf16ToUtf8(MainPictureName(241, false)).c_str(), "vtr_wide.bmp");
  EXPECT_STREQ(Utf16ToUtf8(MainPictureName(300, true)).c_str(), "vtr_wide.bmp");
  EXPECT_STREQ(Utf16ToUtf8(MainPictureName(320, true)).c_str(), "vtr.bmp");
}

TEST_F(MainWindowTest, FittingLoopsKeepToTheirCaps) {
  Start();
  HDC hdc = GetDC(main_);
  RECT wide = {0, 0, 400, 300};
  // T = 2: the welcome text at most 6 high, the footer at most 4.
  EXPECT_EQ(FitTextHeight(hdc, u"Hi", wide, 3 * 2), 6);
  EXPECT_EQ(FitTextHeight(hdc, u"Hi", wide, 2 * 2), 4);
  // Wider than the window even at 10: drawn at 8.
  std::u16string longText(400, u'W');
  EXPECT_EQ(FitTextHeight(hdc, longText.c_str(), wide, 100), 8);
  // An empty text fits at any height: the loop still ends, at the cap.
  EXPECT_EQ(FitTextHeight(hdc, u"", wide, 60), 60);
  // A short text grows until it no longer fits, below a generous cap.
  const int grown = FitTextHeight(hdc, u"Vantrel", wide, 1000);
  EXPECT_GT(grown, 10);
  EXPECT_LT(grown, 1000);
  ReleaseDC(main_, hdc);
}

TEST_F(MainWindowTest, ANewLanguageIsChosenFromTheMenuAndShownAtOnce) {
  box_.CopyData("Deutsch.lang", "opt/Vantrel/Deutsch.lang");
  Start();
  Post(WM_LINK_PHASE, 1, 0);
  ASSERT_EQ(Caption(), "Connect");
  EXPECT_FALSE(Greyed(kCommandDisplayLanguage));
  // The item opens the installed languages, not the layouts.
  ASSERT_TRUE(DriveDialog([this] { Command(kCommandDisplayLanguage); },
                          [](HWND dialog) {
                            for (int i = 0; i < 10; ++i) {
                              HWND b = GetDlgItem(dialog, 500 + i);
                              WCHAR text[32] = {};
                              GetWindowTextW(b, text, 32);
                              EXPECT_NE(std::u16string(text), u"Intl English");
                              if (b && std::u16string(text) == u"Deutsch")
                                SendMessageW(dialog, WM_COMMAND, 500 + i, 0);
                            }
                            SendMessageW(dialog, WM_COMMAND, 40004, 0);
                          },
                          kDriveCloseAfter));
  EXPECT_TRUE(IsWindow(main_)) << "a new language needs no restart";
  WCHAR stored[64];
  SettingsStore::ReadString(u"language", stored);
  EXPECT_EQ(std::u16string(stored), u"Deutsch.lang");
  EXPECT_EQ(Caption(), "Verbinden");
  EXPECT_EQ(std::u16string(AppGlobals.SensitivityChoices[1].label), u"Minimal");

  // The rest of the program's words follow, through the real widgets: the
  // menu bar's menu and its items, a window's title, the toolkit's own
  // Close button and a button of the program's beside it.
  struct BackToEnglish {
    ~BackToEnglish() { SetToolkitLanguage("en"); }
  } backToEnglish;
  auto *menuBar = vqt::HostFor(main_)->frame->findChild<QMenuBar *>("vantrel_menu_bar");
  ASSERT_NE(menuBar, nullptr);
  ASSERT_FALSE(menuBar->actions().isEmpty());
  EXPECT_EQ(menuBar->actions()[0]->text(), "Optionen");
  QMenu *options = menuBar->actions()[0]->menu();
  ASSERT_NE(options, nullptr);
  emit options->aboutToShow();
  QStringList items;
  for (QAction *action : options->actions())
    items << action->text();
  for (const char *item : {"Tastaturbelegung", "Sprache", "Kurztipps (Tastatur: Alt+Esc)",
                           "Hilfe", "\u00dcber Vantrel", "Beenden"})
    EXPECT_TRUE(items.contains(QString::fromUtf8(item))) << item << "\n"
                                                         << items.join('|').toStdString();
  ASSERT_TRUE(DriveDialog([this] { Command(kCommandAbout); },
                          [](HWND dialog) {
                            WCHAR title[64] = {};
                            GetWindowTextW(dialog, title, 64);
                            EXPECT_EQ(std::u16string(title), u"\u00dcber Vantrel");
                            auto *buttons = vqt::HostFor(dialog)->frame->findChild<QDialogButtonBox *>(
                                "vantrel_dialog_buttons");
                            ASSERT_NE(buttons, nullptr);
                            QPushButton *close = buttons->button(QDialogButtonBox::Close);
                            ASSERT_NE(close, nullptr);
                            EXPECT_EQ(close->text().remove('&'), QString::fromUtf8("Schlie\u00dfen"));
                            QStringList texts;
                            for (QAbstractButton *b : buttons->buttons())
                              texts << b->text();
                            EXPECT_TRUE(texts.contains("Mehr")) << texts.join('|').toStdString();
                          },
                          kDriveCloseAfter));
}

// A new layout is read at start-up: the box offers to restart, "Later"
// keeps the program running with the new layout stored for its next start,
// "Restart Now" ends it to start again (as Reset ComPort does).
TEST_F(MainWindowTest, ANewLayoutOffersARestart) {
  box_.CopyData("UK.kcod", "opt/Vantrel/UK.kcod");
  Start();
  PumpMessages();
  link_->Clear();
  for (int answer : {IDNO, IDYES}) {
    SCOPED_TRACE(answer);
    SettingsStore::WriteString(u"keycode", u"Intl English.kcod");
    ScriptedMessageBoxes boxes({answer});
    ASSERT_TRUE(DriveDialog([this] { Command(kCommandLanguage); },
                            [](HWND dialog) {
                              for (int i = 0; i < 10; ++i) {
                                WCHAR text[32] = {};
                                GetWindowTextW(GetDlgItem(dialog, 500 + i), text, 32);
                                if (std::u16string(text) == u"UK")
                                  SendMessageW(dialog, WM_COMMAND, 500 + i, 0);
                              }
                              SendMessageW(dialog, WM_COMMAND, 40004, 0);
                            },
                            kDriveCloseAfter));
    WCHAR stored[64];
    SettingsStore::ReadString(u"keycode", stored);
    EXPECT_EQ(std::u16string(stored), u"UK.kcod");
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Shown()[0].type, MB_YESNO | MB_ICONQUESTION);
    EXPECT_NE(boxes.Shown()[0].text.find(u"Restart Vantrel now?"), std::u16string::npos);
    EXPECT_EQ(RestartRequested(), answer == IDYES);
    // Ended as Quit ends it: the keyboard told first, then the window closed.
    EXPECT_EQ(Sent(WM_LINK_QUIT).size(), answer == IDYES ? 1u : 0u);
    EXPECT_EQ(PumpMessages(), answer == IDNO);
  }
}

TEST_F(MainWindowTest, PaintsWithoutThePicture) {
  Start();
  std::remove((box_.path() + "/opt/Vantrel/vtr.bmp").c_str());
  std::remove((box_.path() + "/opt/Vantrel/vtr_wide.bmp").c_str());
  InvalidateRect(main_, nullptr, TRUE);
  UpdateWindow(main_); // no picture: nothing drawn for it, no failure
  SUCCEED();
}

// The start-up's later steps wait for the window's first picture: they run
// once, from the loop, after a paint; a window that gets no paint (hidden,
// not exposed) runs them after the wait instead of never.
TEST_F(MainWindowTest, TheStepAfterTheFirstPaintRunsOnceWithOrWithoutAPaint) {
  Start();
  PumpMessages();
  static int runs;
  runs = 0;
  auto painted = [] {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (runs == 0 && std::chrono::steady_clock::now() < end) {
      QCoreApplication::processEvents();
      PumpMessages();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  };
  AfterFirstPaint(main_, [] { ++runs; });
  EXPECT_EQ(runs, 0) << "not before the paint";
  InvalidateRect(main_, nullptr, TRUE);
  UpdateWindow(main_);
  painted();
  EXPECT_EQ(runs, 1);
  // Later paints and the wait's end run nothing more.
  InvalidateRect(main_, nullptr, TRUE);
  UpdateWindow(main_);
  std::this_thread::sleep_for(std::chrono::milliseconds(kFirstPaintWaitMs + 50));
  QCoreApplication::processEvents();
  PumpMessages();
  EXPECT_EQ(runs, 1);

  ShowWindow(main_, SW_HIDE);
  PumpMessages();
  runs = 0;
  AfterFirstPaint(main_, [] { ++runs; });
  painted();
  EXPECT_EQ(runs, 1) << "a hidden window still runs the step";
}

TEST_F(MainWindowTest, HelpOpensTheDocumentDetachedOrInAWindowOfItsOwn) {
  Start();
  SetHelpFolder(AppGlobals.InstallDir);
  // A stand-in for the desktop's handler that notes what it was given.
  const std::string bin = box_.path() + "/bin";
  const std::string noted = box_.path() + "/opened.txt";
  box_.Put("bin/xdg-open", "#!/bin/sh\necho \"$1\" > '" + noted + "'\n");
  chmod((bin + "/xdg-open").c_str(), 0755);
  const std::string oldPath = getenv("PATH");
  setenv("PATH", (bin + ":" + oldPath).c_str(), 1);

  {
    ScriptedMessageBoxes boxes;
    // Missing document: nothing is started, and the person is told.
    Post(WM_HELP, 0, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(std::ifstream(noted).good());
    box_.CopyData("Vantrel.htm", "opt/Vantrel/Vantrel.htm");
    // No program to open it: Vantrel shows it in a window of its own.
    setenv("PATH", (box_.path() + "/opt").c_str(), 1);
    Post(WM_HELP, 0, 0);
    setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_NE(boxes.Shown()[0].text.find(u"Vantrel.htm is missing"), std::u16string::npos);
    EXPECT_EQ(boxes.Shown()[0].owner, main_);
    QTextBrowser *shown = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
      if (w->objectName() == "vantrel_help" && w->isVisible())
        shown = w->findChild<QTextBrowser *>();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->source().toLocalFile().toStdString(),
              box_.path() + "/opt/Vantrel/Vantrel.htm");
    EXPECT_TRUE(shown->isReadOnly());
    EXPECT_FALSE(shown->toPlainText().isEmpty());
    shown->window()->close();
  }

  Command(kCommandHelp); // posts WM_HELP
  PumpMessages();
  std::string line;
  for (int i = 0; i < 50 && line.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::ifstream in(noted);
    std::getline(in, line);
  }
  setenv("PATH", oldPath.c_str(), 1);
  EXPECT_EQ(line, box_.path() + "/opt/Vantrel/Vantrel.htm");
}

} // namespace

// Agreeing to calibrate a new keyboard puts the link into calibration and
// asks the main window for the calibration dialog. A user who then declines
// both of its questions (the Qt message boxes are found by their object name
// and closed without a button, which answers No) gets the link handed back
// to typing, once, not left calibrating for good.
TEST_F(MainWindowTest, DecliningTheCalibrationDialogReturnsTheLinkToTyping) {
  Start();
  PumpMessages();
  link_->Clear();
  QTimer decline;
  decline.setInterval(20);
  QObject::connect(&decline, &QTimer::timeout, [] {
    for (QWidget *w : QApplication::topLevelWidgets())
      if (auto *box = qobject_cast<QMessageBox *>(w);
          box && box->objectName() == "vantrel_message_box" && box->isVisible())
        box->reject();
  });
  decline.start();
  AppGlobals.linkState = LINK_CALIBRATING;
  Post(WM_CALIBRATE, 0, 0);
  EXPECT_EQ(Sent(WM_END_CALIBRATION).size(), 1u);
  EXPECT_TRUE(Sent(WM_CALIBRATE).empty());

  // The same from the menu while typing.
  link_->Clear();
  AppGlobals.linkState = LINK_TYPING;
  Command(kCommandCalibration);
  PumpMessages();
  EXPECT_EQ(Sent(WM_END_CALIBRATION).size(), 1u);
  EXPECT_TRUE(Sent(WM_CALIBRATE).empty());
}
