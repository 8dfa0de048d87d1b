// Shared state of the window and message core (internal to platform/core: a
// toolkit backend goes through window_toolkit.h and never takes the lock).
// One mutex guards all of it: every operation is a short update, and one
// lock keeps the ordering between windows, queues and timers simple. Window
// procedures, timer procedures and toolkit hooks are never called with the
// mutex held.
#pragma once

#include "platform/window.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace wincore {

using Clock = std::chrono::steady_clock;

struct WindowRecord {
  WNDPROC proc = nullptr;
  DWORD thread = 0;        // the thread whose queue receives its messages
  uintptr_t parent = 0;    // parent (child windows) or owner, 0 for none
  bool child = false;      // WS_CHILD: parent is a parent, not an owner
  bool visible = false;
  bool destroying = false; // DestroyWindow under way; still a window
  DWORD style = 0, exStyle = 0;
  LONG_PTR id = 0;
  LONG_PTR userData = 0;
  std::map<int, LONG_PTR> extra; // non-negative GetWindowLongW indices
  std::u16string className, title;
  // Where the window is (top-level: its client area in screen coordinates;
  // child: its rectangle in the parent's client area), as created, moved by
  // the program, or last reported by the toolkit that shows it.
  RECT rect{};
  bool invalid = false; // needs painting: InvalidateRect until WM_PAINT
};

struct Timer {
  uintptr_t hwnd;
  UINT_PTR id;
  UINT period;
  Clock::time_point due;
  TIMERPROC proc;
};

// A message sent from another thread; lives on the sender's stack until done.
struct SentMessage {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD sender;
  LRESULT result = 0;
  bool done = false;
};

// Posted messages a thread's queue holds at most; a post beyond it fails
// (ERROR_NOT_ENOUGH_QUOTA), so a thread that is flooded, or one whose queue
// nothing reads, cannot grow without bound.
constexpr size_t kPostedLimit = 10000;

struct ThreadQueue {
  std::deque<MSG> posted;
  bool overflowing = false; // a post was refused; traced once until it drains
  std::deque<SentMessage *> sent;
  std::vector<Timer> timers;
  // The deadline last given to the toolkit's timerDue hook, which keeps it
  // in a timer of its own (toolkitArmed false: none given, or none left).
  Clock::time_point toolkitDue{};
  bool toolkitArmed = false;
  bool quit = false;
  int quitCode = 0;
  std::condition_variable cv; // only the owning thread waits on it
};

struct ClassRecord {
  WNDCLASSW cls{};
  std::u16string name;
  ATOM atom = 0;
};

struct Core {
  std::mutex mutex;
  std::unordered_map<uintptr_t, WindowRecord> windows;
  std::unordered_map<DWORD, std::unique_ptr<ThreadQueue>> queues;
  std::map<std::u16string, ClassRecord> classes; // key: name in lower case
  uintptr_t nextWindow = 0x20000;                // window ids step by 4
  ATOM nextAtom = 0xC000;
  UINT_PTR nextThreadTimer = 0x7F000000;
  WindowSystemHooks hooks{};
  uintptr_t focus = 0; // headless focus window
};

Core &TheCore();

inline uintptr_t Id(HWND h) { return reinterpret_cast<uintptr_t>(h); }
inline HWND Handle(uintptr_t id) { return reinterpret_cast<HWND>(id); }

// With the mutex held: the window record, or null for an unknown handle.
WindowRecord *FindWindowLocked(Core &core, HWND hwnd);
// The same, setting ERROR_INVALID_WINDOW_HANDLE for an unknown handle.
WindowRecord *FindWindowOrFailLocked(Core &core, HWND hwnd);
// With the mutex held: the thread whose queue serves hwnd (the calling
// thread for a null hwnd: thread messages and thread timers). False, with
// ERROR_INVALID_WINDOW_HANDLE, for an unknown handle.
bool QueueThreadOrFailLocked(Core &core, HWND hwnd, DWORD *thread);
// Locks the core and runs use(core, window) on the live window hwnd names.
// Returns false, without calling `use`, for an unknown handle; with
// failUnknown that also sets ERROR_INVALID_WINDOW_HANDLE, as the Win32 calls
// do. `use` runs under the lock: it must not call back into the core.
template <class Use> bool WithWindow(HWND hwnd, Use &&use, bool failUnknown = false) {
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  WindowRecord *w = failUnknown ? FindWindowOrFailLocked(core, hwnd) : FindWindowLocked(core, hwnd);
  if (!w)
    return false;
  use(core, *w);
  return true;
}
// With the mutex held: the class a window was made from, or null when it
// has been unregistered since.
ClassRecord *ClassOfWindowLocked(Core &core, const WindowRecord &w);
// With the mutex held: the queue of a thread, created on first use.
ThreadQueue &QueueLocked(Core &core, DWORD thread);
// The toolkit's wake callback for a thread, called after the mutex is let go.
struct Wake {
  void (*fn)(DWORD, void *) = nullptr;
  void *context = nullptr;
  DWORD thread = 0;
  void operator()() const {
    if (fn)
      fn(thread, context);
  }
};
inline Wake WakeFor(Core &core, DWORD thread) { return Wake{core.hooks.wake, core.hooks.context, thread}; }

// With the mutex held: handles the messages other threads have sent to this
// queue's thread (the lock is let go around each window procedure call).
void ProcessSentLocked(Core &core, ThreadQueue &queue, std::unique_lock<std::mutex> &lock);
// With the mutex held: takes (or, without remove, copies) the next due timer
// of the queue as a WM_TIMER message; false when none is due.
bool TakeDueTimerLocked(ThreadQueue &queue, HWND filter, bool remove, MSG *msg);
// With the mutex held: the earliest deadline of the queue's timers (those of
// window `filter` only, when not null), if any.
bool NextDeadlineLocked(const ThreadQueue &queue, HWND filter, Clock::time_point *due);
// With the mutex held: forgets everything queued for a window that is gone
// (posted messages, timers) and completes messages sent to it with 0.
void ForgetWindowLocked(Core &core, uintptr_t hwnd, DWORD thread);

} // namespace wincore
