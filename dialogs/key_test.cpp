#include "dialogs/key_test.h"

#include "common/globals.h"
#include "common/messages.h"
#include "common/ui_strings.h"
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

// Once the position has reached the last entry the test is complete with
// the next character (that entry's character is not compared); with one
// entry or none (keyTestLast 0 or -1) it is complete from the start.
void SettleCompletion() {
  if (AppGlobals.keyTestPosition >= AppGlobals.keyTestLast)
    AppGlobals.keyTestCompleted = 1;
}

// True while the "Incorrect character" message is up: characters typed
// meanwhile are not compared, so that no second message stacks on it.
bool gTellingWrongKey = false;

// A typed character: compared with the entry asked for, which it passes or
// which is asked again after the message. Painting only shows the outcome.
void OnTestChar(HWND dialog, LPARAM lParam) {
  NKDbgPrintfW(u"test char = %d\r\n", static_cast<int>(lParam));
  if (gTellingWrongKey || AppGlobals.keyTestCompleted == 1)
    return;
  AppGlobals.keyTestChar = static_cast<uint8_t>(lParam & 0xFF);
  AppGlobals.keyTestCharPending = 1;
  const bool last = AppGlobals.keyTestPosition >= AppGlobals.keyTestLast;
  const bool right =
      !last && AppGlobals.keyTestChar == AppGlobals.keyTestEntries[AppGlobals.keyTestPosition].code;
  AppGlobals.keyTestCharPending = 0;
  if (last) {
    SettleCompletion();
  } else if (right) {
    AppGlobals.keyTestPosition = static_cast<int8_t>(AppGlobals.keyTestPosition + 1);
  } else {
    gTellingWrongKey = true;
    MessageBoxW(dialog, UiText(kUiKeyTestWrongKey, u"Incorrect character pressed, try again"),
                u"Vantrel", MB_OK);
    gTellingWrongKey = false;
  }
  InvalidateRect(dialog, nullptr, TRUE);
  UpdateWindow(dialog);
}

void PaintKeyTest(HWND dialog) {
  WCHAR text[128];
  if (AppGlobals.keyTestCompleted == 1) {
    WStrCopyN(text, 128, UiText(kUiKeyTestCompleted, u"Test completed, Press Done to continue."));
  } else {
    WCHAR name[kNameChars + 1];
    mbstowcs(name, AppGlobals.keyTestEntries[AppGlobals.keyTestPosition].name, kNameChars);
    name[kNameChars] = 0;
    wnsprintfW(text, 128, u"%s %s", UiText(kUiKeyTestPress, u"Please press this key:"), name);
  }

  PAINTSTRUCT ps;
  HDC dc = BeginPaint(dialog, &ps);
  RECT client = {};
  GetClientRect(dialog, &client);
  FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
  client.top = client.bottom / 2;
  DrawTextW(dc, text, -1, &client, DT_CENTER | DT_WORDBREAK);
  EndPaint(dialog, &ps);
}

// The test is closing: key translation types for the desktop again.
void ForgetKeyTest(HWND dialog) {
  HWND expected = dialog;
  AppGlobals.keyTestDialog.compare_exchange_strong(expected, nullptr);
}

} // namespace

void runKeyTest(HWND owner) {
  if (!loadKeyTestList()) {
    MessageBoxW(AppGlobals.mainWindow, UiText(kUiKeyTestNoList, u"Failed to open keycode.txt"),
                u"Mirvok", MB_OK);
    return;
  }
  RunDialogTemplate(kDialogKeyTest, owner, KeyTestDialogProc);
}

INT_PTR KeyTestDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
  case WM_INITDIALOG: {
    InitDialogPage(dialog, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN, kMenuBarDone);
    AppGlobals.openDialog = dialog;
    SettleCompletion();
    AppGlobals.keyTestDialog.store(dialog);
    return TRUE;
  }
  case WM_PAINT:
    PaintKeyTest(dialog);
    return FALSE;
  case WM_COMMAND:
    // Closing the window (IDCANCEL) is Done, with the same question.
    if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == kCommandPageDone) {
      if (AppGlobals.keyTestCompleted == 0 &&
          MessageBoxW(dialog,
                      UiText(kUiKeyTestAskQuit, u"Test not completed. Do you want to quit."),
                      u"Vantrel", MB_YESNO) == IDNO)
        return FALSE;
      ForgetKeyTest(dialog);
      EndDialog(dialog, 0);
      return TRUE;
    }
    return FALSE;
  case WM_KEY_TEST_CHAR:
    OnTestChar(dialog, lParam);
    return FALSE;
  case WM_DESTROY:
    ForgetKeyTest(dialog);
    return FALSE;
  default:
    // The dialog class hands what is not handled here to DefWindowProcW.
    return FALSE;
  }
}
