// The selection dialog: the scan of InstallDir, the buttons it offers and the
// choice Done stores, on the Pocket PC and the Smartphone.
#include "common/globals.h"
#include "common/settings_store.h"
#include "dialogs/selection_dialog.h"
#include "platform/controls.h"
#include "platform/text.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/sandbox.h"
#include "tests/support/toolkit.h"
#include "tests/support/trace_lines.h"

#include <qnamespace.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

// A dialog its script leaves open is closed with IDOK.

std::string Stored(LPCWSTR name) {
  WCHAR text[kSettingTextUnits];
  SettingsStore::ReadString(name, text);
  return Utf16ToUtf8(text);
}

std::multiset<std::string> Entries(const std::string &list) {
  std::multiset<std::string> out;
  size_t start = 0;
  for (size_t comma; (comma = list.find(',', start)) != std::string::npos; start = comma + 1)
    out.insert(list.substr(start, comma - start));
  EXPECT_EQ(start, list.size()) << "every name is followed by a comma: " << list;
  return out;
}

std::string Text(HWND window) {
  WCHAR text[300] = {};
  GetWindowTextW(window, text, 300);
  return Utf16ToUtf8(text);
}

class SelectionDialogTest : public ::testing::Test {
protected:
  // As in the program, a main window is there when a dialog opens: the
  // full-screen dialogs take its size.
  void SetUp() override {
    StartToolkitOnce();
    main_ = MakeMainWindowStandIn();
    box_.MakeFolder("opt/Vantrel");
    WStrCopyN(AppGlobals.InstallDir, MAX_PATH, u"opt\\Vantrel\\");
  }
  void TearDown() override {
    DestroyWindow(main_);
    AppGlobals.mainWindow = nullptr;
  }
  void Put(const std::string &name) { box_.Put("opt/Vantrel/" + name, "x"); }
  ProgramSandbox box_;
  HWND main_ = nullptr;
};

TEST_F(SelectionDialogTest, ScanListsNamesCutAtTheFirstDotAndTracesFullNames) {
  for (const char *name : {"UK.kcod", "US.kcod", "Deutsch.lang", "my.kb.kcod", "readme.txt"})
    Put(name);
  // Neither a folder nor a file with nothing before its extension names a
  // choice the program could load.
  box_.MakeFolder("opt/Vantrel/Extra.lang");
  box_.MakeFolder("opt/Vantrel/Old.kcod");
  Put(".lang");
  std::vector<std::string> trace;
  {
    testtrace::TraceLines lines;
    ScanLanguageAndLayoutFiles();
    trace = lines.Lines();
  }

  EXPECT_EQ(Stored(u"Languages"), "Deutsch,");
  EXPECT_EQ(Entries(Stored(u"Layouts")), (std::multiset<std::string>{"UK", "US", "my"}));
  for (const char *line : {"language file found Deutsch.lang", "keycode file found UK.kcod",
                           "keycode file found US.kcod", "keycode file found my.kb.kcod"})
    EXPECT_NE(std::find(trace.begin(), trace.end(), line), trace.end()) << line;
}

TEST_F(SelectionDialogTest, ManyLongNamesStayWithinWhatTheStoreReadsBack) {
  for (int i = 0; i < 30; ++i)
    Put(std::string(30, static_cast<char>('a' + i % 26)) + std::to_string(i) + ".kcod");
  ScanLanguageAndLayoutFiles();
  const std::string layouts = Stored(u"Layouts");
  EXPECT_LE(layouts.size(), 499u);
  EXPECT_GE(Entries(layouts).size(), 10u);
  for (const std::string &name : Entries(layouts))
    EXPECT_GE(name.size(), 31u) << "no name is cut: " << name;
}

TEST_F(SelectionDialogTest, OffersAtMostTenButtonsAndDoneKeepsTheCurrentLayout) {
  for (int i = 0; i < 12; ++i)
    Put("L" + std::to_string(10 + i) + ".kcod");
  SettingsStore::WriteString(u"keycode", u"L15.kcod");
  AppGlobals.selectionMode = 0;
  int buttons = 0, checked = 0;
  EXPECT_TRUE(DriveDialog([&] { OpenSelectionDialog(nullptr); },
                          [&](HWND dialog) {
                            EXPECT_EQ(Text(dialog), "Keyboard Layout");
                            for (int i = 0; i < 12; ++i) {
                              HWND button = GetDlgItem(dialog, 500 + i);
                              if (!button)
                                continue;
                              ++buttons;
                              if (SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED) {
                                ++checked;
                                EXPECT_EQ(Text(button), "L15");
                                EXPECT_EQ(AppGlobals.layoutButtons[AppGlobals.selectedIndex],
                                          button);
                              }
                            }
                            SendMessageW(dialog, WM_COMMAND, 40004, 0);
                          },
                          kDriveCloseAfter));
  EXPECT_EQ(buttons, 10);
  EXPECT_EQ(checked, 1);
  EXPECT_EQ(Stored(u"keycode"), "L15.kcod");
}

