// Start-up steps that touch the settings and the files: the data folder, the
// first-run language, test mode and the platform.
#include "common/globals.h"
#include "common/settings_store.h"
#include "app/startup.h"
#include "app_test_env.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

using namespace testsupport;

namespace {

std::string Text(const char16_t *name) {
  WCHAR buffer[kSettingTextUnits];
  SettingsStore::ReadString(name, buffer);
  return Utf16ToUtf8(buffer);
}

class Locale {
public:
  explicit Locale(const char *value) { setenv("LC_ALL", value, 1); }
  ~Locale() { unsetenv("LC_ALL"); }
};

TEST(StartUp, WithoutItsDataFolderVantrelSaysWhereItLookedAndFails) {
  ProgramSandbox box;
  box.MakeFolder("empty");
  box.MakeFolder("stripped/opt/Vantrel");
  box.CopyData("Intl English.kcod", "stripped/opt/Vantrel/Intl English.kcod");
  const struct {
    std::string root;
    std::string named; // what stderr must name
  } cases[] = {
      {box.path() + "/nonexistent", box.path() + "/nonexistent"},
      {box.path() + "/empty", box.path() + "/empty/usr/share/vantrel"},
      {box.path() + "/stripped", box.path() + "/stripped/opt/Vantrel"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.root);
    std::vector<std::string> env = ProgramEnvironment(box.path());
    env.push_back("VANTREL_ROOT=" + c.root);
    const std::string out = box.File("vantrel.out");
    Child vantrel({VANTREL_EXE}, env, out);
    EXPECT_EQ(vantrel.Wait(std::chrono::seconds(10)), 1) << ReadFile(out);
    EXPECT_NE(ReadFile(out).find("vantrel: Vantrel cannot start: "), std::string::npos) << ReadFile(out);
    EXPECT_NE(ReadFile(out).find(c.named), std::string::npos) << ReadFile(out);
    // Nothing of its work had started: not even the key injection.
    EXPECT_EQ(ReadFile(box.File("trace.log")).find("Typing keys through"), std::string::npos);
  }
}

// The window's first picture comes before the work it does not need: the
// tray icon and the link (its window, the reader thread and the port) start
// after the first paint, then the program goes on as before.
TEST(StartUp, TheWindowPaintsBeforeTheTrayAndTheLinkStart) {
  ProgramSandbox box;
  PresetProgramRun(box, u"COM3:");
  Child vantrel({VANTREL_EXE}, ProgramEnvironment(box.path()), box.File("vantrel.out"));
  const std::string trace = box.File("trace.log");
  ASSERT_TRUE(WaitFor(
      [&] { return ReadFile(trace).find("Connect button: Connect") != std::string::npos; },
      std::chrono::seconds(20)))
      << ReadFile(trace) << ReadFile(box.File("vantrel.out"));
  const std::string text = ReadFile(trace);
  const size_t painted = text.find("yLine = ");
  ASSERT_NE(painted, std::string::npos) << text;
  for (const char *later : {"tray: ", "Connect button: Connect"}) {
    SCOPED_TRACE(later);
    EXPECT_LT(painted, text.find(later)) << text;
  }
}

TEST(FirstRun, LanguageComesFromTheDeviceLanguage) {
  for (auto [locale, file] : {std::pair{"en_GB.UTF-8", "English.lang"},
                              std::pair{"de_DE.UTF-8", "Deutsch.lang"},
                              std::pair{"C", "English.lang"}}) {
    ProgramSandbox box;
    Locale set(locale);
    SettleLanguage();
    EXPECT_EQ(Text(u"language"), file) << locale;
    EXPECT_EQ(SettingsStore::ReadDword(u"Initialised", 7), 0) << locale;
    EXPECT_EQ(Text(u"keycode"), "Intl English.kcod") << locale;
  }
}

TEST(FirstRun, NoneCountsAsUnsetButAStoredLanguageIsKept) {
  ProgramSandbox box;
  Locale set("de_DE.UTF-8");
  SettingsStore::WriteString(u"language", u"None");
  SettleLanguage();
  EXPECT_EQ(Text(u"language"), "Deutsch.lang");

  SettingsStore::WriteString(u"language", u"Français.lang");
  SettingsStore::WriteDword(u"Initialised", 1);
  SettingsStore::WriteString(u"keycode", u"UK.kcod");
  SettleLanguage();
  EXPECT_EQ(Text(u"language"), "Français.lang");
  EXPECT_EQ(SettingsStore::ReadDword(u"Initialised", 0), 1);
  EXPECT_EQ(Text(u"keycode"), "UK.kcod");
}

TEST(StartUp, TestModeOnlyWithTheFileInInstallDir) {
  ProgramSandbox box;
  box.MakeFolder("opt/Vantrel");
  WStrCopyN(AppGlobals.InstallDir, MAX_PATH, u"opt\\Vantrel\\");
  box.Put("testmode.txt", "in the root, not in InstallDir");
  CheckTestMode();
  EXPECT_EQ(AppGlobals.testMode.load(), 0);
  box.Put("opt/Vantrel/testmode.txt", "A,65,x\n");
  CheckTestMode();
  EXPECT_EQ(AppGlobals.testMode.load(), 1);
}

TEST(StartUp, PlatformFromTheEnvironment) {
  ProgramSandbox box;
  unsetenv("VANTREL_PLATFORM");
  DetectPlatform();
  EXPECT_EQ(AppGlobals.isSmartphone, 0);
  EXPECT_EQ(AppGlobals.osMajorVersion, 5);
  setenv("VANTREL_PLATFORM", "smartPHONE", 1);
  DetectPlatform();
  EXPECT_EQ(AppGlobals.isSmartphone, 1);
  unsetenv("VANTREL_PLATFORM");
}

} // namespace
