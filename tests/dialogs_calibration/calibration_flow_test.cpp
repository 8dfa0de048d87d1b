// The calibration dialog's course, driven by the stand-in link's
// notifications and scripted answers: what it asks, what it tells the link,
// what it stores, and that every way out leaves the link typing (or, once
// the keyboard has gone, leaves an idle link alone).
#include "common/globals.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "calibration_test_env.h"
#include "dialogs/calibration_dialog.h"
#include "dialogs/dialog_template.h"
#include "common/messages.h"
#include "resources/resource_ids.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/toolkit.h"

#include <gtest/gtest.h>

namespace {

using E = LinkEvent;

class CalibrationFlow : public ::testing::Test {
protected:
  void TearDown() override { DestroyLinkStandIn(); }

  // Opens the dialog against a connected link; the scripts play on each
  // WM_BEGIN_CALIBRATION in turn.
  void Run(std::deque<int> answers, std::vector<LinkScript> scripts = {}) {
    CreateLinkStandIn(std::move(scripts));
    ScriptMessageBoxes(std::move(answers));
    ASSERT_TRUE(RunCalibrationDialog()) << "the dialog did not close by itself";
  }
  std::vector<UINT> Sequence() const {
    std::vector<UINT> out;
    for (const LinkRecord &r : LinkMessages())
      out.push_back(r.message);
    return out;
  }
  void ExpectBox(size_t index, int uiString, UINT type) const {
    ASSERT_LT(index, MessageBoxes().size());
    const BoxRecord &box = MessageBoxes()[index];
    EXPECT_EQ(box.text, UiString(uiString)) << "box " << index;
    EXPECT_EQ(box.caption, UiString(11)) << "box " << index;
    EXPECT_EQ(box.type, type) << "box " << index;
    // Each question is answered by what its buttons do.
    const struct {
      int question, yes, no;
    } kVerbs[] = {{kUiAskCalibrate, kUiVerbCalibrate, kUiVerbNotNow},
                  {kUiAskResetCalibration, kUiVerbReset, kUiVerbKeepCurrent},
                  {kUiAskRetryCalibration, kUiVerbTryAgain, kUiVerbCancel}};
    for (const auto &verbs : kVerbs)
      if (verbs.question == uiString) {
        EXPECT_EQ(box.yesVerb, UiString(verbs.yes)) << "box " << index;
        EXPECT_EQ(box.noVerb, UiString(verbs.no)) << "box " << index;
      }
  }
  // The dialog is no longer recorded anywhere the link posts to.
  void ExpectForgotten() const {
    EXPECT_EQ(AppGlobals.calibrationDialog.load(), nullptr);
    EXPECT_EQ(AppGlobals.openDialog.load(), nullptr);
  }

  CalibrationSandbox box_;
};

constexpr UINT kQuestion = MB_YESNO | MB_ICONQUESTION;

void StoreCalibration(int32_t base) {
  for (LPCWSTR name : {u"originX", u"scaleXHigh", u"scaleXLow", u"originY", u"scaleYHigh",
                       u"scaleYLow"})
    SettingsStore::WriteDword(name, base++);
}

TEST_F(CalibrationFlow, DecliningOffersTheNeutralCalibration) {
  // Yes to the reset: the six neutral values, settings sent, no calibration.
  StoreCalibration(40);
  Run({IDNO, IDYES});
  ASSERT_EQ(MessageBoxes().size(), 2u);
  ExpectBox(0, 12, kQuestion);
  ExpectBox(1, 13, kQuestion);
  EXPECT_EQ(SettingsStore::ReadDword(u"originX", 99), 0);
  EXPECT_EQ(SettingsStore::ReadDword(u"scaleXHigh", 99), 1);
  EXPECT_EQ(SettingsStore::ReadDword(u"scaleXLow", 99), 0);
  EXPECT_EQ(SettingsStore::ReadDword(u"originY", 99), 0);
  EXPECT_EQ(SettingsStore::ReadDword(u"scaleYHigh", 99), 1);
  EXPECT_EQ(SettingsStore::ReadDword(u"scaleYLow", 99), 0);
  EXPECT_EQ(Sequence(), std::vector<UINT>{WM_RESUME_WITH_SETTINGS});
  ExpectForgotten();
  DestroyLinkStandIn();

  // No to both: the stored calibration stays, the link is handed back.
  StoreCalibration(40);
  Run({IDNO, IDNO});
  EXPECT_EQ(SettingsStore::ReadDword(u"originX", 99), 40);
  EXPECT_EQ(SettingsStore::ReadDword(u"scaleYLow", 99), 45);
  EXPECT_EQ(Sequence(), std::vector<UINT>{WM_END_CALIBRATION});
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_TYPING);
}

