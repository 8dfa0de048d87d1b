#include "keys/keycode_table.h"

#include "common/globals.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "keys/data_tokens.h"
#include "platform/win32.h"

namespace {

// Token positions after the key grid (token indices 3840 onwards).
constexpr int kIgnoredBetweenSections = 2;

// Walks the layout file's tokens as numbers; once the data has ended every
// token reads 0.
class LayoutTokens {
public:
  LayoutTokens(const char *text, size_t len) : tokens_(text, len) {}

  int32_t next() {
    const char *start = nullptr;
    const char *stop = nullptr;
    return tokens_.next(&start, &stop) ? DataTokens::number(start, stop) : 0;
  }

  void skip(int count) {
    const char *start = nullptr;
    const char *stop = nullptr;
    for (int i = 0; i < count; ++i)
      tokens_.next(&start, &stop);
  }

private:
  DataTokens tokens_;
};

// A label holds 9 units and the terminator; a longer UI string is cut there.
void setLabel(SettingChoice &choice, const WCHAR *text) {
  WStrCopyN(choice.label, sizeof(choice.label) / sizeof(choice.label[0]), text);
}

// The UI strings that label entries 1.. of each option list.
const int kSensitivityLabels[] = {kUiLevelLowest, kUiLevelLow, kUiLevelMedium, kUiLevelHigh};
const int kRepeatRateLabels[] = {kUiLevelSlow, kUiLevelMedium, kUiLevelFast};
const int kRepeatDelayLabels[] = {kUiLevelShort, kUiLevelMedium, kUiLevelLong};

// Entry 0 is labelled "None", the others take the given UI strings.
void labelChoices(SettingChoice *choices, int count, const int *uiStrings) {
  setLabel(choices[0], u"None");
  for (int i = 1; i < count; ++i) {
    setLabel(choices[i], UiString(uiStrings[i - 1]));
  }
}

// Reads count option values and labels them. The SettingsStore read creates
// a missing value with entry 0's value as its default; what it returns is
// not needed here.
void readChoices(LayoutTokens &tokens, SettingChoice *choices, int count, const int *uiStrings,
                 const WCHAR *settingName) {
  for (int i = 0; i < count; ++i) {
    choices[i].value = tokens.next();
  }
  labelChoices(choices, count, uiStrings);
  SettingsStore::ReadDword(settingName, choices[0].value);
}

bool isUnsetLayoutName(const WCHAR *name) { return name[0] == 0 || wcscmp(name, u"None") == 0; }

} // namespace

void parseKeycodeText(const char *text, size_t len) {
  LayoutTokens tokens(text, len);
  for (int row = 0; row < kScancodeCount; ++row) {
    for (int column = 0; column < kLayoutColumns; ++column) {
      AppGlobals.KeycodeTable[row][column] = tokens.next();
    }
  }

  tokens.skip(1);
  tokens.next(); // a keyboard number that nothing uses
  for (float &threshold : AppGlobals.batteryThreshold) {
    threshold = static_cast<float>(tokens.next());
  }

  tokens.skip(kIgnoredBetweenSections);
  readChoices(tokens, AppGlobals.SensitivityChoices, 5, kSensitivityLabels, u"SensitivityValue");
  tokens.skip(kIgnoredBetweenSections);
  readChoices(tokens, AppGlobals.RepeatRateChoices, 4, kRepeatRateLabels, u"KeyRepeatRateValue");
  tokens.skip(kIgnoredBetweenSections);
  readChoices(tokens, AppGlobals.RepeatDelayChoices, 4, kRepeatDelayLabels,
              u"KeyRepeatDelayValue");
  // The character-list section that may follow is not used.
}

void labelSettingChoices() {
  labelChoices(AppGlobals.SensitivityChoices, 5, kSensitivityLabels);
  labelChoices(AppGlobals.RepeatRateChoices, 4, kRepeatRateLabels);
  labelChoices(AppGlobals.RepeatDelayChoices, 4, kRepeatDelayLabels);
}

bool loadKeycodeFile(AskForLayoutFn askForLayout) {
  if (SettingsStore::ReadNumber(Settings::kInitialised) != 1) {
    AppGlobals.selectionMode = 0;
    if (askForLayout)
      askForLayout(AppGlobals.mainWindow);
    SettingsStore::WriteDword(u"Initialised", 1);
  }

  WCHAR name[kSettingTextUnits];
  SettingsStore::ReadString(u"keycode", name);
  if (isUnsetLayoutName(name) && askForLayout) {
    askForLayout(AppGlobals.mainWindow);
    SettingsStore::ReadString(u"keycode", name);
  }

  // Room for any InstallDir and any stored name, so that the message can show
  // the whole path even when it is too long to be opened.
  WCHAR path[MAX_PATH + kSettingTextUnits];
  WStrCopyN(path, MAX_PATH, AppGlobals.InstallDir);
  const size_t dirLength = wcslen(path);
  WStrCopyN(path + dirLength, sizeof(path) / sizeof(path[0]) - dirLength, name);

  // A name or path beyond the layout file limits is refused rather than cut:
  // a cut name could open some other file.
  HANDLE file = INVALID_HANDLE_VALUE;
  if (wcslen(name) <= kLayoutNameMaxChars && wcslen(path) <= kLayoutPathMaxChars) {
    file = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
  }
  if (file == INVALID_HANDLE_VALUE) {
    MessageBoxW(AppGlobals.mainWindow, path, UiText(kUiLayoutFileFailed, u"Failed to open"), MB_OK);
    return false;
  }

  char data[kLayoutFileReadLimit];
  DWORD total = 0;
  while (total < kLayoutFileReadLimit) {
    DWORD got = 0;
    if (!ReadFile(file, data + total, static_cast<DWORD>(kLayoutFileReadLimit - total), &got,
                  nullptr) ||
        got == 0) {
      break;
    }
    total += got;
  }
  CloseHandle(file);

  parseKeycodeText(data, total);
  return true;
}

int32_t lookupVirtualKey(int scancode, int column) {
  int32_t code = 0;
  if (scancode >= 0 && scancode < kScancodeCount && column >= 0 && column < kLayoutColumns) {
    code = AppGlobals.KeycodeTable[scancode][column];
  }
  NKDbgPrintfW(u"scancode = %d virtualKey = %d\r\n", scancode, code);
  return code;
}
