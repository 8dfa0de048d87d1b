#include "keys/key_test.h"

#include "app/globals.h"
#include "app/main_window.h"
#include "dialogs/dialog_template.h"
#include "keys/data_tokens.h"
#include "link/messages.h"
#include "platform/gdi.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/threads.h"
#include "platform/trace.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kDoneCommand = 40004;
constexpr size_t kNameChars = sizeof(KeyTestEntry::name) - 1;

// Copies a token into a name field; a longer name is cut to fit.
void CopyName(char *name, const char *start, const char *stop) {
  size_t n = static_cast<size_t>(stop - start);
  if (n > kNameChars)
    n = kNameChars;
  std::memcpy(name, start, n);
  name[n] = 0;
}

void Paint(HWND dialog) {
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

int parseKeyTestText(const char *text, size_t len) {
  DataTokens tokens(text, len);
  const char *start = nullptr;
  const char *stop = nullptr;
  int count = 0;
  bool more = tokens.next(&start, &stop);
  for (int record = 0; more && record < kKeyTestMaxRecords; ++record) {
    if (count == kKeyTestEntryCount) {
      // The table is full: later records are left out rather than written
      // past its end.
      NKDbgPrintfW(u"testmode.txt: only the first %d keys are used\r\n", kKeyTestEntryCount);
      break;
    }
    KeyTestEntry &entry = AppGlobals.keyTestEntries[count];
    CopyName(entry.name, start, stop);
    if (!tokens.next(&start, &stop))
      break; // a name without its code is not counted
    entry.code = static_cast<uint8_t>(DataTokens::number(start, stop));
    ++count;
    if (!tokens.next(&start, &stop))
      break;
    more = tokens.next(&start, &stop);
  }
  AppGlobals.keyTestLast = static_cast<int8_t>(count - 1);
  return count;
}

void runKeyTest(HWND owner) {
  WCHAR path[MAX_PATH + 16];
  wnsprintfW(path, MAX_PATH + 16, u"%stestmode.txt", AppGlobals.InstallDir);
  HANDLE file = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    MessageBoxW(AppGlobals.mainWindow, u"Failed to open keycode.txt", u"Mirvok", MB_OK);
    return;
  }
  char data[kKeyTestFileReadLimit];
  DWORD read = 0;
  if (!ReadFile(file, data, sizeof data, &read, nullptr))
    read = 0;
  CloseHandle(file);
  if (read > sizeof data)
    read = sizeof data;
  parseKeyTestText(data, read);
  RunDialogTemplate(132, owner, KeyTestDialogProc);
}

INT_PTR KeyTestDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
  case WM_INITDIALOG: {
    InitDialogPage(dialog, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN, 201);
    AppGlobals.openDialog = dialog;
    return TRUE;
  }
  case WM_PAINT:
    Paint(dialog);
    return FALSE;
  case WM_COMMAND:
    if (LOWORD(wParam) == IDOK || LOWORD(wParam) == kDoneCommand) {
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
