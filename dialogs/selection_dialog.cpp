// The language and layout selection dialog: scans InstallDir for ".lang" and
// ".kcod" files, offers one radio button per name (one list box on a
// Smartphone), and stores the choice on Done.
#include "dialogs/selection_dialog.h"

#include "common/globals.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "dialogs/dialog_template.h"
#include "platform/controls.h"
#include "platform/resource_formats.h"
#include "platform/files.h"
#include "platform/gdi.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/threads.h"
#include "platform/trace.h"
#include "resources/resource_ids.h"

namespace {

// The longest text the settings store reads back is 499 characters, so a
// list never grows beyond that.
constexpr size_t kListUnits = 500;
// A name with ".kcod" or ".lang" appended.
constexpr size_t kNameUnits = MAX_PATH + 6;

// Cuts text at its first ".".
void CutAtFirstDot(WCHAR *text) {
  for (WCHAR *p = text; *p; ++p) {
    if (*p == u'.') {
      *p = 0;
      return;
    }
  }
}

// Appends name and "," to list unless the list would outgrow what the
// settings store reads back; an empty name (a file called ".lang") would be
// an entry naming no file, so it is left out too.
void AppendName(WCHAR *list, const WCHAR *name) {
  const size_t used = wcslen(list);
  const size_t add = wcslen(name);
  if (add == 0 || used + add + 1 > kListUnits - 1)
    return;
  wcscat(list, name);
  wcscat(list, u",");
}

HWND *CurrentButtons() {
  return AppGlobals.selectionMode == 1 ? AppGlobals.languageButtons : AppGlobals.layoutButtons;
}

LPCWSTR CurrentValueName() { return AppGlobals.selectionMode == 1 ? u"language" : u"keycode"; }

// The stored choice of the current mode without its extension; empty when
// nothing is stored (the store then reads "None", which must match no file).
void ReadCurrentName(WCHAR *name) {
  if (!SettingsStore::ReadString(CurrentValueName(), name))
    name[0] = 0;
  CutAtFirstDot(name);
}

// Splits a stored list at "," into at most kSelectionMaxButtons names; empty
// entries are skipped. Returns the number of names.
int SplitList(WCHAR *list, WCHAR *names[kSelectionMaxButtons]) {
  int count = 0;
  WCHAR *start = list;
  for (WCHAR *p = list;; ++p) {
    const bool end = *p == 0;
    if (*p == u',' || end) {
      *p = 0;
      if (*start && count < kSelectionMaxButtons)
        names[count++] = start;
      start = p + 1;
    }
    if (end)
      break;
  }
  return count;
}

// OK stores the choice (the Done command), Cancel keeps the stored one.
void InitMenuBar(HWND dialog) {
  InitDialogPage(dialog, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN, kMenuBarOkCancel);
}

void InitPocketPc(HWND dialog) {
  RECT client = {};
  GetClientRect(dialog, &client);
  const int width = client.right - client.left;
  const int row = (client.bottom - client.top) / 8;
  InitMenuBar(dialog);
  // One template serves both modes: the caption says which list it is.
  SetWindowTextW(dialog, ResourceText(AppGlobals.selectionMode == 1 ? u"Language"
                                                                    : u"Keyboard Layout"));

  WCHAR current[kSettingTextUnits];
  ReadCurrentName(current);
  ScanLanguageAndLayoutFiles();

  WCHAR list[kSettingTextUnits];
  SettingsStore::ReadString(AppGlobals.selectionMode == 1 ? u"Languages" : u"Layouts", list);
  WCHAR *names[kSelectionMaxButtons] = {};
  const int count = SplitList(list, names);

  // Slots beyond this opening's buttons are emptied, so that no handle of an
  // earlier opening is taken for a button.
  HWND *buttons = CurrentButtons();
  for (int i = 0; i < kSelectionMaxButtons; ++i)
    buttons[i] = nullptr;
  AppGlobals.selectedIndex = 0;
  for (int i = 0; i < count; ++i) {
    buttons[i] = CreateWindowExW(
        0, u"BUTTON", names[i], WS_CHILD | WS_VISIBLE | BS_RADIOBUTTON, 10, row * (i + 2),
        width - 10, row - 5, dialog,
        reinterpret_cast<HMENU>(static_cast<intptr_t>(kSelectionFirstButton + i)),
        AppGlobals.hInstance, nullptr);
    if (wcscmp(names[i], current) == 0) {
      SendMessageW(buttons[i], BM_SETCHECK, BST_CHECKED, 0);
      AppGlobals.selectedIndex = i;
    }
  }
}

// Fills a list box of the Smartphone template with the names of the stored
// list listName and selects the one valueName holds now.
void FillSmartphoneList(HWND dialog, int id, LPCWSTR listName, LPCWSTR valueName) {
  WCHAR current[kSettingTextUnits];
  if (!SettingsStore::ReadString(valueName, current))
    current[0] = 0;
  CutAtFirstDot(current);
  WCHAR list[kSettingTextUnits];
  SettingsStore::ReadString(listName, list);
  WCHAR *names[kSelectionMaxButtons] = {};
  const int count = SplitList(list, names);
  HWND box = GetDlgItem(dialog, id);
  for (int i = 0; i < count; ++i) {
    const LRESULT index = SendMessageW(box, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(names[i]));
    // Selected by its place: a search by text would take "US" for an
    // earlier "US Intl".
    if (wcscmp(names[i], current) == 0 && index >= 0)
      SendMessageW(box, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }
}

// The Smartphone template holds both lists, whichever the mode: the layouts
// above, the installed languages below.
void InitSmartphone(HWND dialog) {
  InitMenuBar(dialog);
  if (SettingsStore::ReadNumber(Settings::kInitialised) != 1)
    ScanLanguageAndLayoutFiles();
  FillSmartphoneList(dialog, kSelectionLayoutList, u"Layouts", u"keycode");
  FillSmartphoneList(dialog, kSelectionLanguageList, u"Languages", u"language");
}

void Paint(HWND dialog) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(dialog, &ps);
  RECT client = {};
  GetClientRect(dialog, &client);
  DrawTextW(dc,
            AppGlobals.selectionMode == 1
                ? UiText(kUiChooseLanguage, u"Please select your language")
                : UiText(kUiChooseLayout, u"Please select your keyboard layout"),
            -1, &client, DT_CENTER | DT_WORDBREAK);
  EndPaint(dialog, &ps);
}

void Click(int index) {
  HWND *buttons = CurrentButtons();
  // Only this opening's buttons can be chosen.
  if (buttons[index] == nullptr)
    return;
  for (int i = 0; i < kSelectionMaxButtons; ++i)
    SendMessageW(buttons[i], BM_SETCHECK, BST_UNCHECKED, 0);
  SendMessageW(buttons[index], BM_SETCHECK, BST_CHECKED, 0);
  AppGlobals.selectedIndex = index;
}

// Stores name + extension as value; an empty name (no entry to choose) is
// not stored.
void StoreChoice(LPCWSTR value, WCHAR *name, LPCWSTR extension) {
  if (name[0] == 0)
    return;
  wcscat(name, extension);
  SettingsStore::WriteString(value, name);
}

// The selected entry of a list box of the Smartphone template into name
// (empty when nothing usable is selected).
void ListSelection(HWND dialog, int id, WCHAR *name) {
  name[0] = 0;
  const LRESULT index = SendDlgItemMessageW(dialog, id, LB_GETCURSEL, 0, 0);
  if (index < 0 || index > 10)
    return;
  const LRESULT length = SendDlgItemMessageW(dialog, id, LB_GETTEXTLEN, index, 0);
  if (length <= 0 || length > MAX_PATH - 1)
    return;
  SendDlgItemMessageW(dialog, id, LB_GETTEXT, index, reinterpret_cast<LPARAM>(name));
}

void Done(HWND dialog) {
  WCHAR name[kNameUnits] = {};
  if (AppGlobals.isSmartphone) {
    ListSelection(dialog, kSelectionLayoutList, name);
    StoreChoice(u"keycode", name, u".kcod");
    ListSelection(dialog, kSelectionLanguageList, name);
    StoreChoice(u"language", name, u".lang");
  } else {
    const int index = AppGlobals.selectedIndex;
    HWND button = index >= 0 && index < kSelectionMaxButtons ? CurrentButtons()[index] : nullptr;
    // The whole name, so that the stored file name is the file's own.
    if (button)
      GetWindowTextW(button, name, MAX_PATH);
    if (AppGlobals.selectionMode == 1)
      StoreChoice(u"language", name, u".lang");
    else
      StoreChoice(u"keycode", name, u".kcod");
  }
  EndDialog(dialog, 0);
}

} // namespace

