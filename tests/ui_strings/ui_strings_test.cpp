// Loading the UI strings from language files, and the language files that
// ship with the program.
#include "common/globals.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "platform/menus.h"
#include "platform/registry.h"
#include "platform/resource_formats.h"
#include "platform/text.h"
#include "platform/window.h"
#include "resources/resources.h"
#include "tests/support/sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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
// the read limit.
std::string UpToTheLimit() {
  std::string head = Lines(40, "\n");
  head.pop_back();
  std::string text = head + std::string(kLanguageFileReadLimit - head.size() - 5, 'p') + "\nLAST";
  EXPECT_EQ(text.size(), kLanguageFileReadLimit);
  return text;
}

TEST_F(UiStringsTest, OnlyTheBytesUpToTheLimitCount) {
  Put("Exact.lang", UpToTheLimit());
  ASSERT_TRUE(LoadFrom(u"Exact.lang"));
  EXPECT_EQ(Str(40), u"LAST"); // a file as long as the limit is read whole

  ResetUiStrings();
  Put("Longer.lang", UpToTheLimit() + "MORE;note\n");
  ASSERT_TRUE(LoadFrom(u"Longer.lang"));
  EXPECT_EQ(Str(40), u"LAST"); // the bytes after the limit never reach a string
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

// The shipped files: every text present and read (the file lies within the
// read limit), translated (the same as in English only for the program's
// name and for words the language shares), labels fit their 10-unit fields,
// status texts are safe as format strings.
TEST_F(UiStringsTest, ShippedLanguageFilesAreComplete) {
  std::vector<std::u16string> english;
  const struct {
    const char *name;
    std::vector<int> sameAsEnglish;
  } files[] = {
      {"English.lang", {}},
      {"Deutsch.lang", {kUiAppName, kUiConnectionTitle}},
      {"Fran\xC3\xA7" "ais.lang",
       {kUiAppName, kUiConnectionTitle, kUiLevelLong, kUiMenuOptions, kUiMenuTimeout1,
        kUiMenuTimeout5, kUiMenuTimeout10}},
      {"Espa\xC3\xB1ol.lang",
       {kUiAppName, kUiConnectionTitle, kUiMenuTimeout1, kUiMenuTimeout5, kUiMenuTimeout10}},
  };
  for (const auto &file : files) {
    const char *name = file.name;
    SCOPED_TRACE(name);
    const fs::path shipped = fs::path(VANTREL_SOURCE_DIR) / "data" / name;
    EXPECT_LE(fs::file_size(shipped), kLanguageFileReadLimit);
    fs::copy_file(shipped, fs::path(root_) / "Vantrel" / name, fs::copy_options::overwrite_existing);
    ResetUiStrings();
    ASSERT_TRUE(LoadFrom(Utf8ToUtf16(name)));
    for (int k = 0; k < kUiStringCount; ++k) {
      std::u16string text = Str(k);
      EXPECT_FALSE(text.empty()) << k;
      if (english.size() < static_cast<size_t>(kUiStringCount)) {
        english.push_back(text);
      } else if (std::find(file.sameAsEnglish.begin(), file.sameAsEnglish.end(), k) ==
                 file.sameAsEnglish.end()) {
        EXPECT_NE(text, english[k]) << k << " is left in English";
      }
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

// Every text a person reads in the program's resources (menus, soft keys,
// window titles, labels) is translated once a language file is loaded, and
// an older file without the newer strings leaves the resources' English.
TEST_F(UiStringsTest, EveryResourceTextHasItsUiString) {
  RegisterVantrelResources();
  std::vector<const WCHAR *> texts;
  auto walk = [&texts](auto &&self, const MENUITEMRESOURCE *items, UINT count) -> void {
    for (UINT i = 0; items && i < count; ++i) {
      if (!(items[i].flags & MF_SEPARATOR))
        texts.push_back(items[i].text);
      self(self, items[i].children, items[i].childCount);
    }
  };
  auto find = [](WORD id, LPCWSTR type) {
    return LockResource(LoadResource(nullptr, FindResourceW(nullptr, MAKEINTRESOURCEW(id), type)));
  };
  const auto *menu = static_cast<const MENURESOURCE *>(find(kMenuMain, RT_MENU));
  ASSERT_NE(menu, nullptr);
  walk(walk, menu->items, menu->count);
  for (WORD id : {kMenuMain, kMenuBarDone, kMenuBarDoneMore}) {
    const auto *bar = static_cast<const MENUBARRESOURCE *>(find(id, RT_MENUBAR));
    ASSERT_NE(bar, nullptr) << id;
    for (UINT i = 0; i < bar->buttonCount; ++i)
      texts.push_back(bar->buttons[i].caption);
  }
  for (WORD id : {kStringQuit, kStringOptions, kStringDone, kStringMore})
    texts.push_back(static_cast<const STRINGRESOURCE *>(find(id, RT_STRING))->text);
  for (WORD id : {kDialogAbout, kDialogBattery, kDialogKeyTest, kDialogHotTips, kDialogCalibration,
                  kDialogHelp, kDialogTypingSettings, kDialogAboutMore, kDialogSelectionSmartphone,
                  kDialogSelection, kDialogTypingSettingsSmartphone}) {
    const auto *dialog = static_cast<const DLGTEMPLATE *>(find(id, RT_DIALOG));
    ASSERT_NE(dialog, nullptr) << id;
    texts.push_back(dialog->caption);
    for (UINT i = 0; i < dialog->itemCount; ++i)
      if (dialog->items[i].text)
        texts.push_back(dialog->items[i].text);
  }

  fs::copy_file(fs::path(VANTREL_SOURCE_DIR) / "data" / "Deutsch.lang",
                fs::path(root_) / "Vantrel" / "Deutsch.lang");
  ASSERT_TRUE(LoadFrom(u"Deutsch.lang"));
  EXPECT_STREQ(UiLanguageLocale(), "de");
  for (const WCHAR *text : texts) {
    const WCHAR *shown = UiResourceText(text);
    ASSERT_NE(shown, nullptr) << Utf16ToUtf8(text);
    EXPECT_NE(std::u16string(shown), std::u16string(text)) << Utf16ToUtf8(text);
  }
  EXPECT_EQ(std::u16string(UiResourceText(u"Battery Status")), u"Akkustand");
  EXPECT_EQ(UiResourceText(u"Vantrel"), nullptr); // the name is no resource text to translate

  // A file of the older, shorter kind: what it lacks stays in English.
  ResetUiStrings();
  Put("Old.lang", Lines(51, "\n"));
  ASSERT_TRUE(LoadFrom(u"Old.lang"));
  EXPECT_STREQ(UiLanguageLocale(), "en");
  EXPECT_EQ(UiResourceText(u"Battery Status"), nullptr);
  EXPECT_EQ(std::u16string(UiText(kUiMenuQuit, u"Quit")), u"Quit");
  EXPECT_EQ(std::u16string(UiText(kUiLevelLow, u"Low")), u"T30");
}

} // namespace
