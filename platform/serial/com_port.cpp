// Serial ports: a stand-in until the termios port is in place. Every port is
// reported missing, and no handle is a port.
#include "platform/serial.h"
#include "platform/threads.h"
#include "platform/trace.h"

HANDLE OpenComPort(int index, DWORD) {
  PlatformTrace("serial: COM%d: not available in this build", index);
  SetLastError(ERROR_FILE_NOT_FOUND);
  return INVALID_HANDLE_VALUE;
}

BOOL GetCommTimeouts(HANDLE, COMMTIMEOUTS *) {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

BOOL SetCommTimeouts(HANDLE, const COMMTIMEOUTS *) {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
