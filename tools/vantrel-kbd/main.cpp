// vantrel-kbd: the keyboard emulator. One thread: it watches the pty for
// the program opening and closing the port, reads the packets, and sends the
// keyboard's outputs when they are due.
#include "keyboard.h"
#include "options.h"
#include "pty_link.h"
#include "socket_link.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

volatile sig_atomic_t gStop = 0;

void OnSignal(int) { gStop = 1; }

void CatchSignals() {
  struct sigaction sa{};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0; // no SA_RESTART: poll() returns and the loop ends
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

// How often the closed port is checked for being opened: a closed slave
// keeps the master in hang-up, so poll() cannot wait for the open itself.
constexpr auto kClosedCheck = std::chrono::milliseconds(5);
// How long a hang-up waits for the program to read what was sent to it.
constexpr int kHangupDrainLimitMs = 5000;

bool WriteAll(int fd, const uint8_t *p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR)
      continue;
    if (w <= 0)
      return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// --listen: every connection to the socket is one open port. A hang-up
// shuts the connection down (the program reads the end of the stream, as
// when the radio link drops); the program closing its end is the port
// closing.
int ServeOnSocket(const Options &opt, FILE *log) {
  std::string error;
  int listener = ListenAt(opt.listen, error);
  if (listener < 0) {
    fprintf(stderr, "vantrel-kbd: %s\n", error.c_str());
    return 1;
  }
  fprintf(stderr, "vantrel-kbd: listening at %s\n", opt.listen.c_str());
  int conn = -1;
  Keyboard kbd(opt, log, [&](const uint8_t *p, size_t n) {
    while (n > 0) {
      ssize_t w = send(conn, p, n, MSG_NOSIGNAL);
      if (w < 0 && errno == EINTR)
        continue;
      if (w < 0 && errno == EAGAIN) {
        pollfd out{conn, POLLOUT, 0};
        poll(&out, 1, 100);
        continue;
      }
      if (w <= 0)
        return false;
      p += w;
      n -= static_cast<size_t>(w);
    }
    return true;
  });
  auto endConnection = [&] {
    close(conn);
    conn = -1;
    kbd.PortClosed();
  };
  while (!gStop && !kbd.Finished()) {
    if (conn >= 0) {
      uint8_t buf[256];
      ssize_t n;
      while ((n = recv(conn, buf, sizeof buf, 0)) > 0)
        kbd.Received(buf, static_cast<size_t>(n), KbdClock::now());
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
        endConnection();
    }
    KbdClock::time_point next = kbd.RunDue(KbdClock::now());
    if (kbd.Finished())
      break;
    if (kbd.HangupWanted()) {
      if (conn >= 0) {
        shutdown(conn, SHUT_RDWR);
        close(conn);
        conn = -1;
      }
      kbd.HungUp(0);
      continue;
    }
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - KbdClock::now()).count();
    pollfd p[2] = {{listener, POLLIN, 0}, {conn, POLLIN, 0}};
    poll(p, conn >= 0 ? 2 : 1, static_cast<int>(std::clamp<long long>(wait, 0, 1000)));
    if (p[0].revents & POLLIN) {
      int fresh = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fresh >= 0) {
        if (conn >= 0)
          endConnection(); // a new link replaces the one before
        conn = fresh;
        kbd.PortOpened(KbdClock::now());
      }
    }
  }
  if (conn >= 0)
    close(conn);
  close(listener);
  unlink(opt.listen.c_str());
  if (gStop)
    fprintf(stderr, "vantrel-kbd: stopped, %s removed\n", opt.listen.c_str());
  if (log != stdout)
    fclose(log);
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  Options opt;
  if (int r = ParseOptions(argc, argv, opt))
    return r == 1 ? 0 : r;

  FILE *log = stdout;
  if (!opt.logPath.empty()) {
    log = fopen(opt.logPath.c_str(), "a");
    if (!log) {
      fprintf(stderr, "vantrel-kbd: cannot write the log %s: %s\n", opt.logPath.c_str(), strerror(errno));
      return 1;
    }
  }

  CatchSignals();
  if (!opt.listen.empty())
    return ServeOnSocket(opt, log);
  PtyLink link;
  std::string error;
  bool shared = false;
  const std::string folder = DevicesFolder(opt.devices, &shared);
  if (!CreatePtyLink(folder, shared, opt.port, link, error)) {
    fprintf(stderr, "vantrel-kbd: %s\n", error.c_str());
    return 1;
  }
  fprintf(stderr, "vantrel-kbd: %s ready at %s -> %s\n", opt.port.c_str(), link.linkPath.c_str(),
          link.slavePath.c_str());

  Keyboard kbd(opt, log, [&](const uint8_t *p, size_t n) { return WriteAll(link.master, p, n); });
  // Reads every packet byte waiting on the master, also after the program
  // closed the port, so that its last packet (DISCONNECT) is not missed.
  auto drain = [&] {
    uint8_t buf[256];
    ssize_t n;
    while ((n = read(link.master, buf, sizeof buf)) > 0)
      kbd.Received(buf, static_cast<size_t>(n), KbdClock::now());
  };
  bool open = false;
  while (!gStop && !kbd.Finished()) {
    bool nowOpen = SlaveIsOpen(link);
    if (open)
      drain();
    KbdClock::time_point now = KbdClock::now();
    if (nowOpen && !open) {
      // Drop anything left in the slave's input from the last connection.
      tcflush(link.master, TCOFLUSH);
      kbd.PortOpened(now);
    } else if (!nowOpen && open) {
      kbd.PortClosed();
    }
    open = nowOpen;

    KbdClock::time_point next = kbd.RunDue(now);
    if (kbd.Finished())
      break;
    if (kbd.HangupWanted()) {
      size_t unread = WaitUntilRead(link, kHangupDrainLimitMs);
      if (!HangUpAndReoffer(link, error)) {
        fprintf(stderr, "vantrel-kbd: %s\n", error.c_str());
        RemovePtyLink(link);
        return 1;
      }
      kbd.HungUp(unread);
      open = false;
      continue;
    }
    if (!open) {
      std::this_thread::sleep_for(std::min<KbdClock::duration>(kClosedCheck, next - KbdClock::now()));
      continue;
    }
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - KbdClock::now()).count();
    // Wakes for a packet, for a hang-up (the program closed the port) or
    // when the next output is due; the next pass handles each.
    pollfd p{link.master, POLLIN, 0};
    poll(&p, 1, static_cast<int>(std::clamp<long long>(wait, 0, 1000)));
  }

  RemovePtyLink(link);
  if (gStop)
    fprintf(stderr, "vantrel-kbd: stopped, %s removed\n", opt.port.c_str());
  if (log != stdout)
    fclose(log);
  return 0;
}
