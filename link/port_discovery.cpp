// Port discovery over the Bluetooth stack's registry keys, the COM0: to
// COM9: probe, and opening the port with the link's time-outs.
#include "link/port_discovery.h"

#include "common/globals.h"
#include "common/messages.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "link/link_state.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/serial.h"
#include "platform/text.h"
#include "platform/threads.h"
#include "platform/trace.h"
#include "platform/window.h"

#include <cstring>

namespace {

constexpr WCHAR kSerialPortsKey[] = u"Software\\Microsoft\\Bluetooth\\Serial\\Ports";
constexpr WCHAR kDeviceKey[] = u"Software\\Microsoft\\Bluetooth\\Device";
constexpr WCHAR kSettingsKey[] = u"Software\\Vantrel\\";
constexpr WCHAR kKeyboardAddress[] = u"02a5f3";
constexpr DWORD kNameUnits = 255;
constexpr int kLastProbeIndex = 9;

static_assert(sizeof(AppGlobals.portName) / sizeof(WCHAR) == kPortNameUnits);

bool IsKeyboardName(const WCHAR *name) { return wcsstr(name, kKeyboardAddress) != nullptr; }

HKEY OpenKey(HKEY parent, const WCHAR *path) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return nullptr;
  return key;
}

// Subkey `index` of key into name (kNameUnits units). A name too long for the
// buffer comes back empty, so it matches nothing and the enumeration goes on.
LONG EnumKey(HKEY key, DWORD index, WCHAR *name) {
  DWORD len = kNameUnits;
  LONG r = RegEnumKeyExW(key, index, name, &len, nullptr, nullptr, nullptr, nullptr);
  if (r == ERROR_MORE_DATA) {
    name[0] = 0;
    return ERROR_SUCCESS;
  }
  return r;
}

// Reads the string value "Port" into portName when it is text that leaves
// room for the colon. Returns true when read.
bool ReadPortValue(HKEY key, WCHAR *portName) {
  WCHAR value[kPortNameUnits + 1] = {};
  DWORD type = 0;
  DWORD size = sizeof(WCHAR) * kPortNameUnits; // more would not fit portName
  if (RegQueryValueExW(key, u"Port", nullptr, &type, reinterpret_cast<BYTE *>(value), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ)
    return false;
  value[size / sizeof(WCHAR)] = 0; // a value stored without its terminator
  if (wcslen(value) + 2 > kPortNameUnits)
    return false;
  wcscpy(portName, value);
  return true;
}

// Moves linkState on from LinkState 1 unless the user cancelled the attempt
// meanwhile (LinkState 5). Returns true when the move happened.
bool LeaveIdle(int32_t to) {
  int32_t idle = LINK_IDLE;
  return AppGlobals.linkState.compare_exchange_strong(idle, to);
}

// Deletes every subkey of path whose name holds the keyboard's address.
void DeleteKeyboardKeys(const WCHAR *path) {
  HKEY key = OpenKey(HKEY_LOCAL_MACHINE, path);
  if (!key)
    return;
  WCHAR name[kNameUnits];
  DWORD index = 0;
  while (EnumKey(key, index, name) == ERROR_SUCCESS) {
    // A deleted key moves the later ones down by one: look at the same index.
    if (IsKeyboardName(name) && RegDeleteKeyW(key, name) == ERROR_SUCCESS)
      continue;
    ++index;
  }
  RegCloseKey(key);
}

// The configured port from COMPORT, or an empty name when it is unset or
// cannot be a port name.
void ReadConfiguredPort() {
  WCHAR configured[kSettingTextUnits] = {};
  SettingsStore::ReadString(u"COMPORT", configured);
  if (wcslen(configured) >= kPortNameUnits) {
    NKDbgPrintfW(u"COMPORT is longer than %d characters, searching for the port\r\n",
                 static_cast<int>(kPortNameUnits - 1));
    AppGlobals.portName[0] = 0;
    return;
  }
  wcscpy(AppGlobals.portName, configured);
}

// After a failed open: another port to try, or the end of the attempt.
void AfterFailure() {
  if (AppGlobals.portAutoDetect.load()) {
    if (AppGlobals.portProbeIndex == kLastProbeIndex)
      LeaveIdle(LINK_ERROR); // no port found
    else
      SetEvent(AppGlobals.connectionEvent.load());
  }
  // A configured port ends in LinkState 8, already set.
}

} // namespace

