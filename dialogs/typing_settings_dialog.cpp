#include "dialogs/typing_settings_dialog.h"

#include "common/globals.h"
#include "common/messages.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "dialogs/dialog_template.h"
#include "platform/controls.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/threads.h"
#include "resources/resource_ids.h"

namespace {

// Room for a list text; a longer text cannot be one of the labels, which
// hold at most 9 characters.
constexpr int kListTextUnits = 100;

// One of the three lists: its controls on each platform, its option table,
// the stored value and the message that makes the link send it.
struct SettingList {
  int comboId;     // Pocket PC combo box
  int listBoxId;   // Smartphone list box
  SettingChoice *choices;
  int count;       // entries in the table, entry 0 ("None") included
  LPCWSTR valueName;
  UINT linkMessage;
  int32_t *opening;
};

SettingList kLists[] = {
    {1013, 1003, AppGlobals.SensitivityChoices, 5, u"SensitivityValue", WM_SET_SENSITIVITY,
     &AppGlobals.openingSensitivity},
    {1014, 1006, AppGlobals.RepeatRateChoices, 4, u"KeyRepeatRateValue", WM_SET_KEY_REPEAT_RATE,
     &AppGlobals.openingRepeatRate},
    {1015, 1009, AppGlobals.RepeatDelayChoices, 4, u"KeyRepeatDelayValue",
     WM_SET_KEY_REPEAT_DELAY, &AppGlobals.openingRepeatDelay},
};

// The link reads the value back from the store, so it is written first.
void StoreAndSend(const SettingList &list, int32_t value) {
  SettingsStore::WriteDword(list.valueName, value);
  PostMessageW(AppGlobals.typingWnd, list.linkMessage, 0, 0);
}

void FillList(HWND dialog, SettingList &list) {
  const bool phone = AppGlobals.isSmartphone == 1;
  const int id = phone ? list.listBoxId : list.comboId;
  const UINT add = phone ? LB_ADDSTRING : CB_ADDSTRING;
  const UINT find = phone ? LB_FINDSTRINGEXACT : CB_FINDSTRINGEXACT;
  const UINT select = phone ? LB_SETCURSEL : CB_SETCURSEL;
  // Entry 0 is only the default value, never a choice.
  for (int i = 1; i < list.count; ++i)
    SendDlgItemMessageW(dialog, id, add, 0, reinterpret_cast<LPARAM>(list.choices[i].label));
  // The layout's default, as every reader of these values uses.
  *list.opening = SettingsStore::ReadDword(list.valueName, list.choices[0].value);
  for (int i = 1; i < list.count; ++i) {
    if (list.choices[i].value == *list.opening) {
      // The whole label: a prefix search would take "Low" for "Lowest".
      const LRESULT index = SendDlgItemMessageW(dialog, id, find, static_cast<WPARAM>(-1),
                                                reinterpret_cast<LPARAM>(list.choices[i].label));
      if (index >= 0)
        SendDlgItemMessageW(dialog, id, select, static_cast<WPARAM>(index), 0);
      break;
    }
  }
}

void OnInitDialog(HWND dialog) {
  InitDialogPage(dialog, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN, kMenuBarDone);
  for (int i = 0; i < 3; ++i)
    FillList(dialog, kLists[i]);
  AppGlobals.openDialog = dialog;
}

// Reads the chosen text of a list into text (kListTextUnits units). False
// when nothing is selected, the control is absent or the text is too long.
bool ReadChosenText(HWND control, bool listBox, WCHAR *text) {
  if (control == nullptr)
    return false;
  const LRESULT index = SendMessageW(control, listBox ? LB_GETCURSEL : CB_GETCURSEL, 0, 0);
  if (index < 0)
    return false;
  const LRESULT length = SendMessageW(control, listBox ? LB_GETTEXTLEN : CB_GETLBTEXTLEN,
                                      static_cast<WPARAM>(index), 0);
  if (length < 0 || length >= kListTextUnits)
    return false;
  text[0] = 0;
  SendMessageW(control, listBox ? LB_GETTEXT : CB_GETLBTEXT, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(text));
  text[kListTextUnits - 1] = 0;
  return true;
}

void OnListCommand(HWND dialog, int id, int code) {
  const bool phone = AppGlobals.isSmartphone == 1;
  for (SettingList &list : kLists) {
    if (id != list.comboId && id != list.listBoxId)
      continue;
    bool listBox;
    if (code == LBN_SELCHANGE && phone && id == list.listBoxId)
      listBox = true;
    else if (code == CBN_SELENDOK && !phone && id == list.comboId)
      listBox = false;
    else
      return;
    WCHAR text[kListTextUnits];
    if (!ReadChosenText(GetDlgItem(dialog, id), listBox, text))
      return;
    for (int i = 1; i < list.count; ++i) {
      if (wcscmp(text, list.choices[i].label) == 0) {
        StoreAndSend(list, list.choices[i].value);
        AppGlobals.settingsChanged = 1;
        return;
      }
    }
    return;
  }
}

void OnDone(HWND dialog) {
  if (AppGlobals.settingsChanged == 1) {
    AppGlobals.settingsChanged = 0;
    const int answer =
        AskWithVerbsW(dialog, UiString(kUiAskKeepTypingSettings), UiString(kUiTypingSettingsTitle),
                      MB_ICONQUESTION, UiString(kUiVerbKeep), UiString(kUiVerbDiscard));
    if (answer != IDYES) {
      // Every value goes back and is sent again, changed or not. The link
      // controller sends the three requests 200 ms apart, so the keyboard
      // has its pauses between the packets without this thread waiting.
      for (SettingList &list : kLists)
        StoreAndSend(list, *list.opening);
    }
  }
  EndDialog(dialog, 0);
}

} // namespace

INT_PTR TypingSettingsDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
  case WM_INITDIALOG:
    OnInitDialog(dialog);
    return TRUE;
  case WM_PAINT:
    return FALSE;
  case WM_COMMAND: {
    const int id = LOWORD(wParam);
    // A person closing the window (its close button, Escape) means Done.
    if (id == kCommandPageDone || id == IDCANCEL) {
      OnDone(dialog);
      return TRUE;
    }
    // Command 1 (also what a lost link sends) is left alone: only the
    // person closes this dialog.
    OnListCommand(dialog, id, HIWORD(wParam));
    return FALSE;
  }
  default:
    // The dialog class hands what is not handled here to DefWindowProcW.
    return FALSE;
  }
}

void OpenTypingSettingsDialog(HWND owner) {
  const WORD id = AppGlobals.isSmartphone == 1 ? kDialogTypingSettingsSmartphone
                                               : kDialogTypingSettings;
  RunDialogTemplate(id, owner, TypingSettingsDialogProc);
}
