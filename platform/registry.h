// The registry, kept in one SQLite database (VANTREL_REGISTRY, default
// $XDG_CONFIG_HOME/vantrel/registry.db). Only HKEY_LOCAL_MACHINE is offered.
// Key and value names compare without regard to case and keep the case they
// were created with; values keep their type and exact bytes. Safe from any
// thread and beside a second process using the same file.
// All functions return ERROR_SUCCESS or an error code.
#pragma once

#include "platform/wintypes.h"

#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

#define REG_OPTION_NON_VOLATILE 0
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2

// Creates the key and any missing parents. *result is closed with RegCloseKey.
LONG RegCreateKeyExW(HKEY parent, LPCWSTR subKey, DWORD reserved, LPWSTR cls, DWORD options,
                     DWORD access, void *security, PHKEY result, DWORD *disposition);
LONG RegOpenKeyExW(HKEY parent, LPCWSTR subKey, DWORD options, DWORD access, PHKEY result);
LONG RegCloseKey(HKEY key);
// data may be null to ask for the type and size. A buffer smaller than the
// value gives ERROR_MORE_DATA with *size set to the size needed and nothing
// copied. A missing value gives ERROR_FILE_NOT_FOUND.
LONG RegQueryValueExW(HKEY key, LPCWSTR name, DWORD *reserved, DWORD *type, BYTE *data, DWORD *size);
LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE *data, DWORD size);
LONG RegDeleteValueW(HKEY key, LPCWSTR name);
// Deletes the subkey with everything below it.
LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey);
// Subkeys and values are enumerated in the order they were created.
// *nameLen: in, capacity in units including the terminator; out, length
// without it. ERROR_NO_MORE_ITEMS past the last one; ERROR_MORE_DATA when the
// name does not fit.
LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD *nameLen, DWORD *reserved, LPWSTR cls,
                   DWORD *clsLen, FILETIME *lastWrite);
LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, DWORD *nameLen, DWORD *reserved, DWORD *type,
                   BYTE *data, DWORD *dataLen);

// Where the registry lives and how it is doing; for tools, tests and traces.
#include <string>
struct RegistryStatus {
  std::string path;    // database file in use
  bool inMemory;       // true when the file could not be used this run
  std::string problem; // why, when inMemory
};
RegistryStatus RegistryGetStatus();
// Tests and tools: use another database file from now on (closes the current
// one). An empty path goes back to the VANTREL_REGISTRY rule.
void RegistryUseDatabase(const std::string &path);
