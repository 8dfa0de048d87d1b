// Per-thread message queues: posting, sending across threads, retrieval,
// dispatch, the quit request and the toolkit's pump.
#include "platform/core/clock_now.h"
#include "platform/core/window_core.h"
#include "platform/threads.h"
#include "platform/trace.h"

namespace wincore {

Core &TheCore() {
  static Core *core = new Core; // never destroyed: threads may outlive exit
  return *core;
}

WindowRecord *FindWindowLocked(Core &core, HWND hwnd) {
  auto it = core.windows.find(Id(hwnd));
  return it == core.windows.end() ? nullptr : &it->second;
}

WindowRecord *FindWindowOrFailLocked(Core &core, HWND hwnd) {
  WindowRecord *w = FindWindowLocked(core, hwnd);
  if (!w)
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return w;
}

bool QueueThreadOrFailLocked(Core &core, HWND hwnd, DWORD *thread) {
  if (!hwnd) {
    *thread = GetCurrentThreadId();
    return true;
  }
  WindowRecord *w = FindWindowOrFailLocked(core, hwnd);
  if (!w)
    return false;
  *thread = w->thread;
  return true;
}

ThreadQueue &QueueLocked(Core &core, DWORD thread) {
  std::unique_ptr<ThreadQueue> &slot = core.queues[thread];
  if (!slot)
    slot = std::make_unique<ThreadQueue>();
  return *slot;
}

void ProcessSentLocked(Core &core, ThreadQueue &queue, std::unique_lock<std::mutex> &lock) {
  while (!queue.sent.empty()) {
    SentMessage *sm = queue.sent.front();
    queue.sent.pop_front();
    WindowRecord *w = FindWindowLocked(core, sm->hwnd);
    WNDPROC proc = w ? w->proc : nullptr;
    LRESULT result = 0;
    if (proc) {
      lock.unlock();
      result = proc(sm->hwnd, sm->message, sm->wParam, sm->lParam);
      lock.lock();
    }
    sm->result = result;
    sm->done = true;
    QueueLocked(core, sm->sender).cv.notify_all();
  }
}

void ForgetWindowLocked(Core &core, uintptr_t hwnd, DWORD thread) {
  ThreadQueue &queue = QueueLocked(core, thread);
  std::erase_if(queue.posted, [hwnd](const MSG &m) { return Id(m.hwnd) == hwnd; });
  std::erase_if(queue.timers, [hwnd](const Timer &t) { return t.hwnd == hwnd; });
  for (auto it = queue.sent.begin(); it != queue.sent.end();) {
    if (Id((*it)->hwnd) == hwnd) {
      (*it)->result = 0;
      (*it)->done = true;
      QueueLocked(core, (*it)->sender).cv.notify_all();
      it = queue.sent.erase(it);
    } else {
      ++it;
    }
  }
  if (core.focus == hwnd)
    core.focus = 0;
}

} // namespace wincore

using namespace wincore;

namespace {

bool Matches(const MSG &m, HWND filter, UINT min, UINT max) {
  if (filter && m.hwnd != filter)
    return false;
  return (min == 0 && max == 0) || (m.message >= min && m.message <= max);
}

// Retrieval order: posted messages, then the quit request, then due timers
// (timers yield to posted messages, as on the handheld). A posted message
// whose window has gone is dropped here.
bool TakeMessageLocked(Core &core, ThreadQueue &queue, HWND filter, UINT min, UINT max,
                       bool remove, MSG *msg) {
  for (auto it = queue.posted.begin(); it != queue.posted.end();) {
    if (it->hwnd && !FindWindowLocked(core, it->hwnd)) {
      it = queue.posted.erase(it);
      continue;
    }
    if (Matches(*it, filter, min, max)) {
      *msg = *it;
      if (remove)
        queue.posted.erase(it);
      return true;
    }
    ++it;
  }
  if (queue.quit) {
    *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0, GetTickCount(), {0, 0}};
    if (remove)
      queue.quit = false;
    return true;
  }
  if (min == 0 && max == 0 ? true : (WM_TIMER >= min && WM_TIMER <= max))
    return TakeDueTimerLocked(queue, filter, remove, msg);
  return false;
}

} // namespace

namespace {

// Queues the message for `thread` (the caller holds the core's lock, which
// this releases).
BOOL PostToThreadLocked(Core &core, std::unique_lock<std::mutex> &lock, DWORD thread, HWND hwnd,
                        UINT message, WPARAM wParam, LPARAM lParam) {
  ThreadQueue &queue = QueueLocked(core, thread);
  if (queue.posted.size() >= kPostedLimit) {
    bool first = !queue.overflowing;
    queue.overflowing = true;
    lock.unlock();
    if (first)
      PlatformTrace("messages: queue of thread %u is full (%zu messages), dropping message 0x%x",
                    static_cast<unsigned>(thread), kPostedLimit, message);
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return FALSE;
  }
  if (queue.overflowing && queue.posted.size() < kPostedLimit / 2)
    queue.overflowing = false; // drained: the next overflow is traced again
  queue.posted.push_back(MSG{hwnd, message, wParam, lParam, GetTickCount(), {0, 0}});
  queue.cv.notify_all();
  Wake wake = WakeFor(core, thread);
  lock.unlock();
  wake();
  return TRUE;
}

} // namespace

BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Core &core = TheCore();
  std::unique_lock<std::mutex> lock(core.mutex);
  DWORD thread; // a null hwnd posts a thread message, as on the handheld
  if (!QueueThreadOrFailLocked(core, hwnd, &thread))
    return FALSE;
  return PostToThreadLocked(core, lock, thread, hwnd, message, wParam, lParam);
}

BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  if (threadId == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Core &core = TheCore();
  std::unique_lock<std::mutex> lock(core.mutex);
  return PostToThreadLocked(core, lock, threadId, nullptr, message, wParam, lParam);
}

LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Core &core = TheCore();
  DWORD me = GetCurrentThreadId();
  std::unique_lock<std::mutex> lock(core.mutex);
  WindowRecord *w = FindWindowOrFailLocked(core, hwnd);
  if (!w)
    return 0;
  if (w->thread == me) {
    WNDPROC proc = w->proc;
    lock.unlock();
    return proc ? proc(hwnd, message, wParam, lParam) : 0;
  }
  SentMessage sm{hwnd, message, wParam, lParam, me};
  DWORD target = w->thread;
  ThreadQueue &targetQueue = QueueLocked(core, target);
  targetQueue.sent.push_back(&sm);
  targetQueue.cv.notify_all();
  Wake wake = WakeFor(core, target);
  lock.unlock();
  wake();
  lock.lock();
  // While waiting, messages sent to this thread are still handled, so two
  // threads sending to each other do not lock up.
  ThreadQueue &mine = QueueLocked(core, me);
  while (!sm.done) {
    ProcessSentLocked(core, mine, lock);
    if (!sm.done)
      mine.cv.wait(lock);
  }
  return sm.result;
}

BOOL GetMessageW(MSG *msg, HWND hwnd, UINT filterMin, UINT filterMax) {
  Core &core = TheCore();
  DWORD me = GetCurrentThreadId();
  std::unique_lock<std::mutex> lock(core.mutex);
  ThreadQueue &queue = QueueLocked(core, me);
  for (;;) {
    ProcessSentLocked(core, queue, lock);
    if (TakeMessageLocked(core, queue, hwnd, filterMin, filterMax, true, msg))
      return msg->message != WM_QUIT;
    if (core.hooks.wait) {
      // The toolkit's thread waits inside the toolkit's loop, which keeps
      // windows painting; its wake hook ends the wait when a message comes.
      bool (*wait)(void *) = core.hooks.wait;
      void *context = core.hooks.context;
      lock.unlock();
      bool waited = wait(context);
      lock.lock();
      if (waited)
        continue;
    }
    Clock::time_point due;
    bool timersWanted = (filterMin == 0 && filterMax == 0) ||
                        (WM_TIMER >= filterMin && WM_TIMER <= filterMax);
    // On a virtual clock a deadline is reached only by advancing the clock,
    // which wakes this wait.
    if (timersWanted && !ClockIsVirtual() && NextDeadlineLocked(queue, hwnd, &due))
      queue.cv.wait_until(lock, due);
    else
      queue.cv.wait(lock);
  }
}

BOOL PeekMessageW(MSG *msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT remove) {
  Core &core = TheCore();
  DWORD me = GetCurrentThreadId();
  std::unique_lock<std::mutex> lock(core.mutex);
  ThreadQueue &queue = QueueLocked(core, me);
  ProcessSentLocked(core, queue, lock);
  return TakeMessageLocked(core, queue, hwnd, filterMin, filterMax, remove & PM_REMOVE, msg);
}

BOOL TranslateMessage(const MSG *) { return FALSE; } // key messages come from the toolkit

LRESULT DispatchMessageW(const MSG *msg) {
  if (!msg)
    return 0;
  if (msg->message == WM_TIMER && msg->lParam) {
    // A timer with its own procedure: called instead of the window's.
    TIMERPROC proc = reinterpret_cast<TIMERPROC>(msg->lParam);
    proc(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
    return 0;
  }
  if (!msg->hwnd)
    return 0;
  Core &core = TheCore();
  WNDPROC proc;
  {
    std::lock_guard<std::mutex> lock(core.mutex);
    WindowRecord *w = FindWindowLocked(core, msg->hwnd);
    proc = w ? w->proc : nullptr;
  }
  return proc ? proc(msg->hwnd, msg->message, msg->wParam, msg->lParam) : 0;
}

void PostQuitMessage(int exitCode) {
  Core &core = TheCore();
  DWORD me = GetCurrentThreadId();
  std::unique_lock<std::mutex> lock(core.mutex);
  ThreadQueue &queue = QueueLocked(core, me);
  queue.quit = true;
  queue.quitCode = exitCode;
  queue.cv.notify_all();
  Wake wake = WakeFor(core, me);
  lock.unlock();
  wake();
}

bool PumpThreadMessages(int *exitCode) {
  // Bounded, so that a window that keeps posting to itself cannot hold the
  // toolkit's loop; what is left is picked up by the next pump.
  for (int i = 0; i < 1000; ++i) {
    MSG msg;
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      return true;
    if (msg.message == WM_QUIT) {
      if (exitCode)
        *exitCode = static_cast<int>(msg.wParam);
      return false;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  Core &core = TheCore();
  Wake wake;
  {
    std::lock_guard<std::mutex> lock(core.mutex);
    wake = WakeFor(core, GetCurrentThreadId());
  }
  wake();
  return true;
}
