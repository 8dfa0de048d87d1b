// The settings store: each operation opens (or creates) HKEY_LOCAL_MACHINE
// "Software\Vantrel", does one value operation and closes the key again.
#include "common/settings_store.h"

#include "common/globals.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "platform/window.h"

#include <cstring>
#include <mutex>
#include <string>

namespace {

const WCHAR kSettingsKey[] = u"Software\\Vantrel";
const WCHAR kNone[] = u"None";
// The most a text read accepts: 499 characters and the terminator, and one
// byte more.
constexpr DWORD kMaxTextBytes = 1001;

// The main window's timer that shows the unsaved-settings box.
constexpr UINT_PTR kUnsavedNoticeTimer = 0x5E77;

// The text of that box, handed from the thread that could not save to the
// user-interface thread. Made once and never destroyed.
struct Notice {
  std::mutex mutex;
  std::u16string text;
};
Notice &PendingNotice() {
  static Notice *notice = new Notice;
  return *notice;
}

void ShowUnsavedNotice(HWND hwnd, UINT, UINT_PTR id, DWORD) {
  KillTimer(hwnd, id);
  std::u16string text;
  {
    std::lock_guard<std::mutex> lock(PendingNotice().mutex);
    text.swap(PendingNotice().text);
  }
  if (!text.empty())
    MessageBoxW(hwnd, text.c_str(), u"Error", MB_OK | MB_ICONEXCLAMATION);
}

// Tells the person, once each time, that settings changes could not be
// saved. The thread that wrote (often the reader thread) never waits for
// the answer: with the main window up the box is shown by the
// user-interface thread from a timer; before that only that thread runs.
void TellUnsaved(const char *why) {
  std::u16string text = u"Settings could not be saved (" + Utf8ToUtf16(why) +
                        u"). Vantrel keeps the changes and saves them as soon as it can; until "
                        u"then they are lost if Vantrel is stopped.";
  NKDbgPrintfW(u"Settings could not be saved: %s\r\n", Utf8ToUtf16(why).c_str());
  HWND main = AppGlobals.mainWindow;
  if (main && IsWindow(main)) {
    {
      std::lock_guard<std::mutex> lock(PendingNotice().mutex);
      PendingNotice().text = text;
    }
    if (SetTimer(main, kUnsavedNoticeTimer, 0, ShowUnsavedNotice))
      return;
  }
  MessageBoxW(nullptr, text.c_str(), u"Error", MB_OK | MB_ICONEXCLAMATION);
}

// Opens the settings key, creating it when missing. On failure tells the
// user with the fixed message box and returns false.
bool OpenSettingsKey(HKEY *key) {
  static const bool kNotifierSet = (RegistrySetUnsavedNotifier(TellUnsaved), true);
  (void)kNotifierSet;
  DWORD disposition = 0;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, key, &disposition) == ERROR_SUCCESS)
    return true;
  MessageBoxW(nullptr, u"RegCreateKeyEx 1", u"Error", MB_OK);
  return false;
}

// A read failed because the value is not there in a usable form (missing,
// or too large for the read), as opposed to the store failing for a moment:
// only then is the default written, so a passing failure never overwrites a
// stored setting.
bool ValueIsMissing(LONG rc) { return rc == ERROR_FILE_NOT_FOUND || rc == ERROR_MORE_DATA; }

} // namespace

namespace SettingsStore {

int32_t ReadDword(LPCWSTR name, int32_t defaultValue) {
  HKEY key = nullptr;
  if (!OpenSettingsKey(&key))
    return defaultValue;
  // The stored bytes are returned whatever their type; a value shorter than
  // four bytes leaves the rest zero.
  BYTE bytes[4] = {0, 0, 0, 0};
  DWORD size = sizeof bytes;
  DWORD type = 0;
  int32_t result = defaultValue;
  LONG rc = RegQueryValueExW(key, name, nullptr, &type, bytes, &size);
  if (rc == ERROR_SUCCESS) {
    memcpy(&result, bytes, sizeof result);
  } else if (ValueIsMissing(rc)) {
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&defaultValue),
                   sizeof defaultValue);
  }
  RegCloseKey(key);
  return result;
}

int32_t ReadNumber(const Setting &setting) { return ReadDword(setting.name, setting.defaultValue); }

int WriteDword(LPCWSTR name, int32_t value) {
  HKEY key = nullptr;
  if (!OpenSettingsKey(&key))
    return 1;
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
  RegCloseKey(key);
  return 1;
}

int ReadString(LPCWSTR name, WCHAR *buffer) {
  HKEY key = nullptr;
  if (!OpenSettingsKey(&key)) {
    wcscpy(buffer, kNone);
    return 0;
  }
  DWORD size = kMaxTextBytes;
  DWORD type = 0;
  LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE *>(buffer), &size);
  int result = 1;
  if (rc == ERROR_SUCCESS) {
    // A value written by hand may lack its terminator or end in half a
    // character: end the text inside the buffer all the same.
    size_t units = size / sizeof(WCHAR);
    if (units == 0 || buffer[units - 1] != 0)
      buffer[units < kSettingTextUnits ? units : kSettingTextUnits - 1] = 0;
  } else {
    if (ValueIsMissing(rc))
      RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(kNone), sizeof kNone);
    wcscpy(buffer, kNone);
    result = 0;
  }
  RegCloseKey(key);
  return result;
}

int WriteString(LPCWSTR name, LPCWSTR text) {
  HKEY key = nullptr;
  if (!OpenSettingsKey(&key))
    return 1;
  static const WCHAR kEmpty[] = u"";
  if (!text)
    text = kEmpty;
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                 static_cast<DWORD>((wcslen(text) + 1) * sizeof(WCHAR)));
  RegCloseKey(key);
  return 1;
}

} // namespace SettingsStore
