// The UI strings: the kUiStringCount texts of the language file.
//
// The file is read once, at most 10000 bytes. It is a run of fields split by
// runs of ';' and LF (leading ones skipped; CR belongs to its field). Field
// 2k is UI string k; the odd fields are the translators' notes and dropped.
#include "common/ui_strings.h"

#include "common/globals.h"
#include "common/settings_store.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/threads.h"
#include "platform/trace.h"
#include "platform/window.h"

#include <atomic>
#include <cstring>
#include <vector>

namespace {

constexpr DWORD kLanguageFileBytes = 10000;
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

  char buffer[kLanguageFileBytes];
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
  return true;
}

const WCHAR *UiString(int n) {
  if (n < 0 || n >= kUiStringCount)
    return kEmptyText;
  const WCHAR *text = gUiStrings[n].load(std::memory_order_acquire);
  return text ? text : kEmptyText;
}

void ResetUiStrings() {
  for (std::atomic<WCHAR *> &text : gUiStrings)
    delete[] text.exchange(nullptr);
  for (WCHAR *text : gRetired)
    delete[] text;
  gRetired.clear();
}
