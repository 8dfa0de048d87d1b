// Windows build: the basic types and constants are Win32's own.
//
// Serial ports are the program's own in one respect: CreateFileW opens a
// port named as the logic names it, "COMn:", as \\.\COMn (the only form
// that reaches COM10 and up) for overlapped I/O, and ReadFile, WriteFile
// and CloseHandle on that handle follow the port's time-outs and wake-ups
// (platform/win/serial/). Every other path and handle is passed on to Win32
// unchanged. The renames are here, where every platform header starts, so
// that no caller reaches a port through the plain calls.
#pragma once

#include "platform/win/windows_api.h"

HANDLE VantrelCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD creation, DWORD flags, HANDLE templ);
BOOL VantrelReadFile(HANDLE h, void *buffer, DWORD n, DWORD *read, LPOVERLAPPED overlapped);
BOOL VantrelWriteFile(HANDLE h, const void *buffer, DWORD n, DWORD *written,
                      LPOVERLAPPED overlapped);
BOOL VantrelCloseHandle(HANDLE h);
#undef CreateFileW
#define CreateFileW VantrelCreateFileW
#define ReadFile VantrelReadFile
#define WriteFile VantrelWriteFile
#define CloseHandle VantrelCloseHandle
