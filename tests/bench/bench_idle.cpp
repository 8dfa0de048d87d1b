// Wake-ups of the whole program while connected and idle: the real vantrel,
// typing through xtest into an Xvfb, connected to vantrel-kbd (its default
// heartbeat, one a second), then left alone. Counted from the context
// switches of every thread (/proc/PID/task/*/status), over three rounds of
// ten seconds, each one period of the keyboard's status poll; the figure is
// the median of the rounds. What is due
// meanwhile: the reader thread reads each heartbeat (1/s) and the answer to
// the status poll (0.1/s); the user-interface thread sends the status poll
// (0.1/s); the heartbeat timer, restarted at each heartbeat, never comes due.
//
// The baseline, in the same run and over the same seconds: a minimal
// forwarder, a process of one thread that waits on a pseudo-terminal of the
// same kind and reads what comes, fed the same rhythm (a heartbeat byte a
// second, a six-byte status frame every ten), so that it pays the same
// kernel flushes of the pseudo-terminal. Also shown, for what an idle Qt
// program costs: the start-up benchmark's bare window. Goal: at most 1.5
// wake-ups a second for the whole program. Prints "skipped" when something
// is missing; never fails.
#include "app_test_env.h"
#include "tests/inject/x_session.h"
#include "tests/support/pty_port.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr auto kRound = 10s;
constexpr int kRounds = 3;
constexpr double kGoal = 1.5;

// The context switches of every thread of pid so far (-1: gone); with
// perThread, each thread's count by its name is added to it. voluntaryOnly:
// only the switches where a thread went to sleep (a wake-up each), not those
// where a busy machine took the processor from it.
long long Switches(pid_t pid, std::map<std::string, long long> *perThread = nullptr,
                   bool voluntaryOnly = false) {
  std::string dir = "/proc/" + std::to_string(pid) + "/task";
  DIR *d = opendir(dir.c_str());
  if (!d)
    return -1;
  long long total = 0;
  while (dirent *e = readdir(d)) {
    if (e->d_name[0] == '.')
      continue;
    std::ifstream status(dir + "/" + e->d_name + "/status");
    std::string line, name;
    long long n = 0;
    while (std::getline(status, line)) {
      if (line.rfind("Name:", 0) == 0)
        name = line.substr(line.find_first_not_of(" \t", 5));
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
          (!voluntaryOnly && line.rfind("nonvoluntary_ctxt_switches:", 0) == 0))
        n += std::stoll(line.substr(line.find(':') + 1));
    }
    total += n;
    if (perThread)
      (*perThread)[name + " (" + e->d_name + ")"] += n;
  }
  closedir(d);
  return total;
}

// The switches between two per-thread samples: each thread's own growth,
// a thread started in between counted from zero; one that ended in between
// is lost with what it did in the round (never negative).
long long SwitchesBetween(const std::map<std::string, long long> &before,
                          const std::map<std::string, long long> &after) {
  long long total = 0;
  for (const auto &[thread, n] : after) {
    auto was = before.find(thread);
    total += std::max(0LL, n - (was == before.end() ? 0 : was->second));
  }
  return total;
}

// The forwarder's process: waits on the slave without a time-out and reads
// whatever came, until the far side closes.
int RunForwarder(const char *slave) {
  int fd = open(slave, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return 1;
  uint8_t buf[256];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, -1) < 0)
      continue;
    ssize_t n = read(fd, buf, sizeof buf);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR) || (p.revents & POLLHUP))
      return 0;
  }
}

// Feeds the forwarder's pseudo-terminal the keyboard's idle rhythm until
// stopped.
class Feeder {
public:
  explicit Feeder(int master) : master_(master), thread_([this] { Run(); }) {}
  ~Feeder() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    auto next = std::chrono::steady_clock::now();
    for (int beat = 1; !stop_; ++beat) {
      next += 1s;
      if (cv_.wait_until(lock, next, [&] { return stop_; }))
        break;
      const uint8_t heartbeat = 0xFA;
      const uint8_t status[6] = {0x0A, 200, 0, 168, 0, 0};
      if (write(master_, &heartbeat, 1) != 1) {
        // The forwarder has gone: its figure says so.
      }
      if (beat % 10 == 0 && write(master_, status, sizeof status) != sizeof status) {
      }
    }
  }

  int master_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool stop_ = false;
  std::thread thread_;
};

} // namespace

