// The registry, kept in one SQLite database (VANTREL_REGISTRY, default
// $XDG_CONFIG_HOME/vantrel/registry.db). Only HKEY_LOCAL_MACHINE is offered.
// Key and value names compare without regard to case and keep the case they
// were created with; values keep their type and exact bytes. Safe from any
// thread and beside a second process using the same file.
// The Reg* functions return ERROR_SUCCESS or an error code (they do not set
// GetLastError). Besides the codes named below, any of them may answer
// ERROR_TIMEOUT (another process held the database too long) or
// ERROR_CANTWRITE (the file cannot take a write; see RegistryConfigureWrites),
// and a handle whose key was deleted answers ERROR_KEY_DELETED. Classes,
// security, options, access masks and reserved arguments are accepted and
// ignored: every handle may read and write.
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

// A handle whose key was deleted (by this or another process) since it was
// opened.
#ifndef ERROR_KEY_DELETED
#define ERROR_KEY_DELETED 1018L
#endif

#define REG_OPTION_NON_VOLATILE 0
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2

// Key paths are components separated by '\'; leading, trailing and doubled
// backslashes are ignored. A component longer than 255 units is refused
// (ERROR_INVALID_PARAMETER). A handle is the caller's until RegCloseKey; a
// closed or unknown handle gives ERROR_INVALID_HANDLE.
// Creates the key and any missing parents, or opens it; *disposition (may
// be null) says which. *result (required, else ERROR_INVALID_PARAMETER) is
// set to null first, and on success to a handle closed with RegCloseKey.
LONG RegCreateKeyExW(HKEY parent, LPCWSTR subKey, DWORD reserved, LPWSTR cls, DWORD options,
                     DWORD access, void *security, PHKEY result, DWORD *disposition);
// As RegCreateKeyExW but never creates: ERROR_FILE_NOT_FOUND for a missing
// key.
LONG RegOpenKeyExW(HKEY parent, LPCWSTR subKey, DWORD options, DWORD access, PHKEY result);
// Closing HKEY_LOCAL_MACHINE does nothing and succeeds.
LONG RegCloseKey(HKEY key);
// A name of null or "" is the key's default value. The data is copied into
// the caller's buffer; data may be null to ask for the type and size. A
// buffer smaller than the value gives ERROR_MORE_DATA with *size set to the
// size needed and nothing copied (Win32 leaves the buffer's contents
// undefined then). A missing value gives ERROR_FILE_NOT_FOUND. Unlike Win32,
// string values are returned exactly as stored: a terminator is not added.
LONG RegQueryValueExW(HKEY key, LPCWSTR name, DWORD *reserved, DWORD *type, BYTE *data, DWORD *size);
// Stores type and a copy of size bytes as they are (the type is not checked
// against the data). ERROR_INVALID_PARAMETER for null data with size > 0,
// more than 1 MiB, or a name longer than 16383 units.
LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE *data, DWORD size);
// ERROR_FILE_NOT_FOUND when the value is missing.
LONG RegDeleteValueW(HKEY key, LPCWSTR name);
// Deletes the subkey with everything below it. An empty subKey is refused
// (ERROR_INVALID_PARAMETER): a key never deletes itself or the root.
LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey);
// Subkeys and values are enumerated in the order they were created (a value
// written again keeps its place). *nameLen: in, capacity in units including
// the terminator; out, length without it. ERROR_NO_MORE_ITEMS past the last
// one; ERROR_MORE_DATA when the name does not fit (then *nameLen is the
// capacity needed, terminator included) or, for a value, when data is given
// and *dataLen is smaller than the value (then *dataLen is the size needed and
// no data is copied). name and nameLen are required (ERROR_INVALID_PARAMETER).
// Keys have no class and no write time here: *clsLen and *lastWrite come
// back 0.
LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD *nameLen, DWORD *reserved, LPWSTR cls,
                   DWORD *clsLen, FILETIME *lastWrite);
LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, DWORD *nameLen, DWORD *reserved, DWORD *type,
                   BYTE *data, DWORD *dataLen);

#include "platform/registry_status.h"