TEST_F(SelectionDialogTest, ClickingMovesTheMarkAndDoneStoresTheWholeFileName) {
  Put("my.kb.kcod");
  Put("US.kcod");
  SettingsStore::WriteString(u"keycode", u"US.kcod");
  EXPECT_TRUE(DriveDialog([&] { OpenSelectionDialog(nullptr); },
                          [&](HWND dialog) {
                            HWND my = nullptr, us = nullptr;
                            for (int i = 0; i < 2; ++i) {
                              HWND b = GetDlgItem(dialog, 500 + i);
                              (Text(b) == "my" ? my : us) = b;
                            }
                            ASSERT_TRUE(my && us);
                            SendMessageW(dialog, WM_COMMAND, GetDlgCtrlID(my),
                                         reinterpret_cast<LPARAM>(my));
                            EXPECT_EQ(SendMessageW(my, BM_GETCHECK, 0, 0), BST_CHECKED);
                            EXPECT_EQ(SendMessageW(us, BM_GETCHECK, 0, 0), BST_UNCHECKED);
                            // A command for a slot without a button changes nothing.
                            SendMessageW(dialog, WM_COMMAND, 505, 0);
                            EXPECT_EQ(AppGlobals.selectedIndex, GetDlgCtrlID(my) - 500);
                            SendMessageW(dialog, WM_COMMAND, IDOK, 0);
                          },
                          kDriveCloseAfter));
  EXPECT_EQ(Stored(u"keycode"), "my.kcod");
}

// Closing the window or Escape is no Done: the stored layout stays, so the
// menu command sees no change and the program goes on. Enter is Done.
TEST_F(SelectionDialogTest, ClosingOrEscapeKeepsTheStoredLayoutEnterStoresTheChoice) {
  Put("UK.kcod");
  Put("US.kcod");
  SettingsStore::WriteString(u"keycode", u"US.kcod");
  AppGlobals.selectionMode = 0;
  auto chooseUk = [](HWND dialog) {
    for (int i = 0; i < 2; ++i)
      if (HWND b = GetDlgItem(dialog, 500 + i); Text(b) == "UK")
        SendMessageW(dialog, WM_COMMAND, 500 + i, reinterpret_cast<LPARAM>(b));
  };
  EXPECT_TRUE(DriveDialog([&] { OpenSelectionDialog(main_); },
                          [&](HWND dialog) {
                            chooseUk(dialog);
                            CloseDialogWindow(dialog);
                          }));
  EXPECT_EQ(Stored(u"keycode"), "US.kcod");
  EXPECT_TRUE(DriveDialog([&] { OpenSelectionDialog(main_); },
                          [&](HWND dialog) {
                            chooseUk(dialog);
                            PressDialogKey(dialog, Qt::Key_Escape);
                          }));
  EXPECT_EQ(Stored(u"keycode"), "US.kcod");
  EXPECT_TRUE(DriveDialog([&] { OpenSelectionDialog(main_); },
                          [&](HWND dialog) {
                            chooseUk(dialog);
                            PressDialogKey(dialog, Qt::Key_Return);
                          }));
  EXPECT_EQ(Stored(u"keycode"), "UK.kcod");
}

TEST_F(SelectionDialogTest, AnUnknownCurrentLayoutChecksNothingAndDoneTakesTheFirst) {
  Put("UK.kcod");
  SettingsStore::WriteString(u"keycode", u"Gone.kcod");
  EXPECT_TRUE(DriveDialog([&] { OpenSelectionDialog(nullptr); },
                          [&](HWND dialog) {
                            EXPECT_EQ(SendMessageW(GetDlgItem(dialog, 500), BM_GETCHECK, 0, 0),
                                      BST_UNCHECKED);
                            EXPECT_EQ(AppGlobals.selectedIndex, 0);
                            SendMessageW(dialog, WM_COMMAND, IDOK, 0);
                          },
                          kDriveCloseAfter));
  EXPECT_EQ(Stored(u"keycode"), "UK.kcod");
}

