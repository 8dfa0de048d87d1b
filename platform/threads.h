// Threads, events, sleeping and the last-error value.
#pragma once

#include "platform/wintypes.h"

typedef DWORD (*LPTHREAD_START_ROUTINE)(LPVOID);

#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu

// The thread runs on its own; closing the handle does not stop it.
HANDLE CreateThread(void *security, size_t stack, LPTHREAD_START_ROUTINE start, LPVOID arg,
                    DWORD flags, DWORD *threadId);
// Named events are shared within the process: creating an existing name
// returns a new handle to the same event (GetLastError = ERROR_ALREADY_EXISTS).
HANDLE CreateEventW(void *security, BOOL manualReset, BOOL initialState, LPCWSTR name);
HANDLE OpenEventW(DWORD access, BOOL inherit, LPCWSTR name); // nullptr when absent
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds);
// Closes any handle issued by the platform layer (file, search excluded, port,
// event, thread).
BOOL CloseHandle(HANDLE h);
// Both run on the process's clock: the real one, or a test's virtual clock
// (platform/clock.h). GetTickCount counts milliseconds and wraps after 49.7
// days.
void Sleep(DWORD milliseconds);
DWORD GetTickCount();
DWORD GetCurrentThreadId();
DWORD GetLastError();
void SetLastError(DWORD error);

#define EVENT_ALL_ACCESS 0x1F0003u
