// The UI strings: the kUiStringCount texts of the language file.
//
// The file is read once, at most kLanguageFileReadLimit bytes. It is a run of
// fields split by runs of ';' and LF (leading ones skipped; CR belongs to its
// field). Field 2k is UI string k; the odd fields are the translators' notes
// and dropped.
#include "common/ui_strings.h"

#include "common/globals.h"
#include "common/settings_store.h"
#include "platform/files.h"
#include "platform/resource_formats.h"
#include "platform/text.h"
#include "platform/threads.h"
#include "platform/trace.h"
#include "platform/window.h"

#include <atomic>
#include <cstring>
#include <vector>

namespace {

constexpr DWORD kLanguageFileBytes = kLanguageFileReadLimit;
constexpr int kFieldCount = 2 * kUiStringCount - 1; // texts and notes between them
// Room for InstallDir and a setting text side by side, so the path is never cut.
constexpr size_t kPathUnits = MAX_PATH + kSettingTextUnits;

const WCHAR kEmptyText[] = {0};
// The strings now in use. Another language replaces them while the reader
// thread may be reading them: each pointer is swapped whole, published with
// release and read with acquire, so a reader sees either text complete.
std::atomic<WCHAR *> gUiStrings[kUiStringCount] = {};
// Strings an earlier load handed out, kept for readers that may still hold
// them (a language is changed rarely, so they stay few). UI thread only.
std::vector<WCHAR *> gRetired;

// The language files that ship with Vantrel and the locale of each, for
// the toolkit's translation of its own texts.
struct LanguageLocale {
  const WCHAR *file;
  const char *locale;
};
constexpr LanguageLocale kLanguageLocales[] = {
    {u"English.lang", "en"},
    {u"Deutsch.lang", "de"},
    {u"Fran\u00e7ais.lang", "fr"},
    {u"Espa\u00f1ol.lang", "es"},
};
const char *gLocale = "en"; // UI thread only

const char *LocaleOfFile(const WCHAR *file) {
  for (const LanguageLocale &l : kLanguageLocales)
    if (_wcsicmp(file, l.file) == 0)
      return l.locale;
  return "en";
}

// The resources' English texts and the UI string that translates each. Two
// resource texts may share one string (a menu item and the title of the
// window it opens).
struct ResourceTranslation {
  const WCHAR *english;
  int id;
};
constexpr ResourceTranslation kResourceTexts[] = {
    {u"Options", kUiMenuOptions},
    {u"Quit", kUiMenuQuit},
    {u"Connected?", kUiMenuConnected},
    {u"Connection Timeout", kUiMenuConnectionTimeout},
    {u"1 min", kUiMenuTimeout1},
    {u"5 min", kUiMenuTimeout5},
    {u"10 min", kUiMenuTimeout10},
    {u"Never", kUiMenuTimeoutNever},
    {u"Keyclicks?", kUiMenuKeyclicks},
    {u"Start at login", kUiMenuStartAtLogin},
    {u"Battery Status", kUiMenuBatteryStatus},
    {u"Calibration", kUiCalibrationTitle},
    {u"Typing Settings", kUiMenuTypingSettings},
    {u"Settings", kUiTypingSettingsTitle},
    {u"Hot Tips (keyboard: Alt+Esc)", kUiMenuHotTips},
    {u"Hot Tips", kUiTitleHotTips},
    {u"Keyboard Layout", kUiMenuKeyboardLayout},
    {u"Language", kUiMenuLanguage},
    {u"Reset Comport", kUiMenuResetComport},
    {u"Reset ComPort", kUiMenuResetComport},
    {u"Help", kUiMenuHelp},
    {u"About", kUiMenuAbout},
    {u"About More", kUiTitleAboutMore},
    {u"More", kUiButtonMore},
    {u"Done", kUiButtonDone},
    {u"Cancel", kUiVerbCancel},
    {u"Key Test", kUiTitleKeyTest},
    {u"Layout and Language", kUiTitleLayoutAndLanguage},
    {u"Keyboard layout", kUiLabelKeyboardLayout},
    {u"&Sensitivity", kUiLabelSensitivity},
    {u"Key Repeat &Rate", kUiLabelRepeatRate},
    {u"Key Repeat &Delay", kUiLabelRepeatDelay},
    {u"&Test", kUiLabelTest},
    {u"Vantrel Help", kUiTitleHelpWindow},
};

bool IsDelimiter(char c) { return c == ';' || c == '\n'; }

HANDLE OpenForReading(const WCHAR *path) {
  return CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

// A new string holding the conversion of n bytes of 8-bit text.
WCHAR *ConvertField(const char *bytes, size_t n) {
  // mbstowcs stops at a zero byte, so the field gets its own terminated copy.
  char *field = new char[n + 1];
  memcpy(field, bytes, n);
  field[n] = 0;
  WCHAR *text = new WCHAR[n + 1]; // n bytes never make more than n units
  mbstowcs(text, field, n + 1);
  delete[] field;
  return text;
}

} // namespace

bool LoadUiStrings() {
  WCHAR language[kSettingTextUnits];
  SettingsStore::ReadString(u"language", language);
  language[kSettingTextUnits - 1] = 0;

  WCHAR path[kPathUnits];
  wnsprintfW(path, kPathUnits, u"%s%s", AppGlobals.InstallDir, language);
  NKDbgPrintfW(u"Trying to open %s\r\n", path);
  HANDLE file = OpenForReading(path);
  if (file == INVALID_HANDLE_VALUE) {
    wnsprintfW(path, kPathUnits, u"%sEnglish.lang", AppGlobals.InstallDir);
    file = OpenForReading(path);
    if (file == INVALID_HANDLE_VALUE) {
      PostQuitMessage(0);
      return false;
    }
  }

  std::vector<char> bytes(kLanguageFileBytes); // too large for the stack
  char *buffer = bytes.data();
  DWORD length = 0;
  ReadFile(file, buffer, kLanguageFileBytes, &length, nullptr); // a short read uses what came
  CloseHandle(file);
  if (length > kLanguageFileBytes)
    length = kLanguageFileBytes;

  WCHAR *loaded[kUiStringCount] = {};
  size_t pos = 0;
  for (int field = 0; field < kFieldCount; ++field) {
    while (pos < length && IsDelimiter(buffer[pos]))
      ++pos;
    if (pos >= length)
      break;
    size_t start = pos;
    while (pos < length && !IsDelimiter(buffer[pos]))
      ++pos;
    if (field % 2 != 0)
      continue;
    loaded[field / 2] = ConvertField(buffer + start, pos - start);
    NKDbgPrintfW(u"%s\r\n", loaded[field / 2]);
  }
  // A file with too few fields leaves the rest empty rather than missing.
  // Strings of an earlier load are not freed: a reader may still hold them.
  for (int k = 0; k < kUiStringCount; ++k) {
    if (!loaded[k]) {
      loaded[k] = new WCHAR[1];
      loaded[k][0] = 0;
    }
    if (WCHAR *before = gUiStrings[k].exchange(loaded[k], std::memory_order_acq_rel))
      gRetired.push_back(before);
  }
  // The file that opened: the setting's, or English after the fallback.
  gLocale = LocaleOfFile(path + wcslen(AppGlobals.InstallDir));
  // From now on the resources' texts are shown through the strings.
  SetResourceTextLookup(UiResourceText);
  return true;
}

const WCHAR *UiString(int n) {
  if (n < 0 || n >= kUiStringCount)
    return kEmptyText;
  const WCHAR *text = gUiStrings[n].load(std::memory_order_acquire);
  return text ? text : kEmptyText;
}

const WCHAR *UiText(int n, const WCHAR *english) {
  const WCHAR *text = UiString(n);
  return *text ? text : english;
}

const WCHAR *UiResourceText(const WCHAR *text) {
  if (!text)
    return nullptr;
  for (const ResourceTranslation &r : kResourceTexts) {
    if (wcscmp(text, r.english) == 0) {
      const WCHAR *translated = UiString(r.id);
      return *translated ? translated : nullptr;
    }
  }
  return nullptr;
}

const char *UiLanguageLocale() { return gLocale; }

void ResetUiStrings() {
  gLocale = "en";
  for (std::atomic<WCHAR *> &text : gUiStrings)
    delete[] text.exchange(nullptr);
  for (WCHAR *text : gRetired)
    delete[] text;
  gRetired.clear();
}
