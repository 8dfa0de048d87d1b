// Keeping the machine awake while the keyboard is connected.
#include "link/suspend_killer.h"

#include "platform/power.h"
#include "platform/registry.h"
#include "platform/threads.h"
#include "platform/trace.h"

namespace {

constexpr WCHAR kEngagedName[] = u"Engaged";
constexpr WCHAR kTimeoutsPath[] = u"\\System\\CurrentControlSet\\Control\\Power\\Timeouts";
const LPCWSTR kValueNames[3] = {u"BattUserIdle", u"BattSystemIdle", u"BattSuspend"};
constexpr DWORD kDefaultTimeouts[3] = {120, 180, 240};

// A REG_DWORD of 4 bytes, or false.
bool ReadNumber(HKEY key, LPCWSTR name, DWORD &value) {
  DWORD read = 0, type = 0, size = sizeof read;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE *>(&read), &size) !=
          ERROR_SUCCESS ||
      size != sizeof read)
    return false;
  value = read;
  return true;
}

void WriteNumber(HKEY key, LPCWSTR name, DWORD value) {
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
}

// The remembered values (0 where none is) and the "Engaged" flag.
struct Remembered {
  DWORD timeouts[3] = {0, 0, 0};
  bool engaged = false;
};

Remembered ReadRemembered() {
  Remembered out;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRememberedKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return out;
  for (int i = 0; i < 3; ++i)
    if (!ReadNumber(key, kValueNames[i], out.timeouts[i]))
      out.timeouts[i] = 0;
  DWORD engaged = 0;
  out.engaged = ReadNumber(key, kEngagedName, engaged) && engaged == 1;
  RegCloseKey(key);
  return out;
}

// Writes the values to restore (none of them 0), then the flag, so that a
// run that ends between the two never finds "Engaged" without its values.
void Remember(const DWORD (&timeouts)[3], bool engaged) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRememberedKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr) != ERROR_SUCCESS)
    return;
  if (engaged)
    for (int i = 0; i < 3; ++i)
      if (timeouts[i] != 0)
        WriteNumber(key, kValueNames[i], timeouts[i]);
  WriteNumber(key, kEngagedName, engaged ? 1 : 0);
  RegCloseKey(key);
}

} // namespace

SuspendKiller::SuspendKiller()
    : engaged(0), saved(0), valueNames{kValueNames[0], kValueNames[1], kValueNames[2]},
      keyPath(kTimeoutsPath), key(nullptr), powerRequirement(nullptr),
      savedTimeouts{kDefaultTimeouts[0], kDefaultTimeouts[1], kDefaultTimeouts[2]} {}

SuspendKiller::~SuspendKiller() {
  if (engaged == 1)
    Engage(false);
}

int SuspendKiller::Engage(bool on) {
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
    key = nullptr;
    return 0;
  }
  // Engaged already, the values read now are our own zeros: the first
  // engage's saved values are the ones to restore.
  if (on && engaged != 1)
    SaveTimeouts();
  Apply(on);
  RegCloseKey(key);
  key = nullptr;
  NotifyPowerManager();
  return 1;
}

void SuspendKiller::SaveTimeouts() {
  const Remembered remembered = ReadRemembered();
  for (int i = 0; i < 3; ++i) {
    DWORD value = 0;
    if (!ReadNumber(key, valueNames[i], value))
      continue;
    if (value != 0) {
      savedTimeouts[i] = value;
      continue;
    }
    // A 0 here is what an earlier run left behind (or "never"): restoring it
    // would keep the machine awake for good after the disconnection.
    if (remembered.timeouts[i] != 0)
      savedTimeouts[i] = remembered.timeouts[i];
    NKDbgPrintfW(u"SuspendKiller: %s reads 0; %u will be restored\r\n", valueNames[i],
                 savedTimeouts[i]);
  }
  saved = 1;
  Remember(savedTimeouts, true);
}

int SuspendKiller::Apply(bool on) {
  if (on) {
    const DWORD never = 0;
    for (LPCWSTR name : valueNames)
      RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&never), sizeof never);
    if (!powerRequirement) // one requirement per engagement
      powerRequirement = SetPowerRequirement(u"BKL1:", D0, POWER_NAME, nullptr, 0);
    engaged = 1;
    return 1;
  }
  if (saved != 1 && engaged != 1)
    return 0;
  for (int i = 0; i < 3; ++i)
    RegSetValueExW(key, valueNames[i], 0, REG_DWORD, reinterpret_cast<const BYTE *>(&savedTimeouts[i]),
                   sizeof savedTimeouts[i]);
  Remember(savedTimeouts, false);
  if (powerRequirement)
    ReleasePowerRequirement(powerRequirement);
  powerRequirement = nullptr;
  saved = 0;
  engaged = 0;
  return 1;
}

int SuspendKiller::NotifyPowerManager() {
  HANDLE event = OpenEventW(EVENT_ALL_ACCESS, FALSE, u"PowerManager/ReloadActivityTimeouts");
  if (!event)
    return 0;
  SetEvent(event);
  CloseHandle(event);
  return 1;
}

bool RestoreAbandonedTimeouts() {
  const Remembered remembered = ReadRemembered();
  if (!remembered.engaged)
    return false;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTimeoutsPath, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    for (int i = 0; i < 3; ++i) {
      DWORD value = 0;
      if (!ReadNumber(key, kValueNames[i], value) || value != 0)
        continue; // changed since that run set it to 0: someone chose it
      const DWORD restored = remembered.timeouts[i] != 0 ? remembered.timeouts[i] : kDefaultTimeouts[i];
      WriteNumber(key, kValueNames[i], restored);
    }
    RegCloseKey(key);
  }
  Remember(remembered.timeouts, false);
  NKDbgPrintfW(u"Power time-outs restored: an earlier run ended while the keyboard was connected\r\n");
  SuspendKiller().NotifyPowerManager();
  return true;
}
