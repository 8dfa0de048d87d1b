// Loading the UI strings from language files, and the language files that
// ship with the program.
#include "common/globals.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/window.h"
#include "tests/support/sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class UiStringsTest : public ::testing::Test {
protected:
  void SetUp() override {
    tmp_.MakeFolder("Vantrel");
    WStrCopyN(AppGlobals.InstallDir, MAX_PATH, u"Vantrel\\");
  }
  void TearDown() override { unsetenv("VANTREL_ROOT"); }
  void Put(const std::string &name, const std::string &content) {
    tmp_.Put("Vantrel/" + name, content);
  }
  bool LoadFrom(const std::u16string &language) {
    SettingsStore::WriteString(u"language", language.c_str());
    return LoadUiStrings();
  }
  // Never the user's settings.
  testsupport::ProgramSandbox tmp_{"lang", testsupport::kDeviceRoot | testsupport::kSettings};
  const std::string root_ = tmp_.path();
};

// Lines "T<k>;note<k>" for k = 0..count-1.
std::string Lines(int count, const std::string &end) {
  std::string text;
  for (int k = 0; k < count; ++k)
    text += "T" + std::to_string(k) + ";note" + std::to_string(k) + end;
  return text;
}

std::u16string Str(int n) { return UiString(n); }

TEST_F(UiStringsTest, CrLfLinesGiveTextsWithoutTheCr) {
  Put("Test.lang", Lines(kUiStringCount, "\r\n"));
  ASSERT_TRUE(LoadFrom(u"Test.lang"));
  for (int k = 0; k < kUiStringCount; ++k)
    EXPECT_EQ(Str(k), u"T" + Utf8ToUtf16(std::to_string(k)));
}

TEST_F(UiStringsTest, DelimiterRunsCollapseAndCrStaysInItsField) {
  // Leading delimiters, ";;", empty lines and a CR before the semicolon.
  std::string text = ";\n\nA\r;;noteA\n\n\nB;noteB;;\n" + Lines(39, "\n");
  Put("Test.lang", text);
  ASSERT_TRUE(LoadFrom(u"Test.lang"));
  EXPECT_EQ(Str(0), u"A\r");
  EXPECT_EQ(Str(1), u"B");
  EXPECT_EQ(Str(2), u"T0");
  EXPECT_EQ(Str(40), u"T38");
}

TEST_F(UiStringsTest, EightBitTextIsConverted) {
  Put("Test.lang", "Gr\xC3\xBC\xC3\x9F" "e;utf8\nCaf\xE9;ansi\n" + Lines(39, "\n"));
  ASSERT_TRUE(LoadFrom(u"Test.lang"));
  EXPECT_EQ(Str(0), u"Gr\u00fc\u00dfe");
  EXPECT_EQ(Str(1), u"Caf\u00e9");
}

// Fields 0..79 with field 79 padded so that field 80, "LAST", ends exactly at
// byte 10000.
std::string UpToByte10000() {
  std::string head = Lines(40, "\n");
  head.pop_back();
  std::string text = head + std::string(10000 - head.size() - 5, 'p') + "\nLAST";
  EXPECT_EQ(text.size(), 10000u);
  return text;
}

TEST_F(UiStringsTest, OnlyTheFirst10000BytesCount) {
  Put("Exact.lang", UpToByte10000());
  ASSERT_TRUE(LoadFrom(u"Exact.lang"));
  EXPECT_EQ(Str(40), u"LAST"); // a file of exactly 10000 bytes is read whole

  ResetUiStrings();
  Put("Longer.lang", UpToByte10000() + "MORE;note\n");
  ASSERT_TRUE(LoadFrom(u"Longer.lang"));
  EXPECT_EQ(Str(40), u"LAST"); // the bytes after 10000 never reach a string
  EXPECT_EQ(Str(0), u"T0");
}

TEST_F(UiStringsTest, FewerFieldsLeaveEmptyStringsAndExtraFieldsAreIgnored) {
  Put("Short.lang", Lines(10, "\n") + "T10");
  ASSERT_TRUE(LoadFrom(u"Short.lang"));
  EXPECT_EQ(Str(10), u"T10");
  for (int k = 11; k < kUiStringCount; ++k)
    EXPECT_EQ(Str(k), u"") << k;

  ResetUiStrings();
  Put("Long.lang", Lines(kUiStringCount + 4, "\n"));
  ASSERT_TRUE(LoadFrom(u"Long.lang"));
  EXPECT_EQ(Str(kUiStringCount - 1), u"T" + Utf8ToUtf16(std::to_string(kUiStringCount - 1)));
  EXPECT_EQ(Str(kUiStringCount), u""); // out of range
}

TEST_F(UiStringsTest, FallsBackToEnglishThenQuits) {
  Put("English.lang", Lines(kUiStringCount, "\n"));
  ASSERT_TRUE(LoadFrom(u"None"));
  EXPECT_EQ(Str(5), u"T5");

  ResetUiStrings();
  fs::remove(root_ + "/Vantrel/English.lang");
  EXPECT_FALSE(LoadFrom(u"Missing.lang"));
  EXPECT_EQ(Str(0), u"");
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 0u);
}

// The shipped files: every text present, labels fit their 10-unit fields,
// status texts are safe as format strings.
TEST_F(UiStringsTest, ShippedLanguageFilesAreComplete) {
  for (const char *name :
       {"English.lang", "Deutsch.lang", "Fran\xC3\xA7" "ais.lang", "Espa\xC3\xB1ol.lang"}) {
    SCOPED_TRACE(name);
    fs::copy_file(fs::path(VANTREL_SOURCE_DIR) / "data" / name,
                  fs::path(root_) / "Vantrel" / name, fs::copy_options::overwrite_existing);
    ResetUiStrings();
    ASSERT_TRUE(LoadFrom(Utf8ToUtf16(name)));
    for (int k = 0; k < kUiStringCount; ++k) {
      std::u16string text = Str(k);
      EXPECT_FALSE(text.empty()) << k;
      EXPECT_EQ(text.find(u'\r'), std::u16string::npos) << k;
      EXPECT_EQ(text.find(u'\ufffd'), std::u16string::npos) << k;
      if (k >= 29 && k <= 36) {
        EXPECT_LE(text.size(), 9u) << k;
      }
      if (k >= 23 && k <= 28) {
        for (size_t i = 0; i < text.size(); ++i)
          if (text[i] == u'%') {
            ASSERT_TRUE(i + 1 < text.size() && text[i + 1] == u'%') << k;
            ++i;
          }
      }
    }
    // Each line is "text;note": 82 fields would mean a stray delimiter.
    std::ifstream in(fs::path(VANTREL_SOURCE_DIR) / "data" / name);
    int lines = 0;
    for (std::string line; std::getline(in, line); ++lines)
      EXPECT_EQ(std::count(line.begin(), line.end(), ';'), 1) << line;
    EXPECT_EQ(lines, kUiStringCount);
  }
}

} // namespace
