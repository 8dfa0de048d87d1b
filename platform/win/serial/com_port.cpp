// Serial ports on Windows: a port named "COMn:" is opened as \\.\COMn for
// overlapped I/O, so that a wait for input (a pending read) never blocks a
// write from another thread on the same handle, and a close or SetCommMask
// from another thread can end it. The wait reads ahead one byte with its
// own time-outs instead of using the system's WaitCommEvent, which under
// Wine returns at once with an empty mask on a pseudo-terminal and would
// make the reader spin.
#include "platform/serial.h"

#include "platform/files.h"
#include "platform/text.h"
#include "platform/trace.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/win/core/real_calls.h"

namespace {

// How long one read-ahead waits before it is started again (a wake-up a
// minute, never a spin).
constexpr DWORD kWaitSliceMs = 60000;
// A read-ahead that ends empty sooner than this is a system that does not
// wait: the next one starts after a pause of kEmptyPauseMs.
constexpr DWORD kEmptyQuickMs = 50;
constexpr DWORD kEmptyPauseMs = 50;

struct Port {
  HANDLE handle = INVALID_HANDLE_VALUE;
  HANDLE wake = nullptr;       // auto-reset: SetCommMask ends a wait
  HANDLE readDone = nullptr;   // manual-reset: the reader's overlapped calls
  HANDLE writeDone = nullptr;  // manual-reset: the writers' overlapped calls
  std::mutex timeoutsMutex;    // the system's time-outs and the call that uses them
  std::mutex writeMutex;
  COMMTIMEOUTS timeouts = {};  // the caller's
  bool readAccess = false;
  bool writeAccess = false;
  int ahead = -1;              // a byte the wait took in, for the next read
  bool failed = false;         // the port failed: reads and waits say so
  std::atomic<bool> closed{false};
  ~Port() {
    if (wake)
      ::CloseHandle(wake);
    if (readDone)
      ::CloseHandle(readDone);
    if (writeDone)
      ::CloseHandle(writeDone);
  }
};

std::mutex gPortsMutex;
std::map<HANDLE, std::shared_ptr<Port>> gPorts;
thread_local std::u16string gProblem;

std::shared_ptr<Port> Find(HANDLE h) {
  std::lock_guard<std::mutex> lock(gPortsMutex);
  auto it = gPorts.find(h);
  return it == gPorts.end() ? nullptr : it->second;
}

// Whether a plain (not overlapped) read or write may go to port now: it was
// opened for it (access) and is not closing. Else false, with
// ERROR_INVALID_HANDLE.
bool Usable(const Port &port, bool access, LPOVERLAPPED overlapped) {
  if (!access || overlapped || port.closed) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return true;
}

// The port behind h for one of the port's own calls, or null with the
// error set as Win32 sets it: ERROR_INVALID_HANDLE when h is no port of
// ours (or, with reading, one opened without read access),
// ERROR_INVALID_PARAMETER when the call's argument is missing.
std::shared_ptr<Port> PortForCall(HANDLE h, bool argumentGiven, bool reading = false) {
  std::shared_ptr<Port> port = Find(h);
  if (!port || (reading && !port->readAccess)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!argumentGiven) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return port;
}

// "COM3:", "com12" (and "\\.\COM12"): the port's number, else -1.
int PortNumber(LPCWSTR path) {
  if (!path)
    return -1;
  if (wcsncmp(path, u"\\\\.\\", 4) == 0)
    path += 4;
  if ((path[0] | 0x20) != u'c' || (path[1] | 0x20) != u'o' || (path[2] | 0x20) != u'm')
    return -1;
  int n = 0, digits = 0;
  const WCHAR *p = path + 3;
  for (; *p >= u'0' && *p <= u'9' && digits < 4; ++p, ++digits)
    n = n * 10 + (*p - u'0');
  if (digits == 0 || (*p == u':' ? p[1] != 0 : *p != 0))
    return -1;
  return n;
}

// Starts an overlapped call and waits for it (or, with wake, for a wake);
// the bytes moved in *done. Returns the system's error, ERROR_SUCCESS, or
// WAIT_IO_COMPLETION for a wake (the call then cancelled).
DWORD Finish(Port &port, BOOL started, OVERLAPPED &ov, DWORD *done, HANDLE wake) {
  *done = 0;
  if (!started) {
    DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING)
      return error;
    HANDLE events[2] = {ov.hEvent, wake};
    DWORD which = WaitForMultipleObjects(wake ? 2 : 1, events, FALSE, INFINITE);
    if (which == WAIT_OBJECT_0 + 1) {
      CancelIoEx(port.handle, &ov);
      GetOverlappedResult(port.handle, &ov, done, TRUE);
      return WAIT_IO_COMPLETION;
    }
  }
  if (!GetOverlappedResult(port.handle, &ov, done, TRUE))
    return GetLastError();
  return ERROR_SUCCESS;
}

