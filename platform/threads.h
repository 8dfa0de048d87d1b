// Threads, events, sleeping and the last-error value.
//
// Handles: every HANDLE returned here belongs to the caller and is released
// with CloseHandle. A handle is a number from the platform's table, never
// reused in the process, so a closed or made-up handle is refused
// (ERROR_INVALID_HANDLE) rather than followed. Security attributes, access
// masks and inherit flags are accepted and ignored.
#pragma once

#include "platform/wintypes.h"

typedef DWORD (*LPTHREAD_START_ROUTINE)(LPVOID);

#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu

// Starts start(arg) on a new thread; *threadId (may be null) receives its id.
// Returns a handle that becomes signalled when start returns; null with
// ERROR_INVALID_PARAMETER for a null start, ERROR_NOT_ENOUGH_MEMORY when the
// system refuses a thread (traced). Closing the handle does not stop the
// thread. Unlike Win32: flags are ignored (no suspended start), a stack below
// the system minimum is raised to it, and the exit code cannot be read back.
HANDLE CreateThread(void *security, size_t stack, LPTHREAD_START_ROUTINE start, LPVOID arg,
                    DWORD flags, DWORD *threadId);
// Returns a new event handle. A named event is shared within this process
// only (not between processes), and only while a handle to it is open:
// creating an existing name returns a new handle to the same event with
// GetLastError ERROR_ALREADY_EXISTS (the flags given then are ignored),
// otherwise ERROR_SUCCESS.
HANDLE CreateEventW(void *security, BOOL manualReset, BOOL initialState, LPCWSTR name);
// A new handle to the named event; null (ERROR_FILE_NOT_FOUND) when no open
// event has that name.
HANDLE OpenEventW(DWORD access, BOOL inherit, LPCWSTR name);
// FALSE (ERROR_INVALID_HANDLE) when the handle is not an event. Setting an
// auto-reset event releases one waiter; a manual-reset one releases all until
// ResetEvent.
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
// Waits for an event or a thread (INFINITE: without end). Returns
// WAIT_OBJECT_0 when signalled, WAIT_TIMEOUT, or WAIT_FAILED
// (ERROR_INVALID_HANDLE) for a bad handle or one that cannot be waited on
// (a file, a port).
DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds);
// Closes any handle issued by the platform layer (file, port, event, thread;
// a FindFirstFileW search is ended with FindClose, as on Win32). FALSE
// (ERROR_INVALID_HANDLE) for an unknown or already closed handle. A call
// still running on the object in another thread finishes first; the object
// goes with the last of them.
BOOL CloseHandle(HANDLE h);
// Both run on the process's clock: the real one, or a test's virtual clock
// (platform/clock.h). GetTickCount counts milliseconds and wraps after 49.7
// days.
void Sleep(DWORD milliseconds);
DWORD GetTickCount();
// How many threads the platform layer has started (CreateThread and its own
// service threads: power manager, sleep watch, sound, quit signals, BlueZ
// link, settings retries, typing backends) whose routine has not yet
// returned. For tests, which must end every thread they start.
int PlatformThreadsRunning();
// This process's own small thread numbers (1, 2, ...), given out on first
// use; not the system's thread ids.
DWORD GetCurrentThreadId();
// The calling thread's last error. Calls here set it only on failure unless
// they say otherwise.
DWORD GetLastError();
void SetLastError(DWORD error);

#define EVENT_ALL_ACCESS 0x1F0003u
