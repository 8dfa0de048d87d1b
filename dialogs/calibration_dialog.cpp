// The calibration dialog. It only drives the link: TypingWnd switches the
// keyboard into and out of calibration, the frame decoder stores the result,
// and the dialog shows the step the keyboard has reached.
//
// The dialog counts as calibrating exactly while AppGlobals.calibrationDialog
// holds it. Every way out clears that record first and ends the link's
// calibration only while the keyboard is still connected, so that neither a
// message arriving while one of the message boxes is up nor a closed link
// can leave the link calibrating, or put an idle link back to typing.
#include "dialogs/calibration_dialog.h"

#include "common/globals.h"
#include "common/messages.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "dialogs/dialog_template.h"
#include "platform/gdi.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "resources/resource_ids.h"

namespace {

constexpr int kWidePictureAbove = 240; // client widths above this use the "_wide" pictures
constexpr int kPictureTop = 30; // below a one-line instruction
constexpr int kTextMargin = 5;

HWND TypingWindow() { return AppGlobals.typingWnd.load(); }

// The keyboard is connected when the link types or calibrates. In any other
// state the link's calibration messages must not be sent: each of them sets
// the link state, and an idle reader thread would then never connect again.
bool LinkConnected() {
  const int32_t state = AppGlobals.linkState.load();
  return state == LINK_TYPING || state == LINK_CALIBRATING;
}

bool Calibrating(HWND dialog) { return AppGlobals.calibrationDialog.load() == dialog; }

// Forgets the dialog wherever it is still recorded (another dialog may have
// taken openDialog since), so that nothing is posted to a closed window.
void ForgetDialog(HWND dialog) {
  HWND expected = dialog;
  AppGlobals.calibrationDialog.compare_exchange_strong(expected, nullptr);
  expected = dialog;
  AppGlobals.openDialog.compare_exchange_strong(expected, nullptr);
}

void StartCalibration(HWND dialog) {
  SendMessageW(TypingWindow(), WM_CALIBRATE, 0, 0);
  AppGlobals.openDialog.store(dialog);
  AppGlobals.calibrationDialog.store(dialog);
  PostMessageW(TypingWindow(), WM_BEGIN_CALIBRATION, 0, 0);
}

// Leaves calibration without a result and closes the dialog. Calibration is
// ended at most once, however many ways out arrive.
void CancelCalibration(HWND dialog) {
  if (Calibrating(dialog)) {
    ForgetDialog(dialog);
    if (LinkConnected())
      PostMessageW(TypingWindow(), WM_END_CALIBRATION, 0, 0);
  }
  EndDialog(dialog, 0);
}

// The user declined to calibrate: offer the neutral calibration instead.
// The values are stored whatever the link's state; the keyboard receives
// them now when connected, otherwise with the settings of the next
// connection.
void OfferReset(HWND dialog) {
  if (AskWithVerbsW(dialog, UiString(kUiAskResetCalibration), UiString(kUiCalibrationTitle),
                    MB_ICONQUESTION, UiString(kUiVerbReset), UiString(kUiVerbKeepCurrent)) == IDYES) {
    SettingsStore::WriteDword(u"originX", 0);
    SettingsStore::WriteDword(u"scaleXHigh", 1);
    SettingsStore::WriteDword(u"scaleXLow", 0);
    SettingsStore::WriteDword(u"originY", 0);
    SettingsStore::WriteDword(u"scaleYHigh", 1);
    SettingsStore::WriteDword(u"scaleYLow", 0);
    if (LinkConnected())
      PostMessageW(TypingWindow(), WM_RESUME_WITH_SETTINGS, 0, 0);
  } else if (LinkConnected()) {
    PostMessageW(TypingWindow(), WM_END_CALIBRATION, 0, 0);
  }
  EndDialog(dialog, 0);
}

INT_PTR OnInitDialog(HWND dialog) {
  InitDialogPage(dialog, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN, kMenuBarDone);
  if (AskWithVerbsW(dialog, UiString(kUiAskCalibrate), UiString(kUiCalibrationTitle),
                    MB_ICONQUESTION, UiString(kUiVerbCalibrate), UiString(kUiVerbNotNow)) == IDNO) {
    OfferReset(dialog);
    return FALSE;
  }
  // The keyboard may have gone while the question was up; its link-loss
  // notice went to whichever dialog was open before this one.
  if (!LinkConnected()) {
    EndDialog(dialog, 0);
    return FALSE;
  }
  StartCalibration(dialog);
  return TRUE;
}

void OnCalibrationStep(HWND dialog) {
  if (!Calibrating(dialog))
    return;
  ++AppGlobals.calibrationStep;
  InvalidateRect(dialog, nullptr, TRUE);
  UpdateWindow(dialog);
}

void OnCalibrationResult(HWND dialog) {
  if (!Calibrating(dialog))
    return;
  ForgetDialog(dialog);
  if (LinkConnected())
    SendMessageW(TypingWindow(), WM_END_CALIBRATION, 0, 0);
  MessageBoxW(dialog, UiString(kUiCalibrationFinished), UiString(kUiCalibrationTitle), MB_OK);
  EndDialog(dialog, 0);
}

void OnCalibrationFailed(HWND dialog) {
  if (!Calibrating(dialog))
    return;
  const int answer =
      AskWithVerbsW(dialog, UiString(kUiAskRetryCalibration), UiString(kUiCalibrationTitle),
                    MB_ICONQUESTION, UiString(kUiVerbTryAgain), UiString(kUiVerbCancel));
  // While the question was up the dialog may have been closed (Done, or the
  // keyboard disconnected): a retry then has nobody to show it.
  if (!Calibrating(dialog))
    return;
  if (answer == IDYES && LinkConnected()) {
    SendMessageW(TypingWindow(), WM_CALIBRATE, 0, 0);
    // The keyboard starts over: the page does too, empty as at the first
    // start until the keyboard's first point shows step 1, rather than
    // asking for the key of the step that failed.
    AppGlobals.calibrationStep = 0;
    InvalidateRect(dialog, nullptr, TRUE);
    UpdateWindow(dialog);
    PostMessageW(TypingWindow(), WM_BEGIN_CALIBRATION, 0, 0);
    return;
  }
  CancelCalibration(dialog);
}

void PaintStep(HWND dialog, HDC hdc) {
  const int instruction = CalibrationInstruction(AppGlobals.calibrationStep);
  if (instruction < 0)
    return;
  RECT client = {};
  GetClientRect(dialog, &client);
  const int width = client.right;
  // The instruction wraps at the page's width, a margin from its sides; the
  // picture sits below it, lower than usual when the text takes more lines
  // than the picture's place leaves room for.
  RECT textRect = {kTextMargin, 0, width - kTextMargin, client.bottom};
  RECT measured = textRect;
  DrawTextW(hdc, UiString(instruction), -1, &measured, DT_CALCRECT | DT_WORDBREAK);
  DrawTextW(hdc, UiString(instruction), -1, &textRect, DT_WORDBREAK);
  const int pictureTop =
      measured.bottom + kTextMargin > kPictureTop ? measured.bottom + kTextMargin : kPictureTop;

  WCHAR path[MAX_PATH + 32];
  wnsprintfW(path, sizeof path / sizeof path[0], u"%s%s", AppGlobals.InstallDir,
             CalibrationPictureName(AppGlobals.calibrationStep, width));
  HBITMAP picture = SHLoadDIBitmap(path);
  if (picture == nullptr)
    return; // no picture: the instruction alone
  HDC memory = CreateCompatibleDC(hdc);
  SelectObject(memory, picture);
  BITMAP info = {};
  GetObjectW(picture, 24, &info);
  BitBlt(hdc, width / 2 - info.bmWidth / 2, pictureTop, info.bmWidth, info.bmHeight, memory, 0, 0,
         SRCCOPY);
  DeleteDC(memory);
  DeleteObject(picture);
}

void OnPaint(HWND dialog) {
  PAINTSTRUCT ps = {};
  HDC hdc = BeginPaint(dialog, &ps);
  PaintStep(dialog, hdc);
  EndPaint(dialog, &ps);
}

} // namespace

