// Events: auto-reset and manual-reset, optionally named. A name is shared
// within the process while any handle to the event is open.
#include "platform/core/kernel_object.h"
#include "platform/threads.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>

namespace {

class EventObject : public KernelObject {
public:
  explicit EventObject(bool manualReset, bool signalled)
      : manual_(manualReset), signalled_(signalled) {}

  DWORD Wait(DWORD milliseconds) override {
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [this] { return signalled_; };
    if (milliseconds == INFINITE)
      cv_.wait(lock, ready);
    else if (!cv_.wait_for(lock, std::chrono::milliseconds(milliseconds), ready))
      return WAIT_TIMEOUT;
    if (!manual_)
      signalled_ = false; // an auto-reset event releases one waiter
    return WAIT_OBJECT_0;
  }
  void Set() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
    if (manual_)
      cv_.notify_all();
    else
      cv_.notify_one();
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = false;
  }

private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool manual_;
  bool signalled_;
};

std::mutex gNamesMutex;
std::map<std::u16string, std::weak_ptr<EventObject>> gNamedEvents;

} // namespace

HANDLE CreateEventW(void *, BOOL manualReset, BOOL initialState, LPCWSTR name) {
  if (!name || !*name) {
    HANDLE h = RegisterHandle(std::make_shared<EventObject>(manualReset, initialState));
    SetLastError(ERROR_SUCCESS);
    return h;
  }
  std::shared_ptr<EventObject> event;
  bool existed = false;
  {
    std::lock_guard<std::mutex> lock(gNamesMutex);
    std::weak_ptr<EventObject> &slot = gNamedEvents[name];
    event = slot.lock();
    existed = event != nullptr;
    if (!event) {
      event = std::make_shared<EventObject>(manualReset, initialState);
      slot = event;
    }
  }
  HANDLE h = RegisterHandle(event);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

HANDLE OpenEventW(DWORD, BOOL, LPCWSTR name) {
  std::shared_ptr<EventObject> event;
  if (name) {
    std::lock_guard<std::mutex> lock(gNamesMutex);
    auto it = gNamedEvents.find(name);
    if (it != gNamedEvents.end())
      event = it->second.lock();
  }
  if (!event) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  return RegisterHandle(event);
}

BOOL SetEvent(HANDLE h) {
  auto event = LookupHandleAs<EventObject>(h);
  if (!event)
    return FALSE;
  event->Set();
  return TRUE;
}

BOOL ResetEvent(HANDLE h) {
  auto event = LookupHandleAs<EventObject>(h);
  if (!event)
    return FALSE;
  event->Reset();
  return TRUE;
}