TEST_F(SelectionDialogTest, NothingToChooseStoresNothingEvenAfterAFullerOpening) {
  Put("UK.kcod");
  EXPECT_TRUE(DriveDialog([&] { OpenSelectionDialog(nullptr); },
                          [](HWND dialog) { SendMessageW(dialog, WM_COMMAND, IDOK, 0); },
                          kDriveCloseAfter));
  ASSERT_EQ(Stored(u"keycode"), "UK.kcod");
  // The folder empties: the buttons of the first opening must not be used.
  std::remove((box_.path() + "/opt/Vantrel/UK.kcod").c_str());
  SettingsStore::WriteString(u"keycode", u"Kept.kcod");
  EXPECT_TRUE(DriveDialog([&] { OpenSelectionDialog(nullptr); },
                          [](HWND dialog) {
                            EXPECT_EQ(GetDlgItem(dialog, 500), nullptr);
                            EXPECT_EQ(AppGlobals.layoutButtons[0], nullptr);
                            SendMessageW(dialog, WM_COMMAND, 40004, 0);
                          },
                          kDriveCloseAfter));
  EXPECT_EQ(Stored(u"keycode"), "Kept.kcod");
  EXPECT_EQ(Stored(u"Layouts"), "");
  // No InstallDir to search: the lists are stored empty all the same.
  SettingsStore::WriteString(u"Languages", u"Old,");
  WStrCopyN(AppGlobals.InstallDir, MAX_PATH, u"no\\such\\folder\\");
  ScanLanguageAndLayoutFiles();
  EXPECT_EQ(Stored(u"Languages"), "");
}

TEST_F(SelectionDialogTest, LanguageModeOffersAndStoresLanguages) {
  Put("Deutsch.lang");
  Put("English.lang");
  Put("UK.kcod");
  SettingsStore::WriteString(u"language", u"English.lang");
  SettingsStore::WriteString(u"keycode", u"UK.kcod");
  AppGlobals.selectionMode = 1;
  EXPECT_TRUE(DriveDialog([&] { OpenSelectionDialog(nullptr); },
                          [&](HWND dialog) {
                            EXPECT_EQ(Text(dialog), "Language"); // its own caption
                            EXPECT_EQ(GetDlgItem(dialog, 502), nullptr);
                            for (int i = 0; i < 2; ++i) {
                              HWND b = GetDlgItem(dialog, 500 + i);
                              EXPECT_EQ(AppGlobals.languageButtons[i], b);
                              if (Text(b) == "Deutsch")
                                SendMessageW(dialog, WM_COMMAND, 500 + i,
                                             reinterpret_cast<LPARAM>(b));
                            }
                            SendMessageW(dialog, WM_COMMAND, IDOK, 0);
                          },
                          kDriveCloseAfter));
  EXPECT_EQ(Stored(u"language"), "Deutsch.lang");
  EXPECT_EQ(Stored(u"keycode"), "UK.kcod");
}

TEST_F(SelectionDialogTest, SmartphoneListsLayoutsAndLanguagesAndStoresTheSelections) {
  AppGlobals.isSmartphone = 1;
  Put("UK.kcod");
  Put("US Intl.kcod");
  Put("US.kcod");
  Put("Deutsch.lang");
  Put("English.lang");
  SettingsStore::WriteString(u"keycode", u"US.kcod");
  SettingsStore::WriteString(u"language", u"English.lang");
  // The selected entry's text (empty for none).
  auto selected = [](HWND box) {
    const LRESULT index = SendMessageW(box, LB_GETCURSEL, 0, 0);
    WCHAR text[64] = {};
    if (index >= 0)
      SendMessageW(box, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text));
    return Utf16ToUtf8(text);
  };
  // Selects the entry with this text.
  auto choose = [](HWND box, const char16_t *name) {
    for (LRESULT i = 0; i < SendMessageW(box, LB_GETCOUNT, 0, 0); ++i) {
      WCHAR text[64] = {};
      SendMessageW(box, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
      if (std::u16string(text) == name)
        SendMessageW(box, LB_SETCURSEL, i, 0);
    }
  };
  // The language mode opens the same template, both lists filled.
  for (uint8_t mode : {0, 1}) {
    AppGlobals.selectionMode = mode;
    EXPECT_TRUE(DriveDialog([&] { OpenSelectionDialog(nullptr); },
                            [&](HWND dialog) {
                              HWND layouts = GetDlgItem(dialog, 1018);
                              HWND languages = GetDlgItem(dialog, 1020);
                              ASSERT_NE(layouts, nullptr);
                              EXPECT_EQ(SendMessageW(layouts, LB_GETCOUNT, 0, 0), 3);
                              EXPECT_EQ(SendMessageW(languages, LB_GETCOUNT, 0, 0), 2);
                              // "US", not "US Intl", which it begins.
                              EXPECT_EQ(selected(layouts), mode == 0 ? "US" : "UK");
                              EXPECT_EQ(selected(languages), mode == 0 ? "English" : "Deutsch");
                              choose(layouts, u"UK");
                              choose(languages, u"Deutsch");
                              SendMessageW(dialog, WM_COMMAND, 40004, 0);
                            },
                            kDriveCloseAfter));
    EXPECT_EQ(Stored(u"keycode"), "UK.kcod");
    EXPECT_EQ(Stored(u"language"), "Deutsch.lang");
  }
}

} // namespace