void ScanLanguageAndLayoutFiles() {
  WCHAR languages[kListUnits] = {};
  WCHAR layouts[kListUnits] = {};
  WCHAR pattern[MAX_PATH + 2];
  const size_t dirLength = wcslen(AppGlobals.InstallDir);
  const bool slash = dirLength > 0 && AppGlobals.InstallDir[dirLength - 1] == u'\\';
  wnsprintfW(pattern, MAX_PATH + 2, slash ? u"%s*" : u"%s\\*", AppGlobals.InstallDir);

  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern, &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      // A folder is no language or layout file, whatever its name.
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        continue;
      WCHAR name[MAX_PATH];
      WStrCopyN(name, MAX_PATH, found.cFileName);
      if (wcsstr(name, u".lang")) {
        NKDbgPrintfW(u"language file found %s\r\n", name);
        CutAtFirstDot(name);
        AppendName(languages, name);
      }
      if (wcsstr(name, u".kcod")) {
        NKDbgPrintfW(u"keycode file found %s\r\n", name);
        CutAtFirstDot(name);
        AppendName(layouts, name);
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  SettingsStore::WriteString(u"Languages", languages);
  SettingsStore::WriteString(u"Layouts", layouts);
}

INT_PTR SelectionDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
  case WM_INITDIALOG:
    if (AppGlobals.isSmartphone)
      InitSmartphone(dialog);
    else
      InitPocketPc(dialog);
    AppGlobals.openDialog = dialog;
    return TRUE;
  case WM_PAINT:
    if (AppGlobals.isSmartphone)
      return FALSE;
    Paint(dialog);
    return 0;
  case WM_COMMAND: {
    const int id = LOWORD(wParam);
    if (id >= kSelectionFirstButton && id < kSelectionFirstButton + kSelectionMaxButtons) {
      Click(id - kSelectionFirstButton);
      return FALSE;
    }
    if (id == IDOK || id == kCommandPageDone) {
      Done(dialog);
      return TRUE;
    }
    // Closing the window without Done keeps the stored choice.
    if (id == IDCANCEL) {
      EndDialog(dialog, 0);
      return TRUE;
    }
    return FALSE;
  }
  default:
    return FALSE;
  }
}

void OpenSelectionDialog(HWND owner) {
  const WORD id = AppGlobals.isSmartphone ? kDialogSelectionSmartphone : kDialogSelection;
  RunDialogTemplate(id, owner, SelectionDialogProc);
}
