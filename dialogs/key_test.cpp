#include "dialogs/key_test.h"

#include "common/globals.h"
#include "common/messages.h"
#include "dialogs/dialog_template.h"
#include "platform/files.h"
#include "platform/gdi.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/threads.h"
#include "platform/trace.h"
#include "resources/resource_ids.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr size_t kNameChars = sizeof(KeyTestEntry::name) - 1;

void PaintKeyTest(HWND dialog) {
  WCHAR text[128];
  // The list is done once the position has reached the last entry; with no
  // entry at all (keyTestLast -1) it is done at once.
  if (AppGlobals.keyTestPosition >= AppGlobals.keyTestLast) {
    AppGlobals.keyTestCharPending = 0;
    WStrCopyN(text, 128, u"Test completed, Press Done to continue.");
    AppGlobals.keyTestCompleted = 1;
  } else {
    if (AppGlobals.keyTestCharPending == 1) {
      AppGlobals.keyTestCharPending = 0;
      if (AppGlobals.keyTestChar == AppGlobals.keyTestEntries[AppGlobals.keyTestPosition].code)
        AppGlobals.keyTestPosition = static_cast<int8_t>(AppGlobals.keyTestPosition + 1);
      else
        MessageBoxW(dialog, u"Incorrect character pressed, try again", u"Vantrel", MB_OK);
    }
    WCHAR name[kNameChars + 1];
    mbstowcs(name, AppGlobals.keyTestEntries[AppGlobals.keyTestPosition].name, kNameChars);
    name[kNameChars] = 0;
    wnsprintfW(text, 128, u"Please press the %s key", name);
  }

  PAINTSTRUCT ps;
  HDC dc = BeginPaint(dialog, &ps);
  RECT client = {};
  GetClientRect(dialog, &client);
  FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  client.top = client.bottom / 2;
  DrawTextW(dc, text, -1, &client, DT_CENTER | DT_WORDBREAK);
  EndPaint(dialog, &ps);
}

} // namespace

void runKeyTest(HWND owner) {
  if (!loadKeyTestList()) {
    MessageBoxW(AppGlobals.mainWindow, u"Failed to open keycode.txt", u"Mirvok", MB_OK);
    return;
  }
  RunDialogTemplate(kDialogBattery, owner, KeyTestDialogProc);
}

INT_PTR KeyTestDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
  case WM_INITDIALOG: {
    InitDialogPage(dialog, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN, kMenuBarDone);
    AppGlobals.openDialog = dialog;
    return TRUE;
  }
  case WM_PAINT:
    PaintKeyTest(dialog);
    return FALSE;
  case WM_COMMAND:
    // Closing the window (IDCANCEL) is Done, with the same question.
    if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == kCommandPageDone) {
      if (AppGlobals.keyTestCompleted == 0 &&
          MessageBoxW(dialog, u"Test not completed. Do you want to quit.", u"Vantrel",
                      MB_YESNO) == IDNO)
        return FALSE;
      EndDialog(dialog, 0);
      return TRUE;
    }
    return FALSE;
  case WM_KEY_TEST_CHAR:
    NKDbgPrintfW(u"test char = %d\r\n", static_cast<int>(lParam));
    AppGlobals.keyTestChar = static_cast<uint8_t>(lParam & 0xFF);
    AppGlobals.keyTestCharPending = 1;
    InvalidateRect(dialog, nullptr, TRUE);
    UpdateWindow(dialog);
    return FALSE;
  default:
    // The dialog class hands what is not handled here to DefWindowProcW.
    return FALSE;
  }
}