TEST_F(CalibrationFlow, ThreeStepsAndTheResult) {
  Run({IDYES}, {{E::Step, E::Step, E::Step, E::Result}});
  EXPECT_EQ(Sequence(),
            (std::vector<UINT>{WM_CALIBRATE, WM_BEGIN_CALIBRATION, WM_END_CALIBRATION}));
  const std::vector<LinkRecord> &link = LinkMessages();
  ASSERT_EQ(link.size(), 3u);
  // The link knows where to report before it is asked to begin.
  EXPECT_NE(link[1].calibrationDialog, nullptr);
  EXPECT_EQ(link[1].calibrationDialog, MessageBoxes()[0].owner);
  EXPECT_EQ(link[1].step, 0);
  EXPECT_EQ(AppGlobals.calibrationStep, 3);
  ASSERT_EQ(MessageBoxes().size(), 2u);
  ExpectBox(0, 12, kQuestion);
  ExpectBox(1, 17, MB_OK);
  // The calibration was ended (sent, not posted) before the user is told.
  EXPECT_EQ(MessageBoxes()[1].linkMessagesBefore, 3u);
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_TYPING);
  ExpectForgotten();
}

TEST_F(CalibrationFlow, DoneEndsTheCalibrationOnce) {
  // Done, then the title bar's Done (IDOK) before the dialog has gone.
  Run({IDYES}, {{E::Step, E::Done, E::Ok}});
  EXPECT_EQ(CountLinkMessages(WM_END_CALIBRATION), 1u);
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_TYPING);
  EXPECT_EQ(AppGlobals.calibrationStep, 1);
  ExpectForgotten();
}

TEST_F(CalibrationFlow, FailureOffersARetry) {
  // Yes: calibration starts again at step 0 and then succeeds.
  Run({IDYES, IDYES}, {{E::Step, E::Step, E::Failed}, {E::Step, E::Result}});
  EXPECT_EQ(Sequence(), (std::vector<UINT>{WM_CALIBRATE, WM_BEGIN_CALIBRATION, WM_CALIBRATE,
                                           WM_BEGIN_CALIBRATION, WM_END_CALIBRATION}));
  EXPECT_EQ(LinkMessages()[3].step, 0);
  EXPECT_EQ(AppGlobals.calibrationStep, 1);
  ASSERT_EQ(MessageBoxes().size(), 3u);
  ExpectBox(1, 18, kQuestion);
  ExpectBox(2, 17, MB_OK);
  DestroyLinkStandIn();

  // No: calibration ended and the dialog closed.
  Run({IDYES, IDNO}, {{E::Step, E::Failed}});
  EXPECT_EQ(Sequence(), (std::vector<UINT>{WM_CALIBRATE, WM_BEGIN_CALIBRATION, WM_END_CALIBRATION}));
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_TYPING);
  ExpectForgotten();
}

// The dialog's procedure, noting the step each paint shows.
std::vector<int32_t> gPaintedSteps;
INT_PTR NotingPaints(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_PAINT)
    gPaintedSteps.push_back(AppGlobals.calibrationStep);
  return CalibrationDialogProc(dialog, msg, wParam, lParam);
}

