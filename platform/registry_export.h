// What `vantrel-reg export` writes out of the settings store.
#pragma once

#include <string>

// The key exported when none is named: the whole store, which holds only the
// program's own keys.
inline constexpr char kRegistryExportRoot[] = "HKLM";

// Whether a key met below the exported one (its path written "HKLM\...") is a
// copy of another tree kept among the settings, and so left out of an export
// that walks down to it. Here: none; every key is the store's own.
inline bool RegistryExportLeavesOut(const std::string &) { return false; }