int main(int argc, char **argv) {
  if (argc == 3 && strcmp(argv[1], "--forward") == 0)
    return RunForwarder(argv[2]);
  const std::string bare = VANTREL_BASELINE_WINDOW_EXE;
  if (!fs::exists(VANTREL_EXE) || !fs::exists(VANTREL_KBD_EXE) || !fs::exists(bare)) {
    printf("bench_idle: skipped (vantrel, vantrel-kbd or the bare window is not built)\n");
    return 0;
  }
  XvfbServer server;
  if (!server.Start()) {
    printf("bench_idle: skipped (%s)\n", server.why().c_str());
    return 0;
  }
  testsupport::ProgramSandbox box;
  PresetProgramRun(box, u"COM3:");
  std::vector<std::string> env = ProgramEnvironment(box.path());
  env.push_back("VANTREL_INJECT=xtest");
  env.push_back("DISPLAY=" + server.display());
  auto kbd = std::make_unique<Child>(
      std::vector<std::string>{VANTREL_KBD_EXE, "--port", "COM3", "--devices", box.path() + "/dev",
                               "--log", box.path() + "/kbd.log"},
      env, box.path() + "/kbd.out");
  if (!WaitFor([&] { return fs::exists(box.path() + "/dev/COM3"); }, 10s)) {
    printf("bench_idle: skipped (the keyboard emulator did not start)\n");
    return 0;
  }
  testsupport::PtyPort pty;
  if (!pty.ok()) {
    printf("bench_idle: skipped (no pseudo-terminal for the forwarder)\n");
    return 0;
  }
  Child forwarder({fs::read_symlink("/proc/self/exe").string(), "--forward", pty.slave()}, env,
                  box.path() + "/forwarder.out");
  Feeder feeder(pty.master());
  Child vantrel({VANTREL_EXE, "--connect"}, env, box.path() + "/vantrel.out");
  Child window({bare, box.path() + "/painted"}, env, box.path() + "/bare.out");
  auto connected = [&] {
    std::ifstream f(box.path() + "/trace.log");
    std::string t((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    return t.find("Connect button: Disconnect") != std::string::npos;
  };
  if (!WaitFor(connected, 30s)) {
    printf("bench_idle: skipped (the program did not connect)\n");
    return 0;
  }
  // What follows the connection (the status poll's first answer, the
  // sounds) settles.
  std::this_thread::sleep_for(3s);
  printf("bench_idle: wake-ups a second of the whole process, connected and idle (xtest, "
         "keyboard heartbeat 1/s)\n");
  double appSleeps = 0, fwdSleeps = 0, seconds = 0;
  std::vector<double> appRates, fwdRates;
  std::map<std::string, long long> threadsFirst, threadsLast;
  for (int round = 0; round < kRounds; ++round) {
    // Counted per thread: a thread that ends within the round takes its
    // count with it, and a sum over the threads would then go down.
    std::map<std::string, long long> threads0, threads1, fwdThreads0, fwdThreads1, bare0, bare1,
        appV0, appV1, fwdV0, fwdV1;
    bool alive = Switches(vantrel.pid(), &threads0) >= 0 &&
                 Switches(forwarder.pid(), &fwdThreads0) >= 0 &&
                 Switches(window.pid(), &bare0) >= 0 &&
                 Switches(vantrel.pid(), &appV0, true) >= 0 &&
                 Switches(forwarder.pid(), &fwdV0, true) >= 0;
    auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(kRound);
    alive = alive && Switches(vantrel.pid(), &threads1) >= 0 &&
            Switches(forwarder.pid(), &fwdThreads1) >= 0 && Switches(window.pid(), &bare1) >= 0 &&
            Switches(vantrel.pid(), &appV1, true) >= 0 &&
            Switches(forwarder.pid(), &fwdV1, true) >= 0;
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!alive) {
      printf("bench_idle: skipped (a process ended early)\n");
      return 0;
    }
    const double app = SwitchesBetween(threads0, threads1) / s,
                 fwd = SwitchesBetween(fwdThreads0, fwdThreads1) / s,
                 base = SwitchesBetween(bare0, bare1) / s;
    printf("  round %d (%.1f s): vantrel %5.2f /s   forwarder %5.2f /s   ratio %.2f   "
           "(bare Qt window %5.2f /s)\n",
           round + 1, s, app, fwd, fwd > 0 ? app / fwd : 0.0, base);
    appRates.push_back(app);
    fwdRates.push_back(fwd);
    appSleeps += SwitchesBetween(appV0, appV1);
    fwdSleeps += SwitchesBetween(fwdV0, fwdV1);
    seconds += s;
    if (round == 0)
      threadsFirst = threads0;
    threadsLast = threads1;
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  const double app = median(appRates), fwd = median(fwdRates);
  printf("  vantrel, connected and idle   %5.2f /s   baseline forwarder %5.2f /s   ratio %.2f   "
         "(median of %d rounds; goal <= %.1f /s: %s)\n",
         app, fwd, fwd > 0 ? app / fwd : 0.0, kRounds, kGoal, app <= kGoal ? "met" : "NOT met");
  printf("  of which the threads went to sleep (voluntary)   vantrel %5.2f /s   forwarder %5.2f /s\n",
         appSleeps / seconds, fwdSleeps / seconds);
  for (const auto &[name, n] : threadsLast) {
    long long woke = n - threadsFirst[name];
    if (woke > 0)
      printf("    thread %-28s %6.2f /s\n", name.c_str(), woke / seconds);
  }
  return 0;
}
