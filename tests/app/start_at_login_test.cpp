// "Start at login" in the Options menu, offscreen: the autostart entry
// written and removed through the menu command and read back by a desktop
// entry parser, the check mark following the file as the menu opens, and a
// config folder that cannot be written to giving a message, not a crash.
#include "app/instance.h"
#include "app/main_window.h"
#include "app/options_menu.h"
#include "app_test_env.h"
#include "common/globals.h"
#include "common/messages.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "platform/autostart.h"
#include "platform/menus.h"
#include "platform/text.h"
#include "tests/support/link_stand_in.h"
#include "tests/support/scripted_message_boxes.h"
#include "tests/support/thread_messages.h"
#include "tests/support/toolkit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <unistd.h>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {


// The keys of a desktop entry's [Desktop Entry] group; empty when the file
// is missing or does not start with that group.
std::map<std::string, std::string> ReadEntry(const std::string &path) {
  std::ifstream in(path);
  std::string line;
  std::map<std::string, std::string> keys;
  if (!std::getline(in, line) || line != "[Desktop Entry]")
    return keys;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#')
      continue;
    if (line[0] == '[')
      break;
    const size_t eq = line.find('=');
    if (eq != std::string::npos)
      keys[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return keys;
}

// desktop-file-validate's verdict: "" when valid or when the tool is not
// installed (the own parse above still runs), else its complaint.
std::string ValidatorComplaint(const std::string &path) {
  if (system("command -v desktop-file-validate >/dev/null 2>&1") != 0)
    return "";
  const std::string out = path + ".validate"; // beside it: the test's own folder
  const std::string command = "desktop-file-validate '" + path + "' >'" + out + "' 2>&1";
  const int status = system(command.c_str());
  std::ifstream in(out);
  std::stringstream text;
  text << in.rdbuf();
  // Hints are advice, not faults of the format.
  std::string faults;
  std::istringstream lines(text.str());
  for (std::string line; std::getline(lines, line);)
    if (line.find("hint:") == std::string::npos)
      faults += line + "\n";
  return status == 0 && faults.empty() ? "" : faults + "(status " + std::to_string(status) + ")";
}

class StartAtLogin : public ::testing::Test {
protected:
  void SetUp() override {
    StartToolkitOnce();
    ASSERT_TRUE(ReadyInProcessWindow(box_));
    AppGlobals.linkState = LINK_IDLE;
    if (const char *old = getenv("XDG_CONFIG_HOME"))
      oldConfig_ = old;
    config_ = box_.path() + "/config";
    setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
    entry_ = config_ + "/autostart/org.vantrel.Vantrel.desktop";
    link_ = std::make_unique<LinkStandIn>();
    ASSERT_TRUE(CreateMainWindow(TestInstance(), SW_SHOW));
    main_ = AppGlobals.mainWindow;
    OpenMenu();
  }
  void TearDown() override {
    if (oldConfig_.empty())
      unsetenv("XDG_CONFIG_HOME");
    else
      setenv("XDG_CONFIG_HOME", oldConfig_.c_str(), 1);
    DestroyWindow(main_);
    UnregisterClassW(u"Vantrel", TestInstance());
    ReleaseInstance();
    link_.reset();
    PumpMessages();
  }
  // What the window hears as the Options menu opens.
  void OpenMenu() {
    SendMessageW(main_, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(AppGlobals.optionsMenu), 0);
  }
  void Choose() { SendMessageW(main_, WM_COMMAND, kCommandStartAtLogin, 0); }
  bool Checked() {
    return (GetMenuState(AppGlobals.optionsMenu, kCommandStartAtLogin, MF_BYCOMMAND) &
            MF_CHECKED) != 0;
  }

  ProgramSandbox box_;
  std::string oldConfig_, config_, entry_;
  HWND main_ = nullptr;
  std::unique_ptr<LinkStandIn> link_;
};

TEST_F(StartAtLogin, TheMenuCommandWritesAValidEntryAndRemovesIt) {
  ScriptedMessageBoxes boxes;
  EXPECT_FALSE(Checked());

  Choose();
  ASSERT_TRUE(fs::exists(entry_));
  EXPECT_TRUE(Checked());
  const auto keys = ReadEntry(entry_);
  EXPECT_EQ(keys.count("Type") ? keys.at("Type") : "", "Application");
  EXPECT_EQ(keys.count("Exec") ? keys.at("Exec") : "",
            DesktopExecValue(OwnProgramPath(), {"--connect", "--hidden"}));
  EXPECT_NE(keys.count("Exec") ? keys.at("Exec") : "", "");
  EXPECT_EQ(keys.count("Icon") ? keys.at("Icon") : "", "org.vantrel.Vantrel");
  // Only the entry itself is left in the folder: no temporary file.
  int files = 0;
  for (const auto &item : fs::directory_iterator(config_ + "/autostart")) {
    (void)item;
    ++files;
  }
  EXPECT_EQ(files, 1);
  EXPECT_EQ(ValidatorComplaint(entry_), "");

  Choose();
  EXPECT_FALSE(fs::exists(entry_));
  EXPECT_FALSE(Checked());
  EXPECT_EQ(boxes.Count(), 0u);

  // The check mark follows the file as the menu opens, whoever wrote it.
  std::string why;
  ASSERT_TRUE(AutostartEnable("/usr/bin/vantrel", {"--connect"}, &why)) << why;
  OpenMenu();
  EXPECT_TRUE(Checked());
  fs::remove(entry_);
  OpenMenu();
  EXPECT_FALSE(Checked());
}

TEST_F(StartAtLogin, AProgramPathWithSpecialCharactersIsQuotedAsTheFormatWants) {
  EXPECT_EQ(DesktopExecValue("/usr/bin/vantrel", {"--connect", "--hidden"}),
            "/usr/bin/vantrel --connect --hidden");
  // Quotes around a word with reserved characters; inside them '"', '$',
  // '`' and '\' escaped; '%' doubled; then every backslash doubled for the
  // string value.
  EXPECT_EQ(DesktopExecValue("/opt/My Apps/v%1\"$`\\x", {"--connect"}),
            "\"/opt/My Apps/v%%1\\\\\"\\\\$\\\\`\\\\\\\\x\" --connect");
  // A newline cannot be carried: nothing is written.
  EXPECT_EQ(DesktopExecValue("/opt/a\nb/vantrel", {}), "");
  std::string why;
  EXPECT_FALSE(AutostartEnable("/opt/a\nb/vantrel", {}, &why));
  EXPECT_FALSE(fs::exists(entry_));

  ASSERT_TRUE(AutostartEnable("/opt/My Apps/v%1\"$`\\x", {"--connect", "--hidden"}, &why)) << why;
  EXPECT_EQ(ValidatorComplaint(entry_), "");
}

TEST_F(StartAtLogin, AConfigFolderThatCannotBeWrittenGivesAMessage) {
  // A file where the autostart folder should be stops every user, root too.
  fs::create_directories(config_);
  std::ofstream(config_ + "/autostart") << "not a folder\n";
  ScriptedMessageBoxes boxes;
  Choose();
  ASSERT_EQ(boxes.Count(), 1u);
  const std::string text = Utf16ToUtf8(boxes.Shown()[0].text);
  EXPECT_NE(text.find("start at login"), std::string::npos) << text;
  EXPECT_NE(text.find(config_ + "/autostart"), std::string::npos) << text;
  EXPECT_FALSE(Checked());

  // A folder without write permission (not for root, whom nothing stops).
  if (geteuid() != 0) {
    fs::remove(config_ + "/autostart");
    fs::create_directories(config_ + "/autostart");
    fs::permissions(config_ + "/autostart", fs::perms::owner_read | fs::perms::owner_exec);
    Choose();
    EXPECT_EQ(boxes.Count(), 2u);
    EXPECT_FALSE(Checked());
    EXPECT_FALSE(fs::exists(entry_));
    fs::permissions(config_ + "/autostart", fs::perms::owner_all);
  }
}

} // namespace
