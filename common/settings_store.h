// The settings store: every persistent setting of the program, as a named
// value under HKEY_LOCAL_MACHINE "Software\Vantrel". Each operation opens (or
// creates) the key, does one value operation and closes the key; nothing is
// cached, so the store is safe from both threads. Reading a missing value
// stores the default: the settings table's (common/settings_table.h) for
// ReadNumber, the caller's for ReadDword.
#pragma once

#include "common/settings_table.h"
#include "platform/wintypes.h"

#include <cstdint>

// Room a ReadString destination must have: 1001 bytes, rounded up to units.
constexpr size_t kSettingTextUnits = 501;

namespace SettingsStore {
// Returns the stored 4 bytes; when the value is missing or longer than 4
// bytes, stores defaultValue as REG_DWORD and returns it.
int32_t ReadDword(LPCWSTR name, int32_t defaultValue);
// ReadDword of a number in the settings table, with the table's default.
// The typing settings, whose default is the layout's, are read with
// ReadDword and that default.
int32_t ReadNumber(const Setting &setting);
// Writes value as REG_DWORD. Returns 1.
int WriteDword(LPCWSTR name, int32_t value);
// Reads a text into buffer (kSettingTextUnits units). Returns 1 when read;
// when missing or longer than 1001 bytes, stores "None", puts "None" into
// buffer and returns 0.
int ReadString(LPCWSTR name, WCHAR *buffer);
// Writes text as REG_SZ with its terminator. Returns 1.
int WriteString(LPCWSTR name, LPCWSTR text);
} // namespace SettingsStore
