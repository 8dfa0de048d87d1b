#include "tests/dialogs_settings/dialog_driver.h"

#include "common/globals.h"
#include "platform/controls.h"
#include "tests/platform_qt/qt_test_support.h"

#include <deque>

namespace {

constexpr UINT kRunScript = WM_USER + 1;
constexpr UINT_PTR kWatchdog = 7;

std::function<void(HWND)> gScript;
bool gTimedOut = false;
std::deque<int> gAnswers;
std::vector<ShownBox> gBoxes;

LRESULT DriverProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == kRunScript) {
    HWND dialog = AppGlobals.openDialog;
    // Let the toolkit expose the new window first: until then a repaint
    // asked for with UpdateWindow cannot happen at once.
    Spin(150);
    if (gScript)
      gScript(dialog);
    return 0;
  }
  if (msg == WM_TIMER && wParam == kWatchdog) {
    KillTimer(hwnd, kWatchdog);
    gTimedOut = true;
    EndDialog(AppGlobals.openDialog, -1);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

int Answer(HWND, LPCWSTR text, LPCWSTR caption, UINT type, void *) {
  gBoxes.push_back({text ? text : u"", caption ? caption : u"", type});
  if (gAnswers.empty())
    return IDOK;
  int answer = gAnswers.front();
  gAnswers.pop_front();
  return answer;
}

} // namespace

bool DriveDialog(const std::function<void()> &open, const std::function<void(HWND)> &script) {
  static bool registered = [] {
    WNDCLASSW cls = {};
    cls.lpfnWndProc = DriverProc;
    cls.lpszClassName = u"DialogDriver";
    return RegisterClassW(&cls) != 0;
  }();
  (void)registered;
  HWND driver = CreateWindowExW(0, u"DialogDriver", u"", 0, 0, 0, 10, 10, nullptr, nullptr,
                                nullptr, nullptr);
  gScript = script;
  gTimedOut = false;
  PostMessageW(driver, kRunScript, 0, 0);
  SetTimer(driver, kWatchdog, 5000, nullptr);
  open();
  DestroyWindow(driver);
  gScript = nullptr;
  return !gTimedOut;
}

void ScriptMessageBoxes(std::vector<int> answers) {
  gAnswers.assign(answers.begin(), answers.end());
  gBoxes.clear();
  SetMessageBoxPresenter(Answer, nullptr);
}

std::vector<ShownBox> &ShownBoxes() { return gBoxes; }

void StopScriptingMessageBoxes() { SetMessageBoxPresenter(nullptr, nullptr); }

void PickComboEntry(HWND dialog, int id, int index) {
  HWND combo = GetDlgItem(dialog, id);
  SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageW(dialog, WM_COMMAND, static_cast<WPARAM>((CBN_SELENDOK << 16) | id),
               reinterpret_cast<LPARAM>(combo));
}

HWND MakeMainWindowStandIn() {
  HWND main = MakeTestWindow([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return -2; }, 240, 320);
  AppGlobals.mainWindow = main;
  return main;
}
