// The layout file loader: tokens, the read limit, the sections after the key
// grid, the option labels, the settings it creates, the selection dialog on
// a first run, and refusal of what cannot be opened.
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "keys/keycode_table.h"
#include "tests/keys/keys_fixture.h"
#include "tests/support/scripted_message_boxes.h"

#include <climits>
#include <functional>

namespace keytest {
namespace {

// A layout file: rows of 30 codes given by code(row, column), each line ended
// by lineEnd, then the sections with the values below.
std::string layoutText(const std::function<int(int, int)> &code, const std::string &lineEnd) {
  std::string text;
  for (int row = 0; row < kScancodeCount; ++row) {
    for (int column = 0; column < kLayoutColumns; ++column) {
      text += std::to_string(code(row, column));
      if (column + 1 < kLayoutColumns)
        text += ",";
    }
    text += lineEnd;
  }
  return text + "Battery,1\r\n165,158,151,144,130\r\nSensitivity,\r\n40,20,30,40,50\r\n"
                "RepeatRate,\r\n20,10,20,30\r\nRepeatDelay,\r\n50,25,50,75\r\n";
}

// Codes that tell their place, in a few columns only: a full grid of
// five-digit codes would not fit the 15000 bytes that are read.
int positionCode(int row, int column) {
  return column <= 1 || column == 29 || row == 65 ? row * 100 + column : 0;
}

std::string utf8(const WCHAR *text) { return Utf16ToUtf8(text); }

class KeycodeFileTest : public KeysTest {
protected:
  void SetUp() override {
    KeysTest::SetUp();
    current = this;
  }
  void TearDown() override {
    current = nullptr;
    KeysTest::TearDown();
  }

  // Parses text held in a buffer of exactly its size, so that a read past
  // its end is caught by the address sanitizer.
  void parse(const std::string &text) {
    std::vector<char> exact(text.begin(), text.end());
    parseKeycodeText(exact.data(), exact.size());
  }

  void chooseLayout(const std::u16string &name) {
    SettingsStore::WriteDword(u"Initialised", 1);
    SettingsStore::WriteString(u"keycode", name.c_str());
  }

  // The boxes shown so far, as "caption: text"; each is a plain OK box
  // over the main window.
  std::vector<std::string> messages() const {
    std::vector<std::string> out;
    for (const testsupport::ShownBox &box : boxes.Shown()) {
      EXPECT_EQ(box.owner, AppGlobals.mainWindow);
      EXPECT_EQ(box.type, MB_OK);
      out.push_back(utf8(box.caption.c_str()) + ": " + utf8(box.text.c_str()));
    }
    return out;
  }

  // The shell's layout question as the loader sees it: asked with the main
  // window as owner, the person's pick (if any) stored as the dialog does.
  static void askForLayout(HWND owner) {
    EXPECT_EQ(owner, AppGlobals.mainWindow);
    ++current->asked;
    if (!current->dialogChoice.empty())
      SettingsStore::WriteString(u"keycode", current->dialogChoice.c_str());
  }

