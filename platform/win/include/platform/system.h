// Windows build: the handheld's restart call and the quit requests.
#pragma once

#include "platform/wintypes.h"

#define IOCTL_HAL_REBOOT 0x0101003Cu
// IOCTL_HAL_REBOOT restarts the program: a new process of its own image with
// the same command line, then this one ends (no return). FALSE when the new
// process cannot be started (the program goes on running), and for any
// other request (ERROR_NOT_SUPPORTED).
BOOL KernelIoControl(DWORD ioControlCode, LPVOID inBuffer, DWORD inSize, LPVOID outBuffer,
                     DWORD outSize, LPDWORD bytesReturned);
// Windows has no quit signals; a console's Ctrl+C, close and log-off
// events call onSignal (on the system's handler thread). The block and
// unblock do nothing.
void BlockQuitSignals();
void UnblockQuitSignals();
bool StartQuitSignalWatch(void (*onSignal)(int signal, void *context), void *context);
void StopQuitSignalWatch();

// Hands the memory the program has freed back to the system (the C
// runtime's heap compacted, the working set trimmed) after a burst of work
// that will not come again soon. Any thread.
void ReleaseFreedMemory();
