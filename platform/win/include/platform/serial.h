// Windows build: serial ports through Win32's own, with the handheld's
// wait. A port handle comes from CreateFileW("COMn:") (platform/wintypes.h).
//
// - WaitCommEvent waits, reading ahead at most one byte that the next
//   ReadFile delivers first, until a byte is there (*mask EV_RXCHAR), the
//   port failed (*mask EV_ERR) or SetCommMask was called (*mask 0). It
//   never returns mask 0 on its own: a system whose own wait does not wait
//   (Wine on a pseudo-terminal) cannot make the reader spin. overlapped
//   must be null.
// - SetCommMask ends a wait under way on another thread; made while no
//   wait is under way, it ends the next wait at once.
// - GetCommTimeouts / SetCommTimeouts / PurgeComm work on the port's record
//   and the system's port.
// FALSE with ERROR_INVALID_HANDLE for a handle that is not an open port.
#pragma once

#include "platform/wintypes.h"

BOOL VantrelSetCommMask(HANDLE port, DWORD mask);
BOOL VantrelWaitCommEvent(HANDLE port, DWORD *mask, LPOVERLAPPED overlapped);
BOOL VantrelPurgeComm(HANDLE port, DWORD flags);
BOOL VantrelGetCommTimeouts(HANDLE port, COMMTIMEOUTS *timeouts);
BOOL VantrelSetCommTimeouts(HANDLE port, COMMTIMEOUTS *timeouts);
#define SetCommMask VantrelSetCommMask
#define WaitCommEvent VantrelWaitCommEvent
#define PurgeComm VantrelPurgeComm
#define GetCommTimeouts VantrelGetCommTimeouts
#define SetCommTimeouts VantrelSetCommTimeouts

// Nothing serves Bluetooth serial streams here: true at once.
bool StopSerialStreams(DWORD timeoutMs);
// Words for a person on why the last port open on this thread failed,
// beyond the port's name; empty when there are none. Copies at most
// units - 1 units and a terminator; returns the length copied.
int GetComPortProblem(WCHAR *text, int units);
