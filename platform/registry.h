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

// Where the registry lives and how it is doing; for tools, tests and traces.
#include <cstddef>
#include <cstdint>
#include <string>
struct RegistryStatus {
  std::string path;      // database file in use
  bool inMemory = false; // reads and writes go to an in-memory copy: the file
                         // is refused, cannot be written, or changes wait
  bool refused = false;  // the file is not used at all this run (not this
                         // program's database, unreadable, not a file...)
  size_t unsavedChanges = 0; // changes kept in memory only, not yet in the file
  std::string problem;   // why, when inMemory
};
// Opens the database when it is not open yet. Opening only reads: the
// tables are made (a write) only when the file has none yet. A file that is
// not recognisably this program's database is never moved or written: the
// run goes on in memory and stderr says so. A damaged database of this
// program is kept aside as PATH.damaged-YYYYMMDD-HHMMSS, a fresh one is
// started with every value that could still be read from it (all rows
// outside the damaged pages), and stderr says so (see RegistryReadOnly for
// a command that only reads). A file that cannot be written is read into memory and written again
// once it can be.
RegistryStatus RegistryGetStatus();
// Tests and tools: use another database file from now on (writes back what
// waits, within a short time, then closes the current one; handles opened
// before must not be used after). An empty path goes back to the
// VANTREL_REGISTRY rule.
void RegistryUseDatabase(const std::string &path);

// A number that grows whenever a stored value may have changed: at every
// change made through this process's Reg* calls (and RegistryUseDatabase),
// and when another process (the vantrel-reg tool) has committed a change to
// the database file. Changes of this process count at once; another
// process's are looked for at most once a second, by the call that finds
// the look due (it then takes the registry's lock and reads the file's data
// version); every other call is one atomic read. A caller keeps a setting
// it reads often cached while the number stays the same. Any thread.
uint64_t RegistryChangeCount();

// How writes meet a file that cannot take them. waitMs: how long a write
// waits for another process that holds the database (the program: 250 ms).
// keepUnsaved true (the program): a change the file cannot take now (held
// too long, full, I/O error, read-only) is made in memory, answered as done,
// and written to the file, in order, at the next write, by a retry (within
// about 20 ms of another process letting the database go; after other
// faults at growing intervals up to a second), by RegistryFlush and at
// exit. false (the tool): such a write fails
// with ERROR_TIMEOUT or ERROR_CANTWRITE and nothing is kept.
void RegistryConfigureWrites(int waitMs, bool keepUnsaved);
// For a command that only reads (the tool's list, get, export), before the
// database is opened: it is then never created, moved or written, nor its
// folder made. A missing one reads as empty; a damaged one is left as it is,
// what can still be read from it is seen and stderr says it is damaged.
// Every change fails with ERROR_ACCESS_DENIED.
void RegistryReadOnly(bool readOnly);
// Writes back the changes kept in memory, waiting up to waitMs for another
// process. True when no change is left unsaved.
bool RegistryFlush(int waitMs);
// Called once each time changes start to be kept in memory only (after a
// lock held by another process, only once that has lasted a few seconds),
// with the reason. Called outside the registry's lock, from the thread that
// wrote or from the retry thread; it must not wait for the user.
typedef void (*RegistryUnsavedNotifier)(const char *why);
void RegistrySetUnsavedNotifier(RegistryUnsavedNotifier notifier);
