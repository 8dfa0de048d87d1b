// Where the program's keys are in the real registry. Its settings,
// HKEY_LOCAL_MACHINE\Software\Vantrel, are the user's own under
// HKEY_CURRENT_USER. Its view of Bluetooth, HKEY_LOCAL_MACHINE\Software\
// Microsoft\Bluetooth, is a volatile copy under the user's Vantrel key
// ("Bluetooth", gone at log-off), made again from what Windows knows each
// time the program opens it (platform/win/registry/bluetooth_view.cpp).
#include "platform/registry.h"
#include "platform/registry_export.h"

#include "platform/text.h"
#include "platform/trace.h"
#include "platform/win/registry/bluetooth_view.h"

#include <mutex>
#include <set>
#include <string>

#include "platform/win/core/real_calls.h"

namespace {

constexpr WCHAR kSettingsRoot[] = u"Software\\Vantrel";
constexpr WCHAR kBluetoothRoot[] = u"Software\\Microsoft\\Bluetooth";
// The handheld's power time-outs, which the program saves, zeroes and
// restores while connected: Windows has no such key, so it is the
// program's own (made by StartPowerManager), under its settings.
constexpr WCHAR kTimeoutsRoot[] = u"System\\CurrentControlSet\\Control\\Power\\Timeouts";
constexpr WCHAR kTimeoutsView[] = u"Software\\Vantrel\\Power\\Timeouts";
constexpr WCHAR kTimeoutsViewParent[] = u"Software\\Vantrel\\Power";

std::mutex gDeviceKeysMutex;
std::set<HKEY> gDeviceKeys; // open handles of the view's Device key

// Whether path is root or below it (ASCII case ignored, as the registry
// does); *rest gets what follows root (without its backslash).
bool Below(LPCWSTR path, const WCHAR *root, std::u16string *rest) {
  const size_t n = wcslen(root);
  if (!path || wcslen(path) < n)
    return false;
  for (size_t i = 0; i < n; ++i) {
    WCHAR a = path[i], b = root[i];
    if (a < 128 && b < 128 && tolower(a) != tolower(b))
      return false;
    if ((a >= 128 || b >= 128) && a != b)
      return false;
  }
  if (path[n] != 0 && path[n] != u'\\')
    return false;
  if (rest)
    *rest = path[n] ? std::u16string(path + n + 1) : std::u16string();
  return true;
}

// The key and path where a key of the program's is kept; *device tells
// that it is the Bluetooth view's Device key.
HKEY Mapped(HKEY parent, LPCWSTR subKey, std::u16string *path, bool *device) {
  *device = false;
  *path = subKey ? subKey : u"";
  if (parent != HKEY_LOCAL_MACHINE)
    return parent;
  // The handheld took a path from the root with a leading backslash.
  while (subKey && *subKey == u'\\')
    ++subKey;
  *path = subKey ? subKey : u"";
  std::u16string rest;
  if (Below(subKey, kSettingsRoot, nullptr))
    return HKEY_CURRENT_USER;
  if (Below(subKey, kTimeoutsRoot, &rest)) {
    *path = std::u16string(kTimeoutsView) + (rest.empty() ? u"" : u"\\" + rest);
    return HKEY_CURRENT_USER;
  }
  if (Below(subKey, kBluetoothRoot, &rest)) {
    RefreshBluetoothView();
    *path = std::u16string(kBluetoothViewKey) + (rest.empty() ? u"" : u"\\" + rest);
    *device = rest.size() == 6 && Below(rest.c_str(), u"Device", nullptr);
    return HKEY_CURRENT_USER;
  }
  return parent;
}

void Remember(bool device, LONG rc, PHKEY result) {
  if (!device || rc != ERROR_SUCCESS || !result)
    return;
  std::lock_guard<std::mutex> lock(gDeviceKeysMutex);
  gDeviceKeys.insert(*result);
}

} // namespace

LONG VantrelRegCreateKeyExW(HKEY parent, LPCWSTR subKey, DWORD reserved, LPWSTR cls, DWORD options,
                            REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                            LPDWORD disposition) {
  std::u16string path;
  bool device = false;
  HKEY root = Mapped(parent, subKey, &path, &device);
  LONG rc = ::RegCreateKeyExW(root, path.c_str(), reserved, cls, options, access, security, result,
                              disposition);
  Remember(device, rc, result);
  return rc;
}

LONG VantrelRegOpenKeyExW(HKEY parent, LPCWSTR subKey, DWORD options, REGSAM access,
                          PHKEY result) {
  std::u16string path;
  bool device = false;
  HKEY root = Mapped(parent, subKey, &path, &device);
  LONG rc = ::RegOpenKeyExW(root, path.c_str(), options, access, result);
  Remember(device, rc, result);
  return rc;
}

LONG VantrelRegCloseKey(HKEY key) {
  {
    std::lock_guard<std::mutex> lock(gDeviceKeysMutex);
    gDeviceKeys.erase(key);
  }
  return ::RegCloseKey(key);
}

LONG VantrelRegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  std::u16string path;
  bool device = false;
  HKEY root = Mapped(key, subKey, &path, &device);
  bool inDeviceKey = false;
  {
    std::lock_guard<std::mutex> lock(gDeviceKeysMutex);
    inDeviceKey = gDeviceKeys.count(key) != 0;
  }
  // A device of the view: forgetting it is Windows' business.
  if (inDeviceKey && subKey) {
    LONG rc = ForgetBluetoothDevice(subKey);
    if (rc != ERROR_SUCCESS)
      return rc;
  }
  if (!subKey || !*subKey)
    return ERROR_INVALID_PARAMETER; // a key never deletes itself
  // The key goes with everything below it, as the program means it.
  LONG rc = RegDeleteTreeW(root, path.c_str());
  if (rc != ERROR_SUCCESS)
    return rc;
  rc = ::RegDeleteKeyW(root, path.c_str());
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

RegistryStatus RegistryGetStatus() {
  RegistryStatus status;
  status.path = "HKEY_CURRENT_USER\\Software\\Vantrel";
  return status;
}

void RegistryUseDatabase(const std::string &path) {
  PlatformTrace("registry: %s not used: the settings are in the registry", path.c_str());
}

uint64_t RegistryChangeCount() { return 0; }
void RegistryConfigureWrites(int, bool) {}
void RegistryReadOnly(bool) {}
bool RegistryFlush(int) { return true; }
void RegistrySetUnsavedNotifier(RegistryUnsavedNotifier) {}

bool RegistryExportLeavesOut(const std::string &path) {
  std::u16string wide = Utf8ToUtf16(path);
  std::u16string sub;
  if (!Below(wide.c_str(), u"HKLM", &sub) || sub.empty())
    return false;
  return Below(sub.c_str(), kBluetoothViewKey, nullptr) ||
         Below(sub.c_str(), kTimeoutsViewParent, nullptr);
}
