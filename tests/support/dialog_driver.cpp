#include "tests/support/dialog_driver.h"

#include "common/globals.h"
#include "platform/controls.h"
#include "tests/support/toolkit.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QWidget>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace testsupport {

namespace {

constexpr UINT kRunScript = WM_USER + 1;
constexpr UINT_PTR kWatchdog = 7;

struct Drive {
  const std::function<void(HWND)> *script;
  DialogDrive how;
  bool timedOut = false;
};

// The drives under way, by their helper window (nested drives have one each).
std::map<HWND, Drive *> gDrives;

// With VANTREL_DIALOG_SHOTS=DIR, every driven dialog is saved as a picture
// there as it first shows (NN-Title.png), so a person can look at each
// dialog the tests open without clicking through the program.
void SaveShot(HWND dialog) {
  static int taken = 0;
  const char *dir = std::getenv("VANTREL_DIALOG_SHOTS");
  QWidget *widget = dir && *dir && IsWindow(dialog) ? ClientWidget(dialog) : nullptr;
  if (!widget)
    return;
  Spin(150); // the first paint
  WCHAR title[64] = {};
  GetWindowTextW(dialog, title, 64);
  std::string name;
  for (const WCHAR *c = title; *c; ++c)
    name += (*c < 128 && std::isalnum(static_cast<int>(*c))) ? static_cast<char>(*c) : '_';
  char prefix[16];
  snprintf(prefix, sizeof prefix, "%02d-", ++taken);
  widget->window()->grab().toImage().save(QString::fromStdString(std::string(dir) + "/" + prefix + name + ".png"));
}

LRESULT DriverProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto it = gDrives.find(hwnd);
  if (it == gDrives.end())
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  Drive &drive = *it->second;
  if (msg == kRunScript) {
    HWND dialog = AppGlobals.openDialog.load();
    if (drive.how.settleMs > 0)
      Spin(drive.how.settleMs);
    SaveShot(dialog);
    if (*drive.script)
      (*drive.script)(dialog);
    if (drive.how.closeAfterScript && IsWindow(dialog) && IsWindowVisible(dialog))
      SendMessageW(dialog, WM_COMMAND, IDOK, 0);
    return 0;
  }
  if (msg == WM_TIMER && wParam == kWatchdog) {
    KillTimer(hwnd, kWatchdog);
    drive.timedOut = true;
    EndDialog(AppGlobals.openDialog.load(), -1);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

} // namespace

bool DriveDialog(const std::function<void()> &open, const std::function<void(HWND)> &script,
                 DialogDrive how) {
  static const bool registered = [] {
    WNDCLASSW cls = {};
    cls.lpfnWndProc = DriverProc;
    cls.lpszClassName = u"DialogDriver";
    return RegisterClassW(&cls) != 0;
  }();
  (void)registered;
  Drive drive{&script, how};
  HWND helper =
      CreateWindowExW(0, u"DialogDriver", u"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  gDrives[helper] = &drive;
  PostMessageW(helper, kRunScript, 0, 0);
  SetTimer(helper, kWatchdog, static_cast<UINT>(how.watchdogMs), nullptr);
  open();
  KillTimer(helper, kWatchdog);
  gDrives.erase(helper);
  DestroyWindow(helper);
  return !drive.timedOut;
}

void PickComboEntry(HWND dialog, int id, int index) {
  HWND combo = GetDlgItem(dialog, id);
  SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageW(dialog, WM_COMMAND, static_cast<WPARAM>((CBN_SELENDOK << 16) | id),
               reinterpret_cast<LPARAM>(combo));
}

void CloseDialogWindow(HWND dialog) {
  if (QWidget *client = ClientWidget(dialog))
    client->window()->close();
}

void PressDialogKey(HWND dialog, int qtKey) {
  QWidget *client = ClientWidget(dialog);
  if (!client)
    return;
  QWidget *target = client->window()->focusWidget();
  if (!target)
    target = client->window();
  QKeyEvent press(QEvent::KeyPress, qtKey, Qt::NoModifier);
  QKeyEvent release(QEvent::KeyRelease, qtKey, Qt::NoModifier);
  QApplication::sendEvent(target, &press);
  QApplication::sendEvent(target, &release);
}

HWND MakeMainWindowStandIn() {
  HWND main = MakeTestWindow([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return -2; }, 240, 320);
  AppGlobals.mainWindow = main;
  return main;
}

} // namespace testsupport