int CalibrationInstruction(int32_t step) {
  return step >= 1 && step <= 3 ? kUiCalibrationStep1 + (step - 1) : -1;
}

const WCHAR *CalibrationPictureName(int32_t step, int clientWidth) {
  static const WCHAR *const kNarrow[] = {u"altkey.bmp", u"equalskey.bmp", u"downarrowkey.bmp"};
  static const WCHAR *const kWide[] = {u"altkey_wide.bmp", u"equalskey_wide.bmp",
                                       u"downarrowkey_wide.bmp"};
  if (step < 1 || step > 3)
    return nullptr;
  return clientWidth > kWidePictureAbove ? kWide[step - 1] : kNarrow[step - 1];
}

INT_PTR CalibrationDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
  case WM_INITDIALOG:
    return OnInitDialog(dialog);
  case WM_CALIBRATION_STEP:
    OnCalibrationStep(dialog);
    return 0;
  case WM_CALIBRATION_RESULT:
    OnCalibrationResult(dialog);
    return 0;
  case WM_CALIBRATION_FAILED:
    OnCalibrationFailed(dialog);
    return 0;
  case WM_PAINT:
    OnPaint(dialog);
    return 0;
  case WM_COMMAND:
    // Done, a lost link (IDOK) and closing the window (IDCANCEL) all end
    // calibration without a result.
    if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == kCommandPageDone) {
      CancelCalibration(dialog);
      return TRUE;
    }
    break;
  case WM_DESTROY:
    // Closed without any of the ways out (the program is quitting, and the
    // link is told so by the quit itself): only forget the window.
    ForgetDialog(dialog);
    break;
  }
  // The dialog class hands what is not handled here to DefWindowProcW
  // (calling it here as well would let WM_CLOSE destroy the dialog without
  // ending the calibration).
  (void)lParam;
  return FALSE;
}

void OpenCalibrationDialog(HWND owner) {
  AppGlobals.calibrationStep = 0;
  if (RunDialogTemplate(kDialogCalibration, owner, CalibrationDialogProc))
    return;
  // No calibration dialog to run. If the link was put into calibration for
  // it (the user agreed to calibrate a new keyboard), nothing would ever end
  // that calibration and the status poll would stay stopped: hand the link
  // back to typing as a finished calibration does.
  if (AppGlobals.linkState.load() == LINK_CALIBRATING)
    PostMessageW(AppGlobals.typingWnd.load(), WM_END_CALIBRATION, 0, 0);
}