bool FindKeyboardPort(WCHAR *portName) {
  HKEY key = OpenKey(HKEY_LOCAL_MACHINE, kSerialPortsKey);
  if (!key)
    return false;
  WCHAR name[kNameUnits];
  DWORD index = 0;
  for (;;) {
    if (EnumKey(key, index, name) != ERROR_SUCCESS)
      break;
    if (!IsKeyboardName(name)) {
      ++index;
      continue;
    }
    HKEY device = OpenKey(key, name);
    RegCloseKey(key);
    if (!device)
      return false;
    key = device;
    if (ReadPortValue(key, portName) && wcsstr(portName, u"COM")) {
      wcscat(portName, u":");
      RegCloseKey(key);
      return true;
    }
    // No usable port here: look among the device key's own subkeys.
    index = 0;
  }
  RegCloseKey(key);
  return false;
}

void OpenPort() {
  WCHAR *portName = AppGlobals.portName;
  ReadConfiguredPort();
  // A configured name is never searched for, whatever an earlier search left.
  AppGlobals.portAutoDetect.store(0);
  if (portName[0] == 0 || wcscmp(portName, u"None") == 0) {
    AppGlobals.portAutoDetect.store(1);
    if (!FindKeyboardPort(portName)) {
      int &probe = AppGlobals.portProbeIndex;
      probe = (probe >= kLastProbeIndex || probe < 0) ? 0 : probe + 1;
      wnsprintfW(portName, kPortNameUnits, u"COM%d:", probe);
    }
  }

  WCHAR status[sizeof(AppGlobals.statusText) / sizeof(WCHAR)];
  wnsprintfW(status, sizeof status / sizeof status[0], u"%s %s", UiString(kUiOpeningPort),
             portName);
  ShowAttemptStatus(status);
  NKDbgPrintfW(u"Opening %s\r\n", portName);

  HANDLE port = CreateFileW(portName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  AppGlobals.portHandle.store(port);
  if (port != INVALID_HANDLE_VALUE) {
    COMMTIMEOUTS timeouts{};
    GetCommTimeouts(port, &timeouts);
    timeouts.ReadIntervalTimeout = 120;
    timeouts.ReadTotalTimeoutMultiplier = 200;
    timeouts.ReadTotalTimeoutConstant = 10;
    timeouts.WriteTotalTimeoutMultiplier = 10;
    timeouts.WriteTotalTimeoutConstant = 100;
    if (SetCommTimeouts(port, &timeouts)) {
      // Once synchronised, bytes are decoded as they come: what an earlier
      // connection left on the device (keys, heartbeats) would be taken as
      // this one's. The first connection of a run keeps what is waiting, as
      // the keyboard's sync pattern may be there already, and drops the
      // rest while looking for it.
      if (AppGlobals.linkSynchronised)
        PurgeComm(port, PURGE_RXCLEAR);
      // Every opened port gets its full ten sync reads.
      AppGlobals.syncAttempts = 0;
      if (!LeaveIdle(LINK_SYNCING))
        return; // cancelled: the disconnection closes the port
      ShowAttemptStatus(UiString(kUiPortOpened));
      return;
    }
    LeaveIdle(LINK_ERROR);
    AppGlobals.portHandle.store(INVALID_HANDLE_VALUE);
    CloseHandle(port);
  } else {
    // The platform may know why in words a person understands (a Bluetooth
    // keyboard switched off or out of range, its port held elsewhere).
    WCHAR problem[sizeof(AppGlobals.statusText) / sizeof(WCHAR)];
    if (GetComPortProblem(problem, sizeof problem / sizeof problem[0]) > 0) {
      ShowAttemptStatus(problem);
      NKDbgPrintfW(u"%s: %s\r\n", portName, problem);
    }
    if (!AppGlobals.portAutoDetect.load())
      LeaveIdle(LINK_ERROR);
  }
  AfterFailure();
}

bool IsKeyboardPaired() {
  HKEY key = OpenKey(HKEY_LOCAL_MACHINE, kDeviceKey);
  if (!key)
    return false;
  WCHAR name[kNameUnits];
  bool found = false;
  for (DWORD index = 0; !found && EnumKey(key, index, name) == ERROR_SUCCESS; ++index)
    found = IsKeyboardName(name);
  RegCloseKey(key);
  return found;
}

void ForgetKeyboard() {
  DeleteKeyboardKeys(kDeviceKey);
  DeleteKeyboardKeys(kSerialPortsKey);

  HKEY key = OpenKey(HKEY_LOCAL_MACHINE, kSettingsKey);
  if (!key)
    return;
  WCHAR name[kNameUnits];
  for (DWORD index = 0;; ++index) {
    DWORD len = kNameUnits;
    LONG r = RegEnumValueW(key, index, name, &len, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_MORE_DATA)
      continue; // a name too long for the buffer is not COMPORT
    if (r != ERROR_SUCCESS)
      break;
    if (wcsstr(name, u"COMPORT")) {
      RegDeleteValueW(key, name);
      break;
    }
  }
  RegCloseKey(key);
}
