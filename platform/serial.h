// Serial ports: CreateFileW("COM0:" .. "COM9:") opens one through
// OpenComPort; ReadFile, WriteFile and CloseHandle work on the handle, and
// the read and write time-outs follow COMMTIMEOUTS as on the handheld.
//
// A port handle (owned by the caller, released with CloseHandle):
// - ReadFile returns TRUE with the bytes that arrived within the read
//   time-outs, possibly none (*read = 0 on a time-out is success).
// - Hang-up (the far side went away: an RFCOMM link dropped, the other end
//   of a pseudo-terminal closed): the bytes the port has already taken in
//   are delivered (the port takes in what the device holds, beyond what a
//   read asks for, for the next reads; a read returns TRUE with them); after
//   that every read
//   fails at once with ERROR_READ_FAULT (*read = 0) instead of waiting out
//   its time-outs, and every write fails with ERROR_WRITE_FAULT. Bytes still
//   waiting in the device's input queue when it hangs up are discarded by
//   the system (a tty flushes its input on hang-up), so a sender that must
//   not lose any waits until they have been read before it hangs up. The
//   handle stays valid until closed; the port does not come back on it (a
//   new CreateFileW opens it again).
// - WriteFile returns TRUE once all n bytes are written; it fails with
//   ERROR_TIMEOUT when the write time-outs pass first and with
//   ERROR_WRITE_FAULT when the port fails (*written = the bytes already
//   written either way).
// - CloseHandle on another thread wakes a ReadFile or WriteFile waiting on
//   the port: it returns the bytes it has, or fails (a read with
//   ERROR_READ_FAULT). The device is free to be opened again at once; the
//   old handle fails every call with ERROR_INVALID_HANDLE.
// - Calls on a handle opened without that access fail with
//   ERROR_INVALID_HANDLE.
// Where this departs from the handheld: ports are opened exclusively even
// for a second open in the same process (ERROR_SHARING_VIOLATION), and a
// hang-up is reported as ERROR_READ_FAULT / ERROR_WRITE_FAULT. Input that
// reached a tty while no one had it open is still there when it opens (a
// pseudo-terminal keeps it): PurgeComm discards it.
#pragma once

#include "platform/wintypes.h"

// The time-outs of one call, decided when it starts (all in ms):
// - a read of n bytes ends after multiplier x n + constant from its start
//   (no limit when both are 0) and, once a byte has arrived, when no other
//   follows within ReadIntervalTimeout (0: no interval limit); it returns as
//   soon as all n bytes are there;
// - interval MAXDWORD with multiplier and constant 0: a read returns at once
//   with what is buffered;
// - interval and multiplier MAXDWORD, constant between: a read returns as
//   soon as any byte is there, or after the constant;
// - a write of n bytes gives up after multiplier x n + constant (no limit
//   when both are 0).
struct COMMTIMEOUTS {
  DWORD ReadIntervalTimeout;
  DWORD ReadTotalTimeoutMultiplier;
  DWORD ReadTotalTimeoutConstant;
  DWORD WriteTotalTimeoutMultiplier;
  DWORD WriteTotalTimeoutConstant;
};
typedef COMMTIMEOUTS *LPCOMMTIMEOUTS;

// Opens port COM<index>: (index 0..9999) with GENERIC_READ / GENERIC_WRITE
// access (neither means both), in raw mode with all time-outs 0 (reads and
// writes wait without limit). Returns a handle closed with CloseHandle, or
// INVALID_HANDLE_VALUE with the reason in GetLastError:
// ERROR_FILE_NOT_FOUND when the port does not exist (or its device link is
// refused, see the trace), ERROR_SHARING_VIOLATION when it is open already
// (here or elsewhere), ERROR_GEN_FAILURE when it is no serial device or
// cannot be set up. Called by CreateFileW; the logic does not call it
// directly.
// Where the port is looked for, in order: a link COM<index> in the devices
// folder; the virtual port of a device BlueZ has paired (COM10 and up, see
// the Bluetooth keys in registry.h), a stream socket that BlueZ connects
// (waiting at most 25 s; it fails with ERROR_FILE_NOT_FOUND when the device
// cannot be reached, ERROR_ACCESS_DENIED when another program holds the
// serial port profile and a raw RFCOMM socket to the device could not be
// connected either, ERROR_TIMEOUT when BlueZ does not answer); the
// kernel's RFCOMM device /dev/rfcomm<index>. The stream socket behaves as
// the tty above: no line settings, the same time-outs, and the end of the
// stream or a socket error is the far side hanging up (a write then fails
// with ERROR_WRITE_FAULT, never with a signal).
HANDLE OpenComPort(int index, DWORD access);

// Ends the thread that serves Bluetooth serial streams (BlueZ's profile) for
// the end of the program, waiting at most timeoutMs. True when it has ended
// or never started; later opens of a BlueZ port fail.
bool StopSerialStreams(DWORD timeoutMs);

// Words for a person on why the last OpenComPort on this thread failed,
// beyond the port's name (the keyboard switched off or out of range,
// another program holding the serial port profile); empty when there are
// none. Copies at most units - 1 units and a terminator into text; returns
// the length copied.
int GetComPortProblem(WCHAR *text, int units);

// The port events a wait can be for: a byte received, and (reported only)
// a failure of the port.
constexpr DWORD EV_RXCHAR = 0x0001;
constexpr DWORD EV_ERR = 0x0080;
// Sets the events WaitCommEvent waits for (only EV_RXCHAR is supported) and
// ends a wait under way on another thread: it returns TRUE with *mask 0.
// Where this departs from the handheld: a SetCommMask made while no wait is
// under way ends the next wait the same way, at once, so that a wake is
// never lost between a caller's last look at its state and its wait.
// FALSE with ERROR_INVALID_HANDLE for a handle that is not an open port.
BOOL SetCommMask(HANDLE port, DWORD mask);
// Waits, with no time limit and reading nothing, until the port has a byte
// to read (*mask EV_RXCHAR), has hung up or failed (*mask EV_ERR: the next
// read reports it), or SetCommMask was called (*mask 0). Fails with
// ERROR_INVALID_PARAMETER when the mask has no EV_RXCHAR or overlapped is
// not null, ERROR_INVALID_HANDLE when the handle is not an open port or is
// closed during the wait.
BOOL WaitCommEvent(HANDLE port, DWORD *mask, void *overlapped);

// Discards the input waiting on the port when flags hold PURGE_RXCLEAR
// (the other PURGE_ flags are accepted and do nothing: no call is ever left
// under way to abort). A stream BlueZ connected has nothing older than its
// connection: nothing to discard. Traces how many bytes went. FALSE with
// ERROR_INVALID_HANDLE for a handle that is not an open port (or one opened
// without read access), ERROR_GEN_FAILURE when the system refuses.
constexpr DWORD PURGE_TXABORT = 0x0001;
constexpr DWORD PURGE_RXABORT = 0x0002;
constexpr DWORD PURGE_TXCLEAR = 0x0004;
constexpr DWORD PURGE_RXCLEAR = 0x0008;
BOOL PurgeComm(HANDLE port, DWORD flags);

// Read or replace the port's time-outs; a change applies to the calls that
// start after it. Return TRUE on success; FALSE with ERROR_INVALID_HANDLE
// for a handle that is not an open serial port, ERROR_INVALID_PARAMETER for
// a null timeouts.
BOOL GetCommTimeouts(HANDLE port, COMMTIMEOUTS *timeouts);
BOOL SetCommTimeouts(HANDLE port, const COMMTIMEOUTS *timeouts);
