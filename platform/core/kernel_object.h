// Kernel objects and the handle table (internal to the platform layer).
//
// Files, search handles, events, threads and serial ports are KernelObjects.
// A HANDLE is a small number issued by the table, never a pointer, and never
// reused during the process, so a closed or made-up handle is recognised and
// refused (ERROR_INVALID_HANDLE) instead of being followed.
//
// Ownership: the table holds one shared reference per handle; CloseHandle
// drops it. A call in progress (a blocking ReadFile, a WaitForSingleObject)
// holds its own reference, so closing a handle from another thread never
// frees an object under a running call; the object is destroyed when the
// last reference goes, and its destructor releases what it holds (fd, ...).
#pragma once

#include "platform/threads.h"
#include "platform/wintypes.h"

#include <memory>

class KernelObject {
public:
  virtual ~KernelObject() = default;
  // ReadFile / WriteFile. The defaults refuse with ERROR_INVALID_HANDLE.
  virtual BOOL Read(void *buffer, DWORD n, DWORD *read);
  virtual BOOL Write(const void *buffer, DWORD n, DWORD *written);
  // WaitForSingleObject: WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED (default).
  virtual DWORD Wait(DWORD milliseconds);
  // Called when a handle to the object is closed, before the table lets go
  // of it (a serial port may wake its blocked readers here). Default: nothing.
  virtual void HandleClosed() {}
};

// Issues a new handle for the object. Returns nullptr (and sets
// ERROR_NOT_ENOUGH_MEMORY) only when obj is null.
HANDLE RegisterHandle(std::shared_ptr<KernelObject> obj);
// The object behind a handle, or null (the last error is then
// ERROR_INVALID_HANDLE).
std::shared_ptr<KernelObject> LookupHandle(HANDLE h);
template <typename T> std::shared_ptr<T> LookupHandleAs(HANDLE h) {
  auto obj = std::dynamic_pointer_cast<T>(LookupHandle(h));
  if (!obj)
    SetLastError(ERROR_INVALID_HANDLE);
  return obj;
}
// Removes the handle from the table; returns the object it named (null when
// the handle was not valid).
std::shared_ptr<KernelObject> ReleaseHandle(HANDLE h);