// One overlapped read with the given time-outs.
DWORD TimedRead(Port &port, const COMMTIMEOUTS &timeouts, BYTE *buffer, DWORD n, DWORD *done,
                HANDLE wake) {
  OVERLAPPED ov = {};
  ov.hEvent = port.readDone;
  ResetEvent(port.readDone);
  BOOL started;
  {
    std::lock_guard<std::mutex> lock(port.timeoutsMutex);
    COMMTIMEOUTS t = timeouts;
    t.WriteTotalTimeoutConstant = port.timeouts.WriteTotalTimeoutConstant;
    t.WriteTotalTimeoutMultiplier = port.timeouts.WriteTotalTimeoutMultiplier;
    ::SetCommTimeouts(port.handle, &t);
    started = ::ReadFile(port.handle, buffer, n, nullptr, &ov);
  }
  return Finish(port, started, ov, done, wake);
}

void SetUpLine(HANDLE h) {
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  if (GetCommState(h, &dcb)) {
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    if (!SetCommState(h, &dcb))
      PlatformTrace("serial: line settings refused (error %lu); kept as they are", GetLastError());
  }
}

HANDLE OpenPort(int number, DWORD access) {
  WCHAR name[24];
  wnsprintfW(name, 24, u"\\\\.\\COM%d", number);
  if (!(access & (GENERIC_READ | GENERIC_WRITE)))
    access |= GENERIC_READ | GENERIC_WRITE;
  HANDLE h = ::CreateFileW(name, access, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    PlatformTrace("serial: COM%d cannot be opened (error %lu)", number, error);
    // Windows says "access denied" for a port another program holds.
    if (error == ERROR_ACCESS_DENIED) {
      gProblem = u"another program is using the port";
      error = ERROR_SHARING_VIOLATION;
    } else if (error == ERROR_SEM_TIMEOUT || error == ERROR_GEN_FAILURE) {
      gProblem = u"the keyboard is switched off or out of range";
    }
    if (error == ERROR_PATH_NOT_FOUND)
      error = ERROR_FILE_NOT_FOUND;
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  SetUpLine(h);
  auto port = std::make_shared<Port>();
  port->handle = h;
  port->readAccess = access & GENERIC_READ;
  port->writeAccess = access & GENERIC_WRITE;
  port->wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  port->readDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  port->writeDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  COMMTIMEOUTS none = {};
  ::SetCommTimeouts(h, &none);
  {
    std::lock_guard<std::mutex> lock(gPortsMutex);
    gPorts[h] = port;
  }
  PlatformTrace("serial: COM%d open", number);
  return h;
}

} // namespace

HANDLE VantrelCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD creation, DWORD flags, HANDLE templ) {
  const int number = PortNumber(path);
  if (number >= 0) {
    gProblem.clear();
    return OpenPort(number, access);
  }
  return ::CreateFileW(path, access, share, security, creation, flags, templ);
}

