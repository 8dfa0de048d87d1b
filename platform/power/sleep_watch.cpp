// The machine's sleep and resume, as logind announces them on the system bus
// (org.freedesktop.login1.Manager's PrepareForSleep signal: true before the
// machine sleeps, false once it has resumed), handed on as a posted window
// message. One thread owns the bus connection and does nothing but listen.
#include "platform/power.h"

#include "platform/core/counted_thread.h"
#include "platform/dbus/desktop_bus.h"
#include "platform/trace.h"
#include "platform/window.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr char kLogind[] = "org.freedesktop.login1";
constexpr uint64_t kAskTimeoutUs = 1'500'000;

struct Watch {
  std::mutex mu;
  std::condition_variable cv;
  std::thread thread;
  int wake = -1; // eventfd: the program is ending
  bool stopping = false;
  bool ended = false;
  HWND target = nullptr;
  UINT message = 0;
};

Watch &W() {
  static Watch *watch = new Watch; // outlives every thread of the process
  return *watch;
}

int OnPrepareForSleep(sd_bus_message *m, void *, sd_bus_error *) {
  int sleeping = 0;
  if (sd_bus_message_read(m, "b", &sleeping) < 0) {
    PlatformTrace("power: a PrepareForSleep signal without its flag was ignored");
    return 0;
  }
  PlatformTrace(sleeping ? "power: the machine is about to sleep" : "power: the machine has resumed");
  PostMessageW(W().target, W().message, sleeping ? 1 : 0, 0);
  return 0;
}

// Whether logind has the bus name now. False (with *why) when it has not or
// the bus does not say.
bool LogindThere(sd_bus *bus, std::string *why) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message *call = nullptr, *reply = nullptr;
  int r = sd_bus_message_new_method_call(bus, &call, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                         "org.freedesktop.DBus", "NameHasOwner");
  if (r >= 0)
    r = sd_bus_message_append(call, "s", kLogind);
  if (r >= 0)
    r = sd_bus_call(bus, call, kAskTimeoutUs, &error, &reply);
  int has = 0;
  if (r >= 0)
    r = sd_bus_message_read(reply, "b", &has);
  if (r < 0)
    *why = "the system bus did not say whether logind runs (" + BusErrorText(error, r) + ")";
  else if (!has)
    *why = "no logind on the system bus";
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_message_unref(call);
  return r >= 0 && has;
}

// Waits for the bus or the wake-up; false when the watch is to end.
bool WaitForBus(sd_bus *bus) {
  Watch &w = W();
  pollfd fds[2] = {{sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0},
                   {w.wake, POLLIN, 0}};
  if (poll(fds, 2, -1) < 0 && errno != EINTR)
    return false;
  if (fds[1].revents)
    return false; // only StopSleepWatch writes it
  if (fds[0].revents & (POLLHUP | POLLERR)) {
    PlatformTrace("power: the system bus connection ended: sleep and resume are no longer watched");
    return false;
  }
  return true;
}

void Listen() {
  std::string why;
  sd_bus *bus = OpenDesktopBus(DesktopBus::System, &why);
  sd_bus_slot *slot = nullptr;
  if (bus && LogindThere(bus, &why)) {
    int r = sd_bus_match_signal(bus, &slot, kLogind, "/org/freedesktop/login1",
                                "org.freedesktop.login1.Manager", "PrepareForSleep",
                                OnPrepareForSleep, nullptr);
    if (r < 0)
      why = std::string("the bus refused the signal match (") + strerror(-r) + ")";
  }
  if (!slot) {
    PlatformWarning("power: %s: a link is not connected again after the machine resumes",
                    why.c_str());
  } else {
    PlatformTrace("power: watching logind for sleep and resume");
    for (;;) {
      int r;
      while ((r = sd_bus_process(bus, nullptr)) > 0) {
      }
      if (r < 0) {
        PlatformWarning("power: the system bus failed (%s): sleep and resume are no longer watched",
                        strerror(-r));
        break;
      }
      if (!WaitForBus(bus))
        break;
    }
  }
  sd_bus_slot_unref(slot);
  sd_bus_flush_close_unref(bus);
  Watch &w = W();
  std::lock_guard<std::mutex> lock(w.mu);
  w.ended = true;
  w.cv.notify_all();
}

} // namespace

void StartSleepWatch(HWND target, UINT message) {
  Watch &w = W();
  std::lock_guard<std::mutex> lock(w.mu);
  if (w.thread.joinable() || w.stopping)
    return;
  w.wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (w.wake < 0) {
    PlatformWarning("power: sleep and resume are not watched (%s)", strerror(errno));
    return;
  }
  w.target = target;
  w.message = message;
  w.thread = StartCountedThread(Listen);
}

bool StopSleepWatch(DWORD timeoutMs) {
  Watch &w = W();
  std::unique_lock<std::mutex> lock(w.mu);
  w.stopping = true;
  if (!w.thread.joinable())
    return true;
  uint64_t one = 1;
  if (write(w.wake, &one, sizeof one) < 0) {
    // Only fails when the counter is full: the thread has been woken.
  }
  if (!w.cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return w.ended; })) {
    PlatformTrace("power: the sleep watch did not end within %u ms", static_cast<unsigned>(timeoutMs));
    return false;
  }
  lock.unlock();
  w.thread.join();
  close(w.wake);
  w.wake = -1;
  return true;
}
