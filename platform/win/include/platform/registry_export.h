// What `vantrel-reg export` writes out of the settings (Windows build).
#pragma once

#include <string>

// The key exported when none is named: the program's settings, not the
// whole of HKEY_LOCAL_MACHINE (every other key there is Windows' own).
inline constexpr char kRegistryExportRoot[] = "HKLM\\Software\\Vantrel";

// Whether a key met below the exported one (its path written "HKLM\...",
// ASCII case ignored) is a copy of another tree kept among the settings, and
// so left out of an export that walks down to it: the Bluetooth view
// (HKLM\Software\Vantrel\Bluetooth, made again from what Windows knows) and
// the power time-outs (HKLM\Software\Vantrel\Power, the program's copy of
// HKLM\System\...\Power\Timeouts). Named themselves, they export as usual.
bool RegistryExportLeavesOut(const std::string &path);
