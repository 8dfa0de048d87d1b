// Threads, sleeping and the tick count.
#include "platform/core/counted_thread.h"
#include "platform/core/kernel_object.h"
#include "platform/core/thread_identity.h"
#include "platform/threads.h"
#include "platform/trace.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace {

std::atomic<DWORD> gNextThreadId{1};
std::atomic<int> gThreadsRunning{0};
thread_local DWORD tThreadId = 0;

// The handle side of a thread: waitable, signalled when the routine returns.
class ThreadObject : public KernelObject {
public:
  DWORD Wait(DWORD milliseconds) override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (milliseconds == INFINITE)
      done_cv_.wait(lock, [this] { return done_; });
    else if (!done_cv_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                [this] { return done_; }))
      return WAIT_TIMEOUT;
    return WAIT_OBJECT_0;
  }
  void Finish(DWORD code) {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
    exitCode_ = code;
    done_cv_.notify_all();
  }

private:
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  DWORD exitCode_ = 0;
};

struct ThreadStart {
  LPTHREAD_START_ROUTINE start;
  LPVOID arg;
  DWORD id;
  std::shared_ptr<ThreadObject> object; // kept alive until the thread ends
};

void *ThreadMain(void *raw) {
  ThreadStart *ts = static_cast<ThreadStart *>(raw);
  AdoptThreadId(ts->id);
  DWORD code = ts->start(ts->arg);
  // Counted as ended before its handle is signalled: whoever waits for the
  // handle then finds the count down already.
  CountThreadEnded();
  ts->object->Finish(code);
  delete ts;
  return nullptr;
}

} // namespace

void CountThreadStarting() { gThreadsRunning.fetch_add(1, std::memory_order_acq_rel); }

void CountThreadEnded() { gThreadsRunning.fetch_sub(1, std::memory_order_acq_rel); }

int PlatformThreadsRunning() { return gThreadsRunning.load(std::memory_order_acquire); }

DWORD NewThreadId() { return gNextThreadId.fetch_add(1, std::memory_order_relaxed); }

void AdoptThreadId(DWORD id) { tThreadId = id; }

DWORD GetCurrentThreadId() {
  if (tThreadId == 0)
    tThreadId = NewThreadId();
  return tThreadId;
}

HANDLE CreateThread(void *, size_t stack, LPTHREAD_START_ROUTINE start, LPVOID arg, DWORD,
                    DWORD *threadId) {
  if (!start) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto object = std::make_shared<ThreadObject>();
  DWORD id = NewThreadId();
  ThreadStart *ts = new ThreadStart{start, arg, id, object};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (stack > 0)
    pthread_attr_setstacksize(&attr, stack < size_t(PTHREAD_STACK_MIN) ? size_t(PTHREAD_STACK_MIN) : stack);
  pthread_t thread;
  CountThreadStarting();
  int err = pthread_create(&thread, &attr, ThreadMain, ts);
  pthread_attr_destroy(&attr);
  if (err != 0) {
    CountThreadEnded();
    delete ts;
    PlatformTrace("CreateThread failed: %s", strerror(err));
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (threadId)
    *threadId = id;
  return RegisterHandle(object);
}