BOOL VantrelReadFile(HANDLE h, void *buffer, DWORD n, DWORD *read, LPOVERLAPPED overlapped) {
  std::shared_ptr<Port> port = Find(h);
  if (!port)
    return ::ReadFile(h, buffer, n, read, overlapped);
  if (read)
    *read = 0;
  if (!Usable(*port, port->readAccess, overlapped))
    return FALSE;
  if (!buffer && n > 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  BYTE *out = static_cast<BYTE *>(buffer);
  DWORD have = 0;
  COMMTIMEOUTS timeouts;
  {
    std::lock_guard<std::mutex> lock(port->timeoutsMutex);
    timeouts = port->timeouts;
  }
  if (port->ahead >= 0 && n > 0) {
    out[have++] = static_cast<BYTE>(port->ahead);
    port->ahead = -1;
    // The rest is what is there now: the first byte has been waited for.
    timeouts = {MAXDWORD, 0, 0, 0, 0};
  }
  if (port->failed && have == 0) {
    SetLastError(ERROR_READ_FAULT);
    return FALSE;
  }
  if (have < n && !port->failed) {
    DWORD done = 0;
    DWORD error = TimedRead(*port, timeouts, out + have, n - have, &done, nullptr);
    have += done;
    if (error != ERROR_SUCCESS) {
      PlatformTrace("serial: read failed (error %lu)", error);
      port->failed = true;
      if (have == 0) {
        SetLastError(port->closed ? ERROR_INVALID_HANDLE : ERROR_READ_FAULT);
        return FALSE;
      }
    }
  }
  if (read)
    *read = have;
  return TRUE;
}

BOOL VantrelWriteFile(HANDLE h, const void *buffer, DWORD n, DWORD *written,
                      LPOVERLAPPED overlapped) {
  std::shared_ptr<Port> port = Find(h);
  if (!port)
    return ::WriteFile(h, buffer, n, written, overlapped);
  if (written)
    *written = 0;
  if (!Usable(*port, port->writeAccess, overlapped))
    return FALSE;
  std::lock_guard<std::mutex> writing(port->writeMutex);
  OVERLAPPED ov = {};
  ov.hEvent = port->writeDone;
  ResetEvent(port->writeDone);
  BOOL started;
  {
    std::lock_guard<std::mutex> lock(port->timeoutsMutex);
    ::SetCommTimeouts(port->handle, &port->timeouts);
    started = ::WriteFile(port->handle, buffer, n, nullptr, &ov);
  }
  DWORD done = 0;
  DWORD error = Finish(*port, started, ov, &done, nullptr);
  if (written)
    *written = done;
  if (error == ERROR_SUCCESS && done == n)
    return TRUE;
  if (error == ERROR_SUCCESS || error == ERROR_SEM_TIMEOUT || error == ERROR_TIMEOUT) {
    SetLastError(ERROR_TIMEOUT);
    return FALSE;
  }
  PlatformTrace("serial: write failed (error %lu)", error);
  SetLastError(port->closed ? ERROR_INVALID_HANDLE : ERROR_WRITE_FAULT);
  return FALSE;
}

BOOL VantrelCloseHandle(HANDLE h) {
  std::shared_ptr<Port> port;
  {
    std::lock_guard<std::mutex> lock(gPortsMutex);
    auto it = gPorts.find(h);
    if (it != gPorts.end()) {
      port = it->second;
      gPorts.erase(it);
    }
  }
  if (!port)
    return ::CloseHandle(h);
  // A wait or read under way on another thread ends with the port's end.
  port->closed = true;
  CancelIoEx(h, nullptr);
  SetEvent(port->wake);
  PlatformTrace("serial: port closed");
  return ::CloseHandle(h);
}

BOOL VantrelSetCommMask(HANDLE h, DWORD) {
  std::shared_ptr<Port> port = PortForCall(h, true);
  if (!port)
    return FALSE;
  // An auto-reset event: a wake made while no wait runs ends the next one.
  SetEvent(port->wake);
  return TRUE;
}

BOOL VantrelWaitCommEvent(HANDLE h, DWORD *mask, LPOVERLAPPED overlapped) {
  std::shared_ptr<Port> port = PortForCall(h, mask && !overlapped, true);
  if (!port)
    return FALSE;
  for (;;) {
    if (port->closed) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (WaitForSingleObject(port->wake, 0) == WAIT_OBJECT_0) {
      *mask = 0;
      return TRUE;
    }
    if (port->ahead >= 0) {
      *mask = EV_RXCHAR;
      return TRUE;
    }
    if (port->failed) {
      *mask = EV_ERR;
      return TRUE;
    }
    // Returns as soon as a byte is there, or after the slice.
    const COMMTIMEOUTS anyByte = {MAXDWORD, MAXDWORD, kWaitSliceMs, 0, 0};
    BYTE byte = 0;
    DWORD done = 0;
    const DWORD start = GetTickCount();
    DWORD error = TimedRead(*port, anyByte, &byte, 1, &done, port->wake);
    if (done == 1)
      port->ahead = byte;
    if (error == WAIT_IO_COMPLETION) {
      if (port->closed)
        continue;
      *mask = done == 1 ? EV_RXCHAR : 0;
      return TRUE;
    }
    if (error != ERROR_SUCCESS) {
      if (!port->closed)
        PlatformTrace("serial: wait failed (error %lu)", error);
      port->failed = !port->closed;
      continue;
    }
    if (done == 0 && GetTickCount() - start < kEmptyQuickMs) {
      // Nothing, at once: the system did not wait. Pause (a wake still
      // ends the pause) rather than ask again straight away.
      if (WaitForSingleObject(port->wake, kEmptyPauseMs) == WAIT_OBJECT_0) {
        *mask = 0;
        return TRUE;
      }
    }
  }
}

BOOL VantrelPurgeComm(HANDLE h, DWORD flags) {
  std::shared_ptr<Port> port = PortForCall(h, true, true);
  if (!port)
    return FALSE;
  if (flags & PURGE_RXCLEAR)
    port->ahead = -1;
  if (!::PurgeComm(h, flags & (PURGE_RXCLEAR | PURGE_TXCLEAR))) {
    PlatformTrace("serial: purge refused (error %lu)", GetLastError());
    return TRUE; // nothing was waiting that the system could tell of
  }
  return TRUE;
}

BOOL VantrelGetCommTimeouts(HANDLE h, COMMTIMEOUTS *timeouts) {
  std::shared_ptr<Port> port = PortForCall(h, timeouts != nullptr);
  if (!port)
    return FALSE;
  std::lock_guard<std::mutex> lock(port->timeoutsMutex);
  *timeouts = port->timeouts;
  return TRUE;
}

BOOL VantrelSetCommTimeouts(HANDLE h, COMMTIMEOUTS *timeouts) {
  std::shared_ptr<Port> port = PortForCall(h, timeouts != nullptr);
  if (!port)
    return FALSE;
  std::lock_guard<std::mutex> lock(port->timeoutsMutex);
  port->timeouts = *timeouts;
  return TRUE;
}

bool StopSerialStreams(DWORD) { return true; }

int GetComPortProblem(WCHAR *text, int units) {
  if (!text || units <= 0)
    return 0;
  WStrCopyN(text, static_cast<size_t>(units), gProblem.c_str());
  return static_cast<int>(wcslen(text));
}
