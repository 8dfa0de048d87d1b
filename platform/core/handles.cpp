// The handle table, the calls that work on any handle, and the per-thread
// last-error value.
#include "platform/core/kernel_object.h"
#include "platform/files.h"

#include <mutex>
#include <unordered_map>

namespace {

std::mutex gHandleMutex;
std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> gHandles;
// Handles start well above small integers and step by 4, so that neither 0,
// -1 (INVALID_HANDLE_VALUE) nor a confused small number is ever valid.
uintptr_t gNextHandle = 0x10000;

thread_local DWORD tLastError = 0;

} // namespace

DWORD GetLastError() { return tLastError; }
void SetLastError(DWORD error) { tLastError = error; }

BOOL KernelObject::Read(void *, DWORD, DWORD *read) {
  if (read)
    *read = 0;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

BOOL KernelObject::Write(const void *, DWORD, DWORD *written) {
  if (written)
    *written = 0;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

DWORD KernelObject::Wait(DWORD) {
  SetLastError(ERROR_INVALID_HANDLE);
  return WAIT_FAILED;
}

HANDLE RegisterHandle(std::shared_ptr<KernelObject> obj) {
  if (!obj) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(gHandleMutex);
  uintptr_t value = gNextHandle;
  gNextHandle += 4;
  gHandles.emplace(value, std::move(obj));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE h) {
  {
    std::lock_guard<std::mutex> lock(gHandleMutex);
    auto it = gHandles.find(reinterpret_cast<uintptr_t>(h));
    if (it != gHandles.end())
      return it->second;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

std::shared_ptr<KernelObject> ReleaseHandle(HANDLE h) {
  std::shared_ptr<KernelObject> obj;
  {
    std::lock_guard<std::mutex> lock(gHandleMutex);
    auto it = gHandles.find(reinterpret_cast<uintptr_t>(h));
    if (it == gHandles.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
    obj = std::move(it->second);
    gHandles.erase(it);
  }
  return obj;
}

BOOL CloseHandle(HANDLE h) {
  std::shared_ptr<KernelObject> obj = ReleaseHandle(h);
  if (!obj)
    return FALSE;
  obj->HandleClosed();
  return TRUE; // the object goes when the last call using it returns
}

namespace {

// ReadFile and WriteFile: the object's Read or Write, with the count zeroed
// first and set to what moved.
template <typename Buffer>
BOOL Transfer(HANDLE h, Buffer buffer, DWORD n, DWORD *done,
              BOOL (KernelObject::*move)(Buffer, DWORD, DWORD *)) {
  if (done)
    *done = 0;
  std::shared_ptr<KernelObject> obj = LookupHandle(h);
  if (!obj)
    return FALSE;
  if (!buffer && n > 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD moved = 0;
  BOOL ok = ((*obj).*move)(buffer, n, &moved);
  if (done)
    *done = moved;
  return ok;
}

} // namespace

BOOL ReadFile(HANDLE h, void *buffer, DWORD n, DWORD *read, void *) {
  return Transfer(h, buffer, n, read, &KernelObject::Read);
}

BOOL WriteFile(HANDLE h, const void *buffer, DWORD n, DWORD *written, void *) {
  return Transfer(h, buffer, n, written, &KernelObject::Write);
}

DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds) {
  std::shared_ptr<KernelObject> obj = LookupHandle(h);
  if (!obj)
    return WAIT_FAILED;
  return obj->Wait(milliseconds);
}
