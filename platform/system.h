// System control: KernelIoControl with the one request the program makes,
// IOCTL_HAL_REBOOT. A desktop is never rebooted by a keyboard program: the
// request restarts Vantrel itself, with the arguments it was started with.
#pragma once

#include "platform/wintypes.h"

#define IOCTL_HAL_REBOOT 0x0101003Cu

// IOCTL_HAL_REBOOT: writes a trace line and replaces the running program with
// a fresh start of itself (/proc/self/exe, same arguments and environment);
// does not return when that works. Returns FALSE when the restart could not
// be made (the program goes on running), and for any other request
// (GetLastError ERROR_NOT_SUPPORTED). No buffers are used.
BOOL KernelIoControl(DWORD ioControlCode, LPVOID inBuffer, DWORD inSize, LPVOID outBuffer,
                     DWORD outSize, LPDWORD bytesReturned);