  static inline KeycodeFileTest *current = nullptr;
  testsupport::ScriptedMessageBoxes boxes;
  int asked = 0; // times the person was asked for a layout
  std::u16string dialogChoice; // what the user picks; empty: nothing
};

TEST_F(KeycodeFileTest, LoadsGridThresholdsOptionsAndCreatesOnlyMissingSettings) {
  chooseLayout(u"Test.kcod");
  writeInstallFile("Test.kcod", layoutText(positionCode, "\r\n"));
  SettingsStore::WriteDword(u"KeyRepeatRateValue", 99);

  ASSERT_TRUE(loadKeycodeFile(&askForLayout));

  EXPECT_EQ(AppGlobals.KeycodeTable[0][0], 0);
  EXPECT_EQ(AppGlobals.KeycodeTable[65][4], 6504);
  EXPECT_EQ(AppGlobals.KeycodeTable[127][29], 12729);
  const float thresholds[5] = {165, 158, 151, 144, 130};
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(AppGlobals.batteryThreshold[i], thresholds[i]);
  const int sensitivity[5] = {40, 20, 30, 40, 50};
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(AppGlobals.SensitivityChoices[i].value, sensitivity[i]);
  EXPECT_EQ(AppGlobals.RepeatRateChoices[3].value, 30);
  EXPECT_EQ(AppGlobals.RepeatDelayChoices[0].value, 50);
  EXPECT_EQ(AppGlobals.RepeatDelayChoices[3].value, 75);
  EXPECT_EQ(utf8(AppGlobals.SensitivityChoices[0].label), "None");
  EXPECT_EQ(utf8(AppGlobals.RepeatDelayChoices[0].label), "None");

  EXPECT_EQ(SettingsStore::ReadDword(u"SensitivityValue", -1), 40);
  EXPECT_EQ(SettingsStore::ReadDword(u"KeyRepeatRateValue", -1), 99);
  EXPECT_EQ(SettingsStore::ReadDword(u"KeyRepeatDelayValue", -1), 50);
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(asked, 0);
}

TEST_F(KeycodeFileTest, LabelsComeFromUiStringsCutToNineUnits) {
  std::string lang;
  for (int k = 0; k < kUiStringCount; ++k) {
    std::string text = "S" + std::to_string(k);
    if (k == 29)
      text = "Sehr niedrig";
    if (k == 31)
      text = "Mittelstufe";
    if (k == 33)
      text = "Langsamer";                 // exactly 9
    lang += text + ";note\r\n";
  }
  writeInstallFile("English.lang", lang);
  ASSERT_TRUE(LoadUiStrings());
  parse(layoutText(positionCode, "\r\n"));

  EXPECT_EQ(utf8(AppGlobals.SensitivityChoices[1].label), "Sehr nied");
  EXPECT_EQ(utf8(AppGlobals.SensitivityChoices[2].label), "S30");
  EXPECT_EQ(utf8(AppGlobals.SensitivityChoices[3].label), "Mittelstu");
  EXPECT_EQ(utf8(AppGlobals.SensitivityChoices[4].label), "S32");
  EXPECT_EQ(utf8(AppGlobals.RepeatRateChoices[1].label), "Langsamer");
  EXPECT_EQ(utf8(AppGlobals.RepeatRateChoices[2].label), "Mittelstu");
  EXPECT_EQ(utf8(AppGlobals.RepeatRateChoices[3].label), "S34");
  EXPECT_EQ(utf8(AppGlobals.RepeatDelayChoices[1].label), "S35");
  EXPECT_EQ(utf8(AppGlobals.RepeatDelayChoices[3].label), "S36");
  ResetUiStrings();
}

TEST_F(KeycodeFileTest, TokensAreSplitAtRunsOfCommasAndLineFeedsAndReadLikeAtoi) {
  parse(",\n,5,,7\n\n12\r, \t-3,+7,x5,4x,\r,99999999999,-99999999999,2147483647");
  const int32_t expected[] = {5, 7, 12, -3, 7, 0, 4, 0, INT32_MAX, INT32_MIN, INT32_MAX};
  for (int i = 0; i < 11; ++i)
    EXPECT_EQ(AppGlobals.KeycodeTable[0][i], expected[i]) << "token " << i;
}

TEST_F(KeycodeFileTest, ACommaBeforeTheLineEndAddsATokenAndShiftsEverythingAfter) {
  parse(layoutText(positionCode, ",\r\n"));
  EXPECT_EQ(AppGlobals.KeycodeTable[0][29], 29);
  EXPECT_EQ(AppGlobals.KeycodeTable[1][0], 0);   // the lone carriage return
  EXPECT_EQ(AppGlobals.KeycodeTable[1][1], 100); // row 1's first code
  EXPECT_NE(AppGlobals.SensitivityChoices[0].value, 40);
}

TEST_F(KeycodeFileTest, AShortFileLeavesTheRestZeroAndIsNotReadPastItsEnd) {
  AppGlobals.KeycodeTable[5][5] = 9;
  AppGlobals.SensitivityChoices[0].value = 9;
  parse("1,2,3\r\n4,56");
  EXPECT_EQ(AppGlobals.KeycodeTable[0][0], 1);
  EXPECT_EQ(AppGlobals.KeycodeTable[0][3], 4);
  EXPECT_EQ(AppGlobals.KeycodeTable[0][4], 56);
  EXPECT_EQ(AppGlobals.KeycodeTable[5][5], 0);
  EXPECT_EQ(AppGlobals.batteryThreshold[0], 0.0f);
  EXPECT_EQ(AppGlobals.SensitivityChoices[0].value, 0);
  EXPECT_EQ(utf8(AppGlobals.SensitivityChoices[0].label), "None");
  EXPECT_EQ(SettingsStore::ReadDword(u"SensitivityValue", -1), 0);

  parse(""); // an empty file
  EXPECT_EQ(AppGlobals.KeycodeTable[0][0], 0);
}

TEST_F(KeycodeFileTest, OnlyTheFirst15000BytesAreRead) {
  // 3865 tokens of 0, the first padded with blanks so that the last repeat
  // delay value starts 2 bytes before the limit.
  std::string text;
  for (int i = 0; i < 3865; ++i)
    text += "0,";
  text.insert(0, std::string(kLayoutFileReadLimit - 2 - text.size(), ' '));
  text += "12345,77";
  chooseLayout(u"Long.kcod");
  writeInstallFile("Long.kcod", text);
  ASSERT_TRUE(loadKeycodeFile(nullptr));
  EXPECT_EQ(AppGlobals.RepeatDelayChoices[3].value, 12);
}

TEST_F(KeycodeFileTest, AMissingFileIsReportedWithItsFullPathAndNothingLoads) {
  AppGlobals.mainWindow = reinterpret_cast<HWND>(0x1234);
  chooseLayout(u"Missing.kcod");
  EXPECT_FALSE(loadKeycodeFile(nullptr));
  EXPECT_EQ(messages(), std::vector<std::string>{"Failed to open: \\Vantrel\\Missing.kcod"});
  EXPECT_EQ(AppGlobals.SensitivityChoices[0].label[0], 0);
  EXPECT_EQ(SettingsStore::ReadDword(u"SensitivityValue", -7), -7);
}

TEST_F(KeycodeFileTest, TooLongANameOrPathIsRefusedNotCut) {
  const std::string longest(kLayoutNameMaxChars - 5, 'a');
  writeInstallFile(longest + ".kcod", layoutText(positionCode, "\r\n"));
  writeInstallFile(longest + "a.kcod", layoutText(positionCode, "\r\n"));

  chooseLayout(Utf8ToUtf16(longest + ".kcod"));
  EXPECT_TRUE(loadKeycodeFile(nullptr));
  EXPECT_TRUE(messages().empty());

  chooseLayout(Utf8ToUtf16(longest + "a.kcod"));
  EXPECT_FALSE(loadKeycodeFile(nullptr));
  EXPECT_EQ(messages().back(), "Failed to open: \\Vantrel\\" + longest + "a.kcod");

  // A 256-unit path: the folder and the file exist, but the path is too long.
  const std::string folder(240, 'd');
  writeInstallFile(folder + "/T.kcod", layoutText(positionCode, "\r\n"));
  WStrCopyN(AppGlobals.InstallDir, MAX_PATH, Utf8ToUtf16("\\Vantrel\\" + folder + "\\").c_str());
  chooseLayout(u"T.kcod");
  EXPECT_FALSE(loadKeycodeFile(nullptr));
  EXPECT_EQ(messages().back(), "Failed to open: \\Vantrel\\" + folder + "\\T.kcod");
}

TEST_F(KeycodeFileTest, FirstRunOpensTheSelectionOnceWhenALayoutIsChosen) {
  writeInstallFile("Test.kcod", layoutText(positionCode, "\r\n"));
  AppGlobals.selectionMode = 1;
  dialogChoice = u"Test.kcod";

  EXPECT_TRUE(loadKeycodeFile(&askForLayout));
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(AppGlobals.selectionMode, 0);
  EXPECT_EQ(SettingsStore::ReadDword(u"Initialised", 0), 1);
  EXPECT_EQ(AppGlobals.KeycodeTable[1][1], 101);
}

TEST_F(KeycodeFileTest, WithoutAChoiceTheSelectionOpensTwiceThenTheNameIsReported) {
  EXPECT_FALSE(loadKeycodeFile(&askForLayout));
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(SettingsStore::ReadDword(u"Initialised", 0), 1);
  EXPECT_EQ(messages(), std::vector<std::string>{"Failed to open: \\Vantrel\\None"});
}

TEST_F(KeycodeFileTest, AStoredNoneOrEmptyNameOpensTheSelectionEvenAfterTheFirstRun) {
  writeInstallFile("Test.kcod", layoutText(positionCode, "\r\n"));
  dialogChoice = u"Test.kcod";
  for (const char16_t *stored : {u"None", u""}) {
    asked = 0;
    chooseLayout(stored);
    EXPECT_TRUE(loadKeycodeFile(&askForLayout));
    EXPECT_EQ(asked, 1);
  }
}

TEST_F(KeycodeFileTest, LookupsOutsideTheTableReadZeroAndAreTraced) {
  AppGlobals.KeycodeTable[5][7] = 42;
  AppGlobals.KeycodeTable[127][29] = 3;
  EXPECT_EQ(lookupVirtualKey(5, 7), 42);
  EXPECT_EQ(lookupVirtualKey(127, 29), 3);
  for (auto [scancode, column] : {std::pair{128, 0}, {255, 0}, {-1, 0}, {0, 30}, {0, -1},
                                  {127, 33}, {INT_MAX, INT_MAX}})
    EXPECT_EQ(lookupVirtualKey(scancode, column), 0) << scancode << "," << column;
  EXPECT_EQ(traces().front(), "scancode = 5 virtualKey = 42");
  EXPECT_EQ(countTrace("scancode = 128 virtualKey = 0"), 1);
}

// A layout whose AltGr column holds a number beyond 32 bits (read as the
// most negative code) must not post a wild character: the key has no AltGr
// alternative and is typed plainly.
TEST_F(KeycodeFileTest, AnAltGrCodeReadAsTheMostNegativeNumberTypesTheKeyPlainly) {
  std::string text = layoutText(
      [](int row, int column) { return row == 75 && column == 0 ? 75 : 0; }, "\r\n");
  // Row 75 column 4 is token 75 * 30 + 4; the grid's zeros are one digit each.
  const size_t rowStart = [&] {
    size_t pos = 0;
    for (int line = 0; line < 75; ++line)
      pos = text.find('\n', pos) + 1;
    return pos;
  }();
  const size_t column4 = rowStart + std::string("75,0,0,0,").size();
  ASSERT_EQ(text.substr(rowStart, 10), "75,0,0,0,0");
  text.replace(column4, 1, "-99999999999");
  parse(text);
  ASSERT_EQ(AppGlobals.KeycodeTable[75][4], INT32_MIN);

  type({kScancodeAltGr, 75});
  EXPECT_EQ(injector.described(), (std::vector<std::string>{"press 0x4B", "release 0x4B"}));
  EXPECT_EQ(AppGlobals.modifierKey, NORMALMODE);
}

} // namespace
} // namespace keytest
