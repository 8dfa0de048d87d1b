// SIGTERM, SIGINT and SIGHUP as requests to quit. The signals are blocked in
// every thread (the mask is set before the first thread starts and is
// inherited), so none of them interrupts a system call of the program or
// ends it on the spot; a watcher thread reads them from a signalfd and
// calls the program's handler there. Nothing runs inside a signal handler.
#include "platform/system.h"

#include "platform/core/counted_thread.h"
#include "platform/trace.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <thread>
#include <unistd.h>

namespace {

std::thread *gWatcher = nullptr; // never deleted: joined by StopQuitSignalWatch
int gSignalFd = -1;
int gStopFd = -1;
void (*gOnSignal)(int, void *) = nullptr;
void *gContext = nullptr;

sigset_t QuitSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

void Watch() {
  pollfd fds[2] = {{gSignalFd, POLLIN, 0}, {gStopFd, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR)
        continue;
      PlatformTrace("signals: poll failed (%s); quit signals are no longer watched", strerror(errno));
      return;
    }
    if (fds[1].revents)
      return;
    signalfd_siginfo info;
    if (read(gSignalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      PlatformTrace("signals: %s received; quitting", strsignal(static_cast<int>(info.ssi_signo)));
      gOnSignal(static_cast<int>(info.ssi_signo), gContext);
    }
  }
}

} // namespace

void BlockQuitSignals() {
  sigset_t set = QuitSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void UnblockQuitSignals() {
  sigset_t set = QuitSignals();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

bool StartQuitSignalWatch(void (*onSignal)(int, void *), void *context) {
  if (gWatcher || !onSignal)
    return false;
  sigset_t set = QuitSignals();
  gSignalFd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  gStopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (gSignalFd < 0 || gStopFd < 0) {
    PlatformTrace("signals: no signalfd (%s); quit signals end the program at once", strerror(errno));
    if (gSignalFd >= 0)
      close(gSignalFd);
    if (gStopFd >= 0)
      close(gStopFd);
    gSignalFd = gStopFd = -1;
    UnblockQuitSignals();
    return false;
  }
  gOnSignal = onSignal;
  gContext = context;
  gWatcher = new std::thread(StartCountedThread(Watch));
  return true;
}

void StopQuitSignalWatch() {
  if (!gWatcher)
    return;
  const uint64_t one = 1;
  (void)!write(gStopFd, &one, sizeof one);
  if (gWatcher->joinable())
    gWatcher->join();
  close(gSignalFd);
  close(gStopFd);
  gSignalFd = gStopFd = -1;
}
