// Shared set-up of the calibration dialog's tests, on tests/support: a
// sandbox with the English UI strings, a stand-in for TypingWnd that behaves
// like the link towards the dialog, and message boxes answered from a
// script while the dialog's messages keep flowing, as under a modal box.
#pragma once

#include "platform/window.h"
#include "tests/support/sandbox.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

// What the stand-in link does when the dialog asks it to begin calibrating:
// post the keyboard's notifications to the calibration dialog, or lose the
// connection.
enum class LinkEvent { Step, Result, Failed, Lost, Done, Ok };
using LinkScript = std::vector<LinkEvent>;

struct LinkRecord {
  UINT message;
  HWND calibrationDialog; // AppGlobals.calibrationDialog when it arrived
  int32_t step;           // calibrationStep when it arrived
};

struct BoxRecord {
  std::u16string text;
  std::u16string caption;
  UINT type;
  HWND owner;
  size_t linkMessagesBefore; // how many link messages had arrived when it showed
  std::u16string yesVerb, noVerb; // a question's answers (empty for Yes and No)
};

// Starts the toolkit, readies the sandbox (InstallDir "opt\Vantrel\" with
// English.lang, the UI strings loaded, the link typing) and scripts the
// message boxes until it is destroyed.
class CalibrationSandbox {
public:
  CalibrationSandbox();
  ~CalibrationSandbox();
  // Writes a BMP of one colour (r, g, b) into InstallDir.
  void PutPicture(const std::string &name, int width, int height, int r, int g, int b) const;

private:
  testsupport::ProgramSandbox box_{"calibration", testsupport::kDeviceRoot | testsupport::kSettings};
};

// The stand-in link: a window installed as TypingWnd. It records every
// private message, moves linkState as the link does (WM_CALIBRATE to
// calibrating; WM_END_CALIBRATION and WM_RESUME_WITH_SETTINGS to typing),
// and on each WM_BEGIN_CALIBRATION plays the next script.
void CreateLinkStandIn(std::vector<LinkScript> scripts);
void DestroyLinkStandIn();
const std::vector<LinkRecord> &LinkMessages();
size_t CountLinkMessages(UINT message);

// Scripted message boxes: answers in order (a Yes/No box without an answer
// left gets IDNO, others IDOK); an action may run while box n is up, after
// which the box dispatches the thread's messages as a modal box does.
void ScriptMessageBoxes(std::deque<int> answers);
void DuringMessageBox(size_t index, std::function<void()> action);
const std::vector<BoxRecord> &MessageBoxes();

// Opens the dialog as the Options menu does and returns when it has closed;
// false when a watchdog had to end it.
bool RunCalibrationDialog();
