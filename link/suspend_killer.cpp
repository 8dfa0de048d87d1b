// Keeping the machine awake while the keyboard is connected.
#include "link/suspend_killer.h"

#include "platform/power.h"
#include "platform/registry.h"
#include "platform/threads.h"

SuspendKiller::SuspendKiller()
    : engaged(0), saved(0), valueNames{u"BattUserIdle", u"BattSystemIdle", u"BattSuspend"},
      keyPath(u"\\System\\CurrentControlSet\\Control\\Power\\Timeouts"), key(nullptr),
      powerRequirement(nullptr), savedTimeouts{120, 180, 240} {}

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
  for (int i = 0; i < 3; ++i) {
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExW(key, valueNames[i], nullptr, &type, reinterpret_cast<BYTE *>(&value),
                         &size) == ERROR_SUCCESS &&
        size == sizeof value)
      savedTimeouts[i] = value;
  }
  saved = 1;
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
