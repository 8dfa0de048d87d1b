#include "dialogs/battery_dialog.h"

#include "common/globals.h"
#include "common/ui_strings.h"
#include "dialogs/dialog_template.h"
#include "platform/gdi.h"
#include "platform/shell.h"
#include "resources/resource_ids.h"

namespace {


void PaintBattery(HWND dialog) {
  float thresholds[5];
  for (int i = 0; i < 5; ++i)
    thresholds[i] = AppGlobals.batteryThreshold[i];
  const float level = AppGlobals.batteryLevel;
  const int percent = BatteryChargePercent(level, thresholds);
  const bool normal = BatteryChargeNormal(level, thresholds);

  PAINTSTRUCT ps;
  HDC dc = BeginPaint(dialog, &ps);
  RECT client = {};
  GetClientRect(dialog, &client);
  const int w = client.right;
  const int h = client.bottom;
  const int q = h / 4;
  // The page, the gauge's outline and its text follow the desktop's theme;
  // a low charge stays red in every theme.
  FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));

  HPEN pen = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_WINDOWTEXT));
  HGDIOBJ oldPen = SelectObject(dc, pen);
  Rectangle(dc, 5, q - 5, w - 5, q + 25);

  // The step is a whole number of pixels per percent, so a narrow window
  // (110 pixels or less) shows no bar at all.
  RECT bar = {10, q, 10 + ((w - 10) / 100) * percent, q + 20};
  HBRUSH brush = CreateSolidBrush(normal ? GetSysColor(COLOR_HIGHLIGHT) : RGB(255, 0, 0));
  FillRect(dc, &bar, brush);
  DeleteObject(brush);

  RECT status = {5, q + 30, w - 5, h};
  DrawTextW(dc, UiString(normal ? kUiBatteryFine : kUiBatteryLow), -1, &status, DT_WORDBREAK);

  RECT measure = {5, 0, w - 5, h};
  DrawTextW(dc, UiString(kUiBatteryExplanation), -1, &measure, DT_CALCRECT | DT_WORDBREAK);
  const int noteHeight = measure.bottom - measure.top;
  RECT note = {5, h - noteHeight - 20, w - 5, h};
  DrawTextW(dc, UiString(kUiBatteryExplanation), -1, &note, DT_WORDBREAK);

  SelectObject(dc, oldPen);
  DeleteObject(pen);
  EndPaint(dialog, &ps);
}

} // namespace

int BatteryChargePercent(float level, const float thresholds[5]) {
  const float full = thresholds[0];
  const float empty = thresholds[4];
  float l = level;
  if (l < empty)
    l = empty;
  const float a = l - empty;
  const float b = full - empty;
  const float c = b * 0.01f;
  float p;
  if (c == 0.0f)
    p = a > 0.0f ? 100.0f : 0.0f; // full and empty at one level: no scale to divide by
  else
    p = a / c;
  if (p >= 100.0f)
    p = 99.0f;
  // Thresholds given the wrong way round would make p negative: an empty
  // bar rather than one drawn leftwards.
  if (!(p > 0.0f))
    return 0;
  return static_cast<int>(p);
}

bool BatteryChargeNormal(float level, const float thresholds[5]) {
  for (int i = 0; i < 4; ++i)
    if (level >= thresholds[i])
      return true;
  return false;
}

INT_PTR BatteryDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
  case WM_INITDIALOG: {
    InitDialogPage(dialog, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN, kMenuBarDone);
    AppGlobals.openDialog = dialog;
    return TRUE;
  }
  case WM_COMMAND:
    // Command 1 is also what a lost link sends to the open dialog; closing
    // the window is Done as well.
    if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == kCommandPageDone) {
      EndDialog(dialog, 0);
      return TRUE;
    }
    return FALSE;
  case WM_PAINT:
    PaintBattery(dialog);
    return 0;
  default:
    // The dialog class hands what is not handled here to DefWindowProcW.
    return FALSE;
  }
}

void OpenBatteryDialog(HWND owner) { RunDialogTemplate(kDialogBattery, owner, BatteryDialogProc); }
