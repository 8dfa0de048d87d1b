// The key test: reading "testmode.txt" (records of three tokens, at most 100
// kept, names cut at 24 characters) and the dialog's walk through the list.
#include "common/globals.h"
#include "common/messages.h"
#include "dialogs/key_test.h"
#include "platform/text.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/sandbox.h"
#include "tests/support/scripted_message_boxes.h"
#include "tests/support/thread_messages.h"
#include "tests/support/toolkit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace testsupport;

namespace {

// The dialogs here are painted: each is shown before its script runs.

int Parse(const std::string &text) { return parseKeyTestText(text.data(), text.size()); }

class KeyTestFile : public ::testing::Test {
protected:
  void SetUp() override { ResetAppGlobals(); }
};

TEST_F(KeyTestFile, RecordsAreThreeTokensAndACarriageReturnIsTheThirdOfALine) {
  EXPECT_EQ(Parse("A,65,x\nB key,66,y\nEnter,13,\r\n"), 3);
  EXPECT_EQ(AppGlobals.keyTestLast, 2);
  EXPECT_STREQ(AppGlobals.keyTestEntries[1].name, "B key");
  EXPECT_EQ(AppGlobals.keyTestEntries[1].code, 66);
  EXPECT_EQ(AppGlobals.keyTestEntries[2].code, 13);

  ResetAppGlobals();
  EXPECT_EQ(Parse("Tab,9,\r\n"), 1);
  EXPECT_EQ(AppGlobals.keyTestLast, 0);
  EXPECT_STREQ(AppGlobals.keyTestEntries[0].name, "Tab");

  // Runs of separators are one; a code keeps its low 8 bits, read as atoi.
  ResetAppGlobals();
  EXPECT_EQ(Parse(",,\nA,,321,,z\n\n\nB, 66abc,z"), 2);
  EXPECT_EQ(AppGlobals.keyTestEntries[0].code, 321 & 0xFF);
  EXPECT_EQ(AppGlobals.keyTestEntries[1].code, 66);
}

TEST_F(KeyTestFile, ShortFilesGiveOnlyWholeRecords) {
  EXPECT_EQ(Parse(""), 0);
  EXPECT_EQ(AppGlobals.keyTestLast, -1);
  EXPECT_EQ(Parse("\n,\n"), 0);
  EXPECT_EQ(Parse("Lonely"), 0); // a name without its code is not counted
  EXPECT_EQ(AppGlobals.keyTestLast, -1);
  EXPECT_EQ(Parse("A,65"), 1); // the ignored token may be missing at the end
  EXPECT_EQ(Parse("A,65,x\nB"), 1);
  EXPECT_EQ(AppGlobals.keyTestLast, 0);
  // Lines of two fields fall out of step.
  EXPECT_EQ(Parse("A,65\nB,66\nC,67\n"), 2);
  EXPECT_STREQ(AppGlobals.keyTestEntries[1].name, "66");
}

TEST_F(KeyTestFile, LongNamesAreCutAndRecordsBeyondTheTableAreLeftOut) {
  EXPECT_EQ(Parse(std::string(40, 'N') + ",65,x\n"), 1);
  EXPECT_EQ(std::strlen(AppGlobals.keyTestEntries[0].name), 24u);
  EXPECT_EQ(AppGlobals.keyTestEntries[0].code, 65);

  // 128 short records fit in the 2048 bytes read; only 100 have room.
  ResetAppGlobals();
  std::string text;
  for (int i = 0; i < 128; ++i)
    text += "k" + std::to_string(i) + "," + std::to_string(i) + ",x\n";
  ASSERT_LE(text.size(), kKeyTestFileReadLimit);
  EXPECT_EQ(Parse(text), 100);
  EXPECT_EQ(AppGlobals.keyTestLast, 99);
  EXPECT_STREQ(AppGlobals.keyTestEntries[99].name, "k99");
  EXPECT_EQ(AppGlobals.keyTestEntries[99].code, 99);
  EXPECT_EQ(AppGlobals.keyTestPosition, 0); // the fields after the table are untouched
  EXPECT_EQ(AppGlobals.keyTestCompleted, 0);
}

class KeyTestDialog : public ::testing::Test {
protected:
  void SetUp() override {
    StartToolkitOnce();
    boxes_ = std::make_unique<ScriptedMessageBoxes>();
    main_ = MakeMainWindowStandIn();
    WStrCopyN(AppGlobals.InstallDir, MAX_PATH, u"opt\\Vantrel\\");
  }
  void TearDown() override {
    boxes_.reset();
    DestroyWindow(main_);
  }
  static void Type(HWND dialog, int ch) {
    SendMessageW(dialog, WM_KEY_TEST_CHAR, 0, ch);
  }
  ProgramSandbox box_;
  HWND main_ = nullptr;
  std::unique_ptr<ScriptedMessageBoxes> boxes_;
};

TEST_F(KeyTestDialog, WalksTheListAsksAgainOnAWrongKeyAndAsksBeforeQuittingEarly) {
  box_.Put("opt/Vantrel/testmode.txt", "A,65,x\r\nB,66,x\r\nC,67,x\r\n");
  boxes_->Answer({IDOK, IDNO, IDOK});
  ASSERT_TRUE(DriveDialog([] { runKeyTest(AppGlobals.mainWindow); }, [](HWND dialog) {
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(AppGlobals.keyTestLast, 2);
    Type(dialog, 65);
    EXPECT_EQ(AppGlobals.keyTestPosition, 1);
    Type(dialog, 'x'); // wrong: the position stays
    EXPECT_EQ(AppGlobals.keyTestPosition, 1);
    EXPECT_EQ(AppGlobals.keyTestCharPending, 0);
    SendMessageW(dialog, WM_COMMAND, 40004, 0); // early Done, answered No
    EXPECT_TRUE(IsWindow(dialog));
    Type(dialog, 66 + 256); // only the low 8 bits count
    EXPECT_EQ(AppGlobals.keyTestPosition, 2);
    EXPECT_EQ(AppGlobals.keyTestCompleted, 0);
    Type(dialog, 0); // any character after the last prompt completes the test
    EXPECT_EQ(AppGlobals.keyTestCompleted, 1);
    EXPECT_EQ(AppGlobals.keyTestPosition, 2);
    SendMessageW(dialog, WM_COMMAND, 40004, 0);
  }, kDriveShown));
  const std::vector<ShownBox> boxes = boxes_->Shown();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, u"Incorrect character pressed, try again");
  EXPECT_EQ(boxes[0].caption, u"Vantrel");
  EXPECT_EQ(boxes[1].text, u"Test not completed. Do you want to quit.");
  EXPECT_EQ(boxes[1].type, MB_YESNO);
}

