// The typing settings dialog: what its lists show, what each choice stores
// and sends to the link, the keep-or-restore question on Done, and its
// labels whole in every language.
#include "common/globals.h"
#include "common/messages.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "dialogs/typing_settings_dialog.h"
#include "platform/controls.h"
#include "platform/text.h"
#include "platform/qt/qt_internal.h"
#include "platform/resource_formats.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/sandbox.h"
#include "tests/support/scripted_message_boxes.h"
#include "tests/support/toolkit.h"
#include "tests/support/link_stand_in.h"
#include "tests/support/thread_messages.h"

#include <qnamespace.h>
#include <gtest/gtest.h>

#include <QLabel>

#include <chrono>

using namespace testsupport;

namespace {

// The dialogs here are painted: each is shown before its script runs.

constexpr int kSensitivity = 1013, kRate = 1014, kDelay = 1015;
constexpr int kDone = 40004;

void SetChoice(SettingChoice &choice, const char16_t *label, int32_t value) {
  WStrCopyN(choice.label, 10, label);
  choice.value = value;
}

class TypingSettingsTest : public ::testing::Test {
protected:
  void SetUp() override {
    StartToolkitOnce();
    boxes_ = std::make_unique<ScriptedMessageBoxes>();
    main_ = MakeMainWindowStandIn();
    box_.CopyData("English.lang", "opt/Vantrel/English.lang");
    WStrCopyN(AppGlobals.InstallDir, MAX_PATH, u"opt\\Vantrel\\");
    SettingsStore::WriteString(u"language", u"English.lang");
    ASSERT_TRUE(LoadUiStrings());
    SetChoice(AppGlobals.SensitivityChoices[0], u"None", 3);
    SetChoice(AppGlobals.SensitivityChoices[1], u"Lowest", 1);
    SetChoice(AppGlobals.SensitivityChoices[2], u"Low", 2);
    SetChoice(AppGlobals.SensitivityChoices[3], u"Medium", 3);
    SetChoice(AppGlobals.SensitivityChoices[4], u"High", 4);
    SetChoice(AppGlobals.RepeatRateChoices[0], u"None", 20);
    SetChoice(AppGlobals.RepeatRateChoices[1], u"Slow", 10);
    SetChoice(AppGlobals.RepeatRateChoices[2], u"Medium", 20);
    SetChoice(AppGlobals.RepeatRateChoices[3], u"Fast", 30);
    SetChoice(AppGlobals.RepeatDelayChoices[0], u"None", 500);
    SetChoice(AppGlobals.RepeatDelayChoices[1], u"Short", 250);
    SetChoice(AppGlobals.RepeatDelayChoices[2], u"Medium", 500);
    SetChoice(AppGlobals.RepeatDelayChoices[3], u"Long", 750);
    link_ = std::make_unique<LinkStandIn>();
  }
  void TearDown() override {
    boxes_.reset();
    link_.reset();
    DestroyWindow(main_);
    PumpMessages();
  }
  bool Drive(const std::function<void(HWND)> &script) {
    return DriveDialog([this] { OpenTypingSettingsDialog(main_); }, script, kDriveShown);
  }
  std::vector<UINT> Sent() {
    PumpMessages();
    std::vector<UINT> sent;
    for (const LinkMessage &m : link_->Messages()) {
      EXPECT_EQ(m.wParam, 0u);
      EXPECT_EQ(m.lParam, 0);
      sent.push_back(m.message);
    }
    return sent;
  }
  static std::u16string ComboText(HWND dialog, int id, int index) {
    WCHAR text[100] = {};
    SendDlgItemMessageW(dialog, id, CB_GETLBTEXT, static_cast<WPARAM>(index),
                        reinterpret_cast<LPARAM>(text));
    return text;
  }
  ProgramSandbox box_;
  HWND main_ = nullptr;
  std::unique_ptr<ScriptedMessageBoxes> boxes_;
  std::unique_ptr<LinkStandIn> link_;
};

TEST_F(TypingSettingsTest, ListsShowTheChoicesWithoutNoneAndSelectTheStoredValues) {
  SettingsStore::WriteDword(u"SensitivityValue", 4);
  SettingsStore::WriteDword(u"KeyRepeatRateValue", 10);
  // No stored delay: it is created with entry 0's value and that is selected.
  boxes_->Answer({});
  ASSERT_TRUE(Drive([](HWND dialog) {
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(SendDlgItemMessageW(dialog, kSensitivity, CB_GETCOUNT, 0, 0), 4);
    EXPECT_EQ(SendDlgItemMessageW(dialog, kRate, CB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(SendDlgItemMessageW(dialog, kDelay, CB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(ComboText(dialog, kSensitivity, 0), u"Lowest");
    EXPECT_EQ(ComboText(dialog, kDelay, 2), u"Long");
    EXPECT_EQ(SendDlgItemMessageW(dialog, kSensitivity, CB_GETCURSEL, 0, 0), 3);
    EXPECT_EQ(SendDlgItemMessageW(dialog, kRate, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(SendDlgItemMessageW(dialog, kDelay, CB_GETCURSEL, 0, 0), 1);
    SendMessageW(dialog, WM_COMMAND, kDone, 0);
  }));
  EXPECT_EQ(AppGlobals.openingSensitivity, 4);
  EXPECT_EQ(AppGlobals.openingRepeatRate, 10);
  EXPECT_EQ(AppGlobals.openingRepeatDelay, 500);
  EXPECT_EQ(SettingsStore::ReadDword(u"KeyRepeatDelayValue", -1), 500);
  // Done without a choice asks nothing and sends nothing.
  EXPECT_TRUE(boxes_->Shown().empty());
  EXPECT_TRUE(Sent().empty());
}

TEST_F(TypingSettingsTest, AStoredLabelThatBeginsAnEarlierLabelIsSelectedWhole) {
  // "Low" is the start of "Lowest", which comes first in the list.
  SettingsStore::WriteDword(u"SensitivityValue", 2);
  boxes_->Answer({});
  ASSERT_TRUE(Drive([](HWND dialog) {
    EXPECT_EQ(SendDlgItemMessageW(dialog, kSensitivity, CB_GETCURSEL, 0, 0), 1);
    SendMessageW(dialog, WM_COMMAND, kDone, 0);
  }));
  AppGlobals.isSmartphone = 1;
  ASSERT_TRUE(Drive([](HWND dialog) {
    EXPECT_EQ(SendDlgItemMessageW(dialog, 1003, LB_GETCURSEL, 0, 0), 1);
    SendMessageW(dialog, WM_COMMAND, kDone, 0);
  }));
}

TEST_F(TypingSettingsTest, MissingSensitivityIsReadWithTheLayoutDefaultAsTheLinkReadsIt) {
  boxes_->Answer({});
  ASSERT_TRUE(Drive([](HWND dialog) {
    EXPECT_EQ(SendDlgItemMessageW(dialog, kSensitivity, CB_GETCURSEL, 0, 0), 2); // Medium
    SendMessageW(dialog, WM_COMMAND, kDone, 0);
  }));
  EXPECT_EQ(SettingsStore::ReadDword(u"SensitivityValue", -1), 3);
}

TEST_F(TypingSettingsTest, ChoiceIsStoredAndSentAtOnceAndKeptOnYes) {
  SettingsStore::WriteDword(u"SensitivityValue", 2);
  boxes_->Answer({IDYES});
  ASSERT_TRUE(Drive([](HWND dialog) {
    PickComboEntry(dialog, kSensitivity, 3); // High
    EXPECT_EQ(SettingsStore::ReadDword(u"SensitivityValue", -1), 4);
    EXPECT_EQ(AppGlobals.settingsChanged, 1);
    // The same entry again is stored and sent again.
    PickComboEntry(dialog, kSensitivity, 3);
    PickComboEntry(dialog, kRate, 2); // Fast
    // Command 1, which a lost link sends, leaves the dialog open.
    SendMessageW(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(IsWindow(dialog));
    SendMessageW(dialog, WM_COMMAND, kDone, 0);
  }));
  EXPECT_EQ(Sent(), (std::vector<UINT>{WM_SET_SENSITIVITY, WM_SET_SENSITIVITY,
                                       WM_SET_KEY_REPEAT_RATE}));
  ASSERT_EQ(boxes_->Shown().size(), 1u);
  EXPECT_EQ(boxes_->Shown()[0].text, std::u16string(UiString(19)));
  EXPECT_EQ(boxes_->Shown()[0].caption, std::u16string(UiString(10)));
  EXPECT_EQ(boxes_->Shown()[0].type, MB_YESNO | MB_ICONQUESTION);
  EXPECT_EQ(boxes_->Shown()[0].yesVerb, std::u16string(UiString(kUiVerbKeep)));
  EXPECT_EQ(boxes_->Shown()[0].noVerb, std::u16string(UiString(kUiVerbDiscard)));
  EXPECT_EQ(SettingsStore::ReadDword(u"SensitivityValue", -1), 4);
  EXPECT_EQ(SettingsStore::ReadDword(u"KeyRepeatRateValue", -1), 30);
  EXPECT_EQ(AppGlobals.settingsChanged, 0);
}

// The window's close button and Escape are a person's Done: the question
// after a change, then closed; nothing asked without one. Enter presses
// Done too.
TEST_F(TypingSettingsTest, APersonsCloseOrEscapeOrEnterActsAsDone) {
  boxes_->Answer({IDYES});
  ASSERT_TRUE(Drive([](HWND dialog) {
    PickComboEntry(dialog, kRate, 2); // Fast
    CloseDialogWindow(dialog);
  }));
  ASSERT_EQ(boxes_->Shown().size(), 1u);
  EXPECT_EQ(boxes_->Shown()[0].text, std::u16string(UiString(19)));
  EXPECT_EQ(SettingsStore::ReadDword(u"KeyRepeatRateValue", -1), 30);
  EXPECT_EQ(AppGlobals.settingsChanged, 0);

  boxes_->Answer({IDNO});
  ASSERT_TRUE(Drive([](HWND dialog) {
    PickComboEntry(dialog, kRate, 0); // Slow
    PressDialogKey(dialog, Qt::Key_Escape);
  }));
  ASSERT_EQ(boxes_->Shown().size(), 1u);
  EXPECT_EQ(SettingsStore::ReadDword(u"KeyRepeatRateValue", -1), 30); // No: restored

  boxes_->Answer({});
  ASSERT_TRUE(Drive([](HWND dialog) { PressDialogKey(dialog, Qt::Key_Return); }));
  EXPECT_TRUE(boxes_->Shown().empty());
}

TEST_F(TypingSettingsTest, NoRestoresAndResendsAllThreeOpeningValuesInOrder) {
  SettingsStore::WriteDword(u"SensitivityValue", 2);
  SettingsStore::WriteDword(u"KeyRepeatRateValue", 20);
  SettingsStore::WriteDword(u"KeyRepeatDelayValue", 250);
  boxes_->Answer({IDNO});
  ASSERT_TRUE(Drive([&](HWND dialog) {
    PickComboEntry(dialog, kDelay, 2); // Long
    EXPECT_EQ(SettingsStore::ReadDword(u"KeyRepeatDelayValue", -1), 750);
    SendMessageW(dialog, WM_COMMAND, kDone, 0);
  }));
  // The link controller spaces the packets out; the dialog does not wait.
  EXPECT_EQ(Sent(), (std::vector<UINT>{WM_SET_KEY_REPEAT_DELAY, WM_SET_SENSITIVITY,
                                       WM_SET_KEY_REPEAT_RATE, WM_SET_KEY_REPEAT_DELAY}));
  EXPECT_EQ(SettingsStore::ReadDword(u"SensitivityValue", -1), 2);
  EXPECT_EQ(SettingsStore::ReadDword(u"KeyRepeatRateValue", -1), 20);
  EXPECT_EQ(SettingsStore::ReadDword(u"KeyRepeatDelayValue", -1), 250);
}

TEST_F(TypingSettingsTest, TextsThatAreNoLabelAndOtherNotificationsChangeNothing) {
  SettingsStore::WriteDword(u"SensitivityValue", 2);
  boxes_->Answer({});
  ASSERT_TRUE(Drive([](HWND dialog) {
    HWND combo = GetDlgItem(dialog, kSensitivity);
    // A text far longer than the reading buffer must be refused, not copied.
    std::u16string longText(400, u'x');
    LRESULT longIndex = SendMessageW(combo, CB_ADDSTRING, 0,
                                     reinterpret_cast<LPARAM>(longText.c_str()));
    PickComboEntry(dialog, kSensitivity, static_cast<int>(longIndex));
    // A label's prefix is not the label.
    LRESULT shortIndex = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"Hig"));
    PickComboEntry(dialog, kSensitivity, static_cast<int>(shortIndex));
    // Only CBN_SELENDOK counts on this platform, and only from a list.
    SendMessageW(combo, CB_SETCURSEL, 3, 0);
    SendMessageW(dialog, WM_COMMAND, static_cast<WPARAM>((CBN_SELCHANGE << 16) | kSensitivity),
                 reinterpret_cast<LPARAM>(combo));
    SendMessageW(dialog, WM_COMMAND, static_cast<WPARAM>((LBN_SELCHANGE << 16) | 1003), 0);
    EXPECT_EQ(AppGlobals.settingsChanged, 0);
    SendMessageW(dialog, WM_COMMAND, kDone, 0);
  }));
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(boxes_->Shown().empty());
  EXPECT_EQ(SettingsStore::ReadDword(u"SensitivityValue", -1), 2);
}

TEST_F(TypingSettingsTest, SmartphoneUsesListBoxesAndReadsTheSensitivityDefaultFromTheTable) {
  AppGlobals.isSmartphone = 1;
  boxes_->Answer({IDYES});
  ASSERT_TRUE(Drive([](HWND dialog) {
    EXPECT_EQ(GetDlgItem(dialog, kSensitivity), nullptr);
    EXPECT_EQ(SendDlgItemMessageW(dialog, 1003, LB_GETCOUNT, 0, 0), 4);
    EXPECT_EQ(SendDlgItemMessageW(dialog, 1006, LB_GETCOUNT, 0, 0), 3);
    // Entry 0's value 3 is the default here, and it is "Medium".
    EXPECT_EQ(SendDlgItemMessageW(dialog, 1003, LB_GETCURSEL, 0, 0), 2);
    // A combo box notification is not this platform's.
    SendMessageW(dialog, WM_COMMAND, static_cast<WPARAM>((CBN_SELENDOK << 16) | 1003), 0);
    EXPECT_EQ(AppGlobals.settingsChanged, 0);
    HWND list = GetDlgItem(dialog, 1009);
    SendMessageW(list, LB_SETCURSEL, 0, 0); // Short
    SendMessageW(dialog, WM_COMMAND, static_cast<WPARAM>((LBN_SELCHANGE << 16) | 1009),
                 reinterpret_cast<LPARAM>(list));
    SendMessageW(dialog, WM_COMMAND, kDone, 0);
  }));
  EXPECT_EQ(AppGlobals.openingSensitivity, 3);
  EXPECT_EQ(SettingsStore::ReadDword(u"KeyRepeatDelayValue", -1), 250);
  EXPECT_EQ(Sent(), (std::vector<UINT>{WM_SET_KEY_REPEAT_DELAY}));
}

// Every language's labels show whole: a label longer than the template's
// words widens (and the dialog with it) instead of being cut.
TEST_F(TypingSettingsTest, LabelsShowWholeInEveryLanguage) {
  for (const char16_t *language : {u"English.lang", u"Deutsch.lang", u"Fran\u00e7ais.lang", u"Espa\u00f1ol.lang"}) {
    const std::string file = Utf16ToUtf8(language);
    SCOPED_TRACE(file);
    box_.CopyData(file, "opt/Vantrel/" + file);
    SettingsStore::WriteString(u"language", language);
    ASSERT_TRUE(LoadUiStrings());
    // The templates' texts in the language, as at start-up.
    SetResourceTextLookup(UiResourceText);
    int labels = 0;
    EXPECT_TRUE(Drive([&](HWND dialog) {
      QWidget *client = vqt::ClientOf(dialog);
      ASSERT_NE(client, nullptr);
      for (QLabel *label : client->findChildren<QLabel *>()) {
        ++labels;
        EXPECT_LE(label->heightForWidth(label->width()), label->height()) << label->text().toStdString();
        EXPECT_TRUE(client->rect().contains(label->geometry())) << label->text().toStdString();
        // Painted whole: its ink reaches as far right as its text is wide.
        const QImage shown = label->grab().toImage();
        int right = -1;
        for (int x = 0; x < shown.width(); ++x)
          for (int y = 0; y < shown.height(); ++y)
            if (qGray(shown.pixel(x, y)) < 128)
              right = x;
        const QString plain = QString(label->text()).remove(QLatin1Char('&'));
        EXPECT_GE(right + 4, label->fontMetrics().horizontalAdvance(plain)) << label->text().toStdString();
      }
      SendMessageW(dialog, WM_COMMAND, kDone, 0);
    }));
    EXPECT_EQ(labels, 4);
  }
  SetResourceTextLookup(nullptr);
}

} // namespace
