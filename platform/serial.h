// Serial ports: CreateFileW("COM0:" .. "COM9:") opens one through
// OpenComPort; ReadFile, WriteFile and CloseHandle work on the handle, and
// the read time-outs follow COMMTIMEOUTS as on the handheld.
#pragma once

#include "platform/wintypes.h"

struct COMMTIMEOUTS {
  DWORD ReadIntervalTimeout;
  DWORD ReadTotalTimeoutMultiplier;
  DWORD ReadTotalTimeoutConstant;
  DWORD WriteTotalTimeoutMultiplier;
  DWORD WriteTotalTimeoutConstant;
};
typedef COMMTIMEOUTS *LPCOMMTIMEOUTS;

// Opens port COM<index>: (index 0..9) with GENERIC_READ / GENERIC_WRITE
// access. Returns a handle closed with CloseHandle, or INVALID_HANDLE_VALUE
// with the reason in GetLastError (ERROR_FILE_NOT_FOUND when the port does
// not exist). Called by CreateFileW; the logic does not call it directly.
HANDLE OpenComPort(int index, DWORD access);

// Fail with ERROR_INVALID_HANDLE for a handle that is not a serial port.
BOOL GetCommTimeouts(HANDLE port, COMMTIMEOUTS *timeouts);
BOOL SetCommTimeouts(HANDLE port, const COMMTIMEOUTS *timeouts);