TEST_F(KeyTestDialog, CharactersAreComparedAsTheyArriveNotWhenPainted) {
  box_.Put("opt/Vantrel/testmode.txt", "A,65,x\nB,66,x\nC,67,x\n");
  boxes_->Answer({IDOK, IDYES});
  HWND seen = nullptr;
  ASSERT_TRUE(DriveDialog([] { runKeyTest(AppGlobals.mainWindow); }, [&](HWND dialog) {
    seen = dialog;
    // Key translation finds the open test here.
    EXPECT_EQ(AppGlobals.keyTestDialog.load(), dialog);
    // A hidden dialog paints nothing, and still hears every character.
    ShowWindow(dialog, SW_HIDE);
    PostMessageW(dialog, WM_KEY_TEST_CHAR, 0, 65);
    PumpMessages();
    EXPECT_EQ(AppGlobals.keyTestPosition, 1);
    Type(dialog, 'x');
    EXPECT_EQ(boxes_->Shown().size(), 1u);
    ShowWindow(dialog, SW_SHOW);
    Type(dialog, 66);
    EXPECT_EQ(AppGlobals.keyTestPosition, 2);
    // Repaints change nothing: only a character ends the test.
    for (int i = 0; i < 3; ++i) {
      InvalidateRect(dialog, nullptr, TRUE);
      UpdateWindow(dialog);
    }
    EXPECT_EQ(AppGlobals.keyTestCompleted, 0);
    EXPECT_EQ(boxes_->Shown().size(), 1u);
    SendMessageW(dialog, WM_COMMAND, 40004, 0); // asked, and Yes quits
  }, kDriveShown));
  EXPECT_FALSE(IsWindow(seen));
  EXPECT_EQ(AppGlobals.keyTestDialog.load(), nullptr);
  ASSERT_EQ(boxes_->Shown().size(), 2u);
  EXPECT_EQ(boxes_->Shown()[0].text, u"Incorrect character pressed, try again");
}

TEST_F(KeyTestDialog, LinkLossBeforeCompletionAsksAndYesCloses) {
  box_.Put("opt/Vantrel/testmode.txt", "A,65,x\nB,66,x\n");
  boxes_->Answer({IDYES});
  HWND seen = nullptr;
  ASSERT_TRUE(DriveDialog([] { runKeyTest(AppGlobals.mainWindow); }, [&](HWND dialog) {
    seen = dialog;
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  }, kDriveShown));
  EXPECT_FALSE(IsWindow(seen));
  ASSERT_EQ(boxes_->Shown().size(), 1u);
  EXPECT_EQ(boxes_->Shown()[0].text, u"Test not completed. Do you want to quit.");
}

TEST_F(KeyTestDialog, AnEmptyListIsCompletedAtTheFirstPaint) {
  box_.Put("opt/Vantrel/testmode.txt", "");
  boxes_->Answer({});
  ASSERT_TRUE(DriveDialog([] { runKeyTest(AppGlobals.mainWindow); }, [](HWND dialog) {
    for (int i = 0; i < 3; ++i)
      Type(dialog, 0); // must never step past the table
    EXPECT_EQ(AppGlobals.keyTestCompleted, 1);
    EXPECT_EQ(AppGlobals.keyTestPosition, 0);
    SendMessageW(dialog, WM_COMMAND, 40004, 0);
  }, kDriveShown));
  EXPECT_TRUE(boxes_->Shown().empty()); // completed: Done asks nothing
}

TEST_F(KeyTestDialog, MissingFileSaysSoAndOpensNoDialog) {
  boxes_->Answer({});
  runKeyTest(AppGlobals.mainWindow);
  ASSERT_EQ(boxes_->Shown().size(), 1u);
  EXPECT_EQ(boxes_->Shown()[0].text, u"Failed to open keycode.txt");
  EXPECT_EQ(boxes_->Shown()[0].caption, u"Mirvok");
  EXPECT_EQ(AppGlobals.openDialog.load(), nullptr);
}

} // namespace
