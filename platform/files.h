// Files and directory listing over Windows-style paths. A path is relative to
// the device root VANTREL_ROOT (default "/"); backslashes become slashes and a
// leading backslash is allowed. A path with a ".." component is refused.
// CreateFileW on "COM0:" .. "COM9999:" opens a serial port (see serial.h).
// Every handle returned is released with CloseHandle (threads.h).
#pragma once

#include "platform/wintypes.h"

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_READONLY 0x01
#define FILE_ATTRIBUTE_DIRECTORY 0x10
#define FILE_ATTRIBUTE_NORMAL 0x80
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime, ftLastAccessTime, ftLastWriteTime;
  DWORD nFileSizeHigh, nFileSizeLow;
  DWORD dwOID;
  WCHAR cFileName[MAX_PATH];
};

// Opens or creates a file (creation: CREATE_NEW .. TRUNCATE_EXISTING) and
// returns a handle the caller closes with CloseHandle. GetLastError is
// ERROR_ALREADY_EXISTS when CREATE_ALWAYS or OPEN_ALWAYS found the file,
// otherwise ERROR_SUCCESS. On failure INVALID_HANDLE_VALUE, with
// ERROR_PATH_NOT_FOUND (empty path), ERROR_ACCESS_DENIED (a refused path or
// a folder), ERROR_INVALID_PARAMETER (an unknown creation) or the system's
// reason (ERROR_FILE_NOT_FOUND, ERROR_FILE_EXISTS, ...). Unlike Win32:
// sharing modes, attributes and flags are ignored (no locking: two handles
// may write the same file); a new file gets mode 0644 under the umask.
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, void *security, DWORD creation,
                   DWORD flags, HANDLE templ);
// Read or write up to n bytes into or from the caller's buffer; *read or
// *written (may be null) is set to the count moved, also on failure. A file
// reads all it has up to n bytes (fewer: its end was reached) and writes all
// n. FALSE with ERROR_INVALID_HANDLE (bad handle), ERROR_INVALID_PARAMETER
// (null buffer with n > 0), ERROR_READ_FAULT or ERROR_WRITE_FAULT. overlapped
// is ignored: every call blocks. Serial ports: see serial.h.
BOOL ReadFile(HANDLE h, void *buffer, DWORD n, DWORD *read, void *overlapped);
BOOL WriteFile(HANDLE h, const void *buffer, DWORD n, DWORD *written, void *overlapped);
// FALSE with ERROR_ACCESS_DENIED for a refused path or a folder, else the
// system's reason (ERROR_FILE_NOT_FOUND, ...).
BOOL DeleteFileW(LPCWSTR path);
// FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_NORMAL, or FILE_ATTRIBUTE_READONLY
// (no write permission bit at all); INVALID_FILE_ATTRIBUTES when the path is
// refused (ERROR_ACCESS_DENIED) or missing (ERROR_FILE_NOT_FOUND,
// ERROR_PATH_NOT_FOUND).
DWORD GetFileAttributesW(LPCWSTR path);

// The pattern is a folder path, a backslash and "*" (or a name pattern with
// '*' and '?'; "*.*" means every name). Fills *data with the first match and
// returns a search handle the caller ends with FindClose. Names come sorted
// by their bytes; "." and ".." are never returned, nor names of MAX_PATH
// units or more. INVALID_HANDLE_VALUE with ERROR_INVALID_PARAMETER (null
// argument), ERROR_ACCESS_DENIED (refused path), ERROR_PATH_NOT_FOUND (no
// such folder) or ERROR_FILE_NOT_FOUND (nothing matches). Unlike Win32 the
// folder is read whole at FindFirstFileW: later changes are not seen.
HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW *data);
// The next match; FALSE with ERROR_NO_MORE_FILES at the end, FALSE for a bad
// handle or null data.
BOOL FindNextFileW(HANDLE h, WIN32_FIND_DATAW *data);
// FALSE (ERROR_INVALID_HANDLE) when h is not an open search.
BOOL FindClose(HANDLE h);

// The host path for a device path (VANTREL_ROOT applied), as a new string;
// empty when refused (null path, a ".." component). For the platform layer,
// tests, and messages that name a file to the person.
#include <string>
std::string HostPathFor(LPCWSTR path);
