// Files and directory listing over Windows-style paths. A path is relative to
// the device root VANTREL_ROOT (default "/"); backslashes become slashes and a
// leading backslash is allowed. A path with a ".." component is refused.
// CreateFileW on "COM0:" .. "COM9:" opens a serial port (see serial.h).
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

// Returns INVALID_HANDLE_VALUE on failure (GetLastError tells why).
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, void *security, DWORD creation,
                   DWORD flags, HANDLE templ);
// Files: read/write up to n bytes. Serial ports: see serial.h for time-outs.
BOOL ReadFile(HANDLE h, void *buffer, DWORD n, DWORD *read, void *overlapped);
BOOL WriteFile(HANDLE h, const void *buffer, DWORD n, DWORD *written, void *overlapped);
BOOL DeleteFileW(LPCWSTR path);
DWORD GetFileAttributesW(LPCWSTR path); // 0xFFFFFFFF when missing

// The pattern is a folder path, a backslash and "*" (or a name pattern with
// '*' and '?'). "." and ".." are never returned. Returns INVALID_HANDLE_VALUE
// when the folder cannot be listed or nothing matches; close with FindClose.
HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW *data);
BOOL FindNextFileW(HANDLE h, WIN32_FIND_DATAW *data);
BOOL FindClose(HANDLE h);

// The host path for a device path (VANTREL_ROOT applied); empty when refused.
// For the platform layer and tests.
#include <string>
std::string HostPathFor(LPCWSTR path);