TEST_F(CalibrationFlow, ARetryClearsThePageOfTheFailedStep) {
  CreateLinkStandIn({});
  ScriptMessageBoxes({IDYES, IDYES});
  gPaintedSteps.clear();
  // The drive's script runs while the first question is still up: it hands
  // the steps to a window of its own, which plays them once the dialog is
  // calibrating and shown.
  constexpr UINT kPlay = WM_APP + 300;
  HWND player = testsupport::MakeTestWindow(
      [](HWND self, UINT msg, WPARAM, LPARAM) -> LRESULT {
        if (msg == kPlay) {
          SetTimer(self, 1, 50, nullptr); // looks again once the question is answered
          return 0;
        }
        if (msg != WM_TIMER)
          return -2;
        HWND dialog = AppGlobals.calibrationDialog.load();
        if (dialog == nullptr)
          return 0;
        KillTimer(self, 1);
        testsupport::Spin(150);
        SendMessageW(dialog, WM_CALIBRATION_STEP, 0, 0);
        SendMessageW(dialog, WM_CALIBRATION_STEP, 0, 0);
        EXPECT_FALSE(gPaintedSteps.empty());
        EXPECT_EQ(gPaintedSteps.empty() ? -1 : gPaintedSteps.back(), 2);
        AppGlobals.linkState.store(LINK_TYPING); // the reader thread left calibration
        SendMessageW(dialog, WM_CALIBRATION_FAILED, 0, 0); // Yes: try again
        EXPECT_EQ(AppGlobals.calibrationStep, 0);
        EXPECT_EQ(gPaintedSteps.back(), 0) << "the failed step's key is still asked for";
        SendMessageW(dialog, WM_CALIBRATION_STEP, 0, 0);
        EXPECT_EQ(gPaintedSteps.back(), 1);
        SendMessageW(dialog, WM_COMMAND, 40004, 0);
        return 0;
      },
      10, 10, 0);
  const bool closed = testsupport::DriveDialog(
      [] {
        AppGlobals.calibrationStep = 0;
        RunDialogTemplate(kDialogCalibration, nullptr, NotingPaints);
      },
      [player](HWND) { PostMessageW(player, kPlay, 0, 0); });
  DestroyWindow(player);
  EXPECT_TRUE(closed);
  ExpectBox(1, 18, kQuestion);
}

TEST_F(CalibrationFlow, AKeyboardThatGoesLeavesTheIdleLinkAlone) {
  // Lost during calibration: the link-loss Done closes the dialog; ending
  // the calibration now would set an idle link to typing for good.
  Run({IDYES}, {{E::Step, E::Lost}});
  EXPECT_EQ(CountLinkMessages(WM_END_CALIBRATION), 0u);
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_IDLE);
  ExpectForgotten();
  DestroyLinkStandIn();

  // Lost while the retry question is up: Yes then has nothing to retry.
  AppGlobals.linkState.store(LINK_TYPING);
  DuringMessageBox(1, [] {
    AppGlobals.linkState.store(LINK_IDLE);
    PostMessageW(AppGlobals.openDialog.load(), WM_COMMAND, IDOK, 0);
  });
  Run({IDYES, IDYES}, {{E::Failed}});
  EXPECT_EQ(Sequence(), (std::vector<UINT>{WM_CALIBRATE, WM_BEGIN_CALIBRATION}));
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_IDLE);
  ExpectForgotten();
}

TEST_F(CalibrationFlow, AKeyboardGoneDuringTheQuestionsIsNotCalibrated) {
  // Gone while the first question is up: Yes starts nothing.
  DuringMessageBox(0, [] { AppGlobals.linkState.store(LINK_IDLE); });
  Run({IDYES});
  EXPECT_TRUE(LinkMessages().empty());
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_IDLE);
  ExpectForgotten();
  DestroyLinkStandIn();

  // Gone before the reset answer: the values are stored for the next
  // connection, and the idle link is not touched.
  DuringMessageBox(1, [] { AppGlobals.linkState.store(LINK_IDLE); });
  StoreCalibration(40);
  Run({IDNO, IDYES});
  EXPECT_EQ(SettingsStore::ReadDword(u"scaleXHigh", 99), 1);
  EXPECT_TRUE(LinkMessages().empty());
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_IDLE);
}

TEST_F(CalibrationFlow, LateOrStrayNotificationsChangeNothing) {
  // A result after the user has chosen Done, and steps beyond the third.
  Run({IDYES}, {{E::Step, E::Step, E::Step, E::Step, E::Done, E::Result, E::Failed}});
  EXPECT_EQ(AppGlobals.calibrationStep, 4);
  EXPECT_EQ(CountLinkMessages(WM_END_CALIBRATION), 1u);
  EXPECT_EQ(MessageBoxes().size(), 1u);
  DestroyLinkStandIn();

  // Closed while the retry question is up, the keyboard still there: Yes
  // must not put the link back into a calibration nobody shows.
  DuringMessageBox(1, [] { PostMessageW(AppGlobals.openDialog.load(), WM_COMMAND, IDOK, 0); });
  Run({IDYES, IDYES}, {{E::Failed}});
  EXPECT_EQ(Sequence(), (std::vector<UINT>{WM_CALIBRATE, WM_BEGIN_CALIBRATION, WM_END_CALIBRATION}));
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_TYPING);
  ExpectForgotten();
}

} // namespace
