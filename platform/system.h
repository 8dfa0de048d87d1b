// System control: KernelIoControl with the one request the program makes,
// IOCTL_HAL_REBOOT. A desktop is never rebooted by a keyboard program: the
// request restarts Vantrel itself, with the arguments it was started with.
#pragma once

#include "platform/wintypes.h"

#define IOCTL_HAL_REBOOT 0x0101003Cu

// IOCTL_HAL_REBOOT: writes a trace line and replaces the running program with
// a fresh start of itself (/proc/self/exe, same arguments and environment,
// the quit signals unblocked); does not return when that works. The caller
// ends its threads first: they do not survive the restart. Returns FALSE
// when the restart could not be made (the program goes on running), and for
// any other request (GetLastError ERROR_NOT_SUPPORTED). No buffers are used.
// On Windows the fresh start is a new process of the program's own image
// with the same command line, and then this one ends.
BOOL KernelIoControl(DWORD ioControlCode, LPVOID inBuffer, DWORD inSize, LPVOID outBuffer,
                     DWORD outSize, LPDWORD bytesReturned);

// Quit signals (SIGTERM, SIGINT, SIGHUP) as requests to quit, never handled
// inside a signal handler.
// BlockQuitSignals: call first thing in main, before any thread starts, so
// that every thread inherits the mask and no signal interrupts or ends the
// program on the spot.
// Windows has no quit signals: a console's Ctrl+C, close and log-off events
// call onSignal (on the system's handler thread); the block and unblock do
// nothing there.
void BlockQuitSignals();
// Lets the quit signals through again on the calling thread: for a child
// process just before it runs another program.
void UnblockQuitSignals();
// Starts the watcher thread: onSignal(signal, context) is called on it once
// for each quit signal that arrives (also for one that arrived since
// BlockQuitSignals). Returns false when the watcher cannot run; the signals
// are then unblocked and end the program at once, as by default.
bool StartQuitSignalWatch(void (*onSignal)(int signal, void *context), void *context);
// Ends the watcher thread and joins it. Quit signals that arrive later stay
// blocked until the process ends.
void StopQuitSignalWatch();

// Hands the memory the program has freed back to the system, in every
// thread's heap, where the C library keeps it for later use otherwise, and
// from then on gives large blocks pages of their own that go back as soon as
// they are freed, and lets free space at the heap's end go back by itself.
// For a moment after a burst of work that will not come
// again soon (start-up and connecting); it takes a few milliseconds. Any
// thread. On Windows: the C runtime's heap compacted, the working set
// trimmed.
void ReleaseFreedMemory();
