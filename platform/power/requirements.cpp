// Device power requirements. Only the backlight's matter here: holding one
// keeps the desktop awake (see the power manager). Handles are small tokens
// that never collide with the platform's other handles.
#include "platform/power.h"

#include "platform/power/power_internal.h"
#include "platform/text.h"
#include "platform/trace.h"

#include <map>
#include <mutex>

namespace {

std::mutex gRequirementsMutex;
std::map<uintptr_t, bool> gHeld; // token -> is a backlight requirement
uintptr_t gNextToken = 0x70770000;

bool IsBacklight(LPCWSTR device, CEDEVICE_POWER_STATE state) {
  return wcsncmp(device, u"BKL", 3) == 0 && (state == D0 || state == D1);
}

} // namespace

int HeldBacklightRequirements() {
  std::lock_guard<std::mutex> lock(gRequirementsMutex);
  int n = 0;
  for (const auto &entry : gHeld)
    n += entry.second;
  return n;
}

HANDLE SetPowerRequirement(LPCWSTR device, CEDEVICE_POWER_STATE state, ULONG, PVOID, ULONG) {
  if (!device)
    return nullptr;
  StartPowerManager();
  uintptr_t token;
  {
    std::lock_guard<std::mutex> lock(gRequirementsMutex);
    token = gNextToken;
    gNextToken += 4;
    gHeld[token] = IsBacklight(device, state);
  }
  PlatformTrace("power: requirement %s D%d taken", Utf16ToUtf8(device).c_str(), static_cast<int>(state));
  PowerManagerReevaluate();
  return reinterpret_cast<HANDLE>(token);
}

DWORD ReleasePowerRequirement(HANDLE requirement) {
  {
    std::lock_guard<std::mutex> lock(gRequirementsMutex);
    if (gHeld.erase(reinterpret_cast<uintptr_t>(requirement)) == 0)
      return ERROR_INVALID_PARAMETER;
  }
  PlatformTrace("power: requirement released");
  PowerManagerReevaluate();
  return ERROR_SUCCESS;
}
