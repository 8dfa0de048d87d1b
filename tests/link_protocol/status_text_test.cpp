// The status line set by status codes 2 and 8 comes from the language file
// and is formatted without arguments: "%%" gives "%", a stray conversion is
// shown as it stands instead of reading an argument that is not there, and
// the text is cut to fit the 256-unit status line.
#include "tests/link_protocol/link_test_support.h"

#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "link/frame_actions.h"

#include <filesystem>
#include <fstream>

namespace linktest {
namespace {

class StatusText : public LinkTest {
protected:
  void SetUp() override {
    LinkTest::SetUp();
    setenv("VANTREL_ROOT", root.c_str(), 1);
    std::filesystem::create_directories(root + "/Vantrel");
    WStrCopyN(AppGlobals.InstallDir, MAX_PATH, u"Vantrel\\");
    std::ofstream lang(root + "/Vantrel/Test.lang", std::ios::binary);
    for (int k = 0; k < kUiStringCount; ++k) {
      if (k == 26)
        lang << "Battery 5%% left %s %d %n;note\n";
      else if (k == 27)
        lang << std::string(400, 'x') << ";note\n";
      else
        lang << "T" << k << ";note\n";
    }
    lang.close();
    SettingsStore::WriteString(u"language", u"Test.lang");
    ResetUiStrings();
    ASSERT_TRUE(LoadUiStrings());
  }
  void TearDown() override {
    ResetUiStrings();
    unsetenv("VANTREL_ROOT");
    LinkTest::TearDown();
  }
};

TEST_F(StatusText, PercentSignsAreSafeAndLongTextsAreCut) {
  const uint8_t code2[6] = {0x0A, 50, 2, 0, 0, 0};
  HandleStatusFrame(code2);
  EXPECT_EQ(Utf16ToUtf8(AppGlobals.statusText), "Battery 5% left %s %d %n");
  EXPECT_EQ(TakePosted(), std::vector<std::string>{"main WM_STATUS_TEXT_CHANGED"});

  const uint8_t code8[6] = {0x0A, 50, 8, 0, 0, 0};
  HandleStatusFrame(code8);
  EXPECT_EQ(Utf16ToUtf8(AppGlobals.statusText), std::string(255, 'x'));
}

} // namespace
} // namespace linktest
