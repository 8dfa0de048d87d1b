// The key path as a person meets it: the real vantrel, its window up on an
// Xvfb, typing through xtest into a focused X window, connected to
// vantrel-kbd on a pseudo-terminal. Every key goes from the emulator's write
// (logged on the monotonic clock) through the program's reader, the layout
// and the injection, to the KeyPress the receiving window gets.
//
// The baseline, in the same runs, on the same server and at the same pace: a
// minimal forwarder, a small process that reads a byte from its own
// pseudo-terminal and taps one key with raw XTEST (the physical limit).
//
// CPU per key is the whole process's (every thread) over the typing, less its
// idle rate over the same time. The idle rate is measured for both processes
// alike in the pauses between the typing, a while after the last key, and
// pooled over the run (the program's connected idle work, a heartbeat a
// second and a status poll every ten, is not spread evenly over short
// windows). A figure that the idle rate's spread between windows could
// account for is printed as unmeasurable, never as a number. System calls
// are counted the same way: one strace session over idle, typing and idle
// again, the calls of the idle stretches taken off at their rate. Each run
// first types a few letters that are not counted (the first keys after the
// connection bring the key path's code into memory), after the receiver
// took the focus from the program's window (which repaints it).
//
// Figures, each beside its baseline with the ratio:
//  (a) at 50 keys a second, per kind of key: a letter (a virtual key at
//      level 1), characters at level 2 and level 3 of the host's German
//      keymap, and characters the keymap lacks (lent keycodes): latency
//      median and p99, and CPU per key, a step of each kind; then letters
//      and lent characters by turns, for latencies under the same load, over
//      several steps spread through the run and enough keys of each kind for
//      a p99 that is not one stray sample (shown with how far the ratio of
//      the two p99s wanders over resamplings of the keys: on a busy machine
//      the worst samples are whichever keys a burst of load met). Goal: a
//      lent character at most 1.3 times a letter, in all three (once lent;
//      the step that lends them is shown too: each keymap change makes every
//      client, the program's own window among them, read the keymap again).
//  (b) CPU per key of the whole program against the forwarder's, letters at
//      30 and at 1,000 keys a second, the median of three rounds where both
//      type at once (goal at most 1.5 times), and system calls per key,
//      counted with strace at 30 keys a second (goal at most the forwarder's
//      plus one).
// Prints "skipped" when something is missing; never fails.
#include "app_test_env.h"
#include "common/settings_store.h"
#include "tests/inject/x_session.h"
#include "tests/support/pty_port.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <poll.h>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

double NowMs() {
  return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
}

// The layout's keys the runs press, and what the layout file makes of them
// (column 0; a code from 2000 up is a character).
constexpr uint8_t kLetter = 'A';                        // the virtual key A: a at level 1
constexpr uint8_t kLevel2 = 'B', kLevel3 = 'C';         // " (Shift+2), @ (AltGr+q) on de
constexpr uint8_t kLent[3] = {'D', 'E', 'F'};           // ж ω ψ: on no key of de
const std::map<uint8_t, int> kLayoutCodes = {{'B', 2000 + '"'},   {'C', 2000 + '@'},
                                             {'D', 2000 + 0x436}, {'E', 2000 + 0x3C9},
                                             {'F', 2000 + 0x3C8}};

// CPU time of every thread of pid so far, in microseconds (-1: gone); with
// perThread, each thread's by its name and id too.
double ProcessCpuUs(pid_t pid, std::map<std::string, double> *perThread = nullptr) {
  std::string dir = "/proc/" + std::to_string(pid) + "/task";
  DIR *d = opendir(dir.c_str());
  if (!d)
    return -1;
  double ns = 0;
  while (dirent *e = readdir(d)) {
    if (e->d_name[0] == '.')
      continue;
    const std::string task = dir + "/" + e->d_name;
    std::ifstream f(task + "/schedstat");
    double run = 0;
    if (!(f >> run))
      continue;
    ns += run;
    if (perThread) {
      std::ifstream c(task + "/comm");
      std::string name;
      std::getline(c, name);
      (*perThread)[name + " (" + e->d_name + ")"] += run / 1000;
    }
  }
  closedir(d);
  return ns / 1000;
}

// The receiving window: takes the focus and notes the time of every KeyPress
// of a key that is not a modifier, with its keycode.
class Receiver {
public:
  bool Start(const std::string &display) {
    dpy_ = XOpenDisplay(display.c_str());
    if (!dpy_)
      return false;
    win_ = XCreateSimpleWindow(dpy_, DefaultRootWindow(dpy_), 0, 0, 200, 100, 0, 0, 0);
    XSelectInput(dpy_, win_, KeyPressMask);
    XMapWindow(dpy_, win_);
    XSync(dpy_, False);
    Focus();
    thread_ = std::thread([this] { Run(); });
    return true;
  }
  void Focus() {
    std::lock_guard<std::mutex> lock(mutex_);
    XSetInputFocus(dpy_, win_, RevertToParent, CurrentTime);
    XSync(dpy_, False);
  }
  ~Receiver() {
    stop_ = true;
    if (thread_.joinable())
      thread_.join();
    if (dpy_)
      XCloseDisplay(dpy_);
  }
  struct Press {
    unsigned keycode;
    double ms;
  };
  std::vector<Press> Presses() {
    std::lock_guard<std::mutex> lock(mutex_);
    return presses_;
  }
  size_t Count(unsigned keycode, bool other) {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const Press &p : presses_)
      n += (p.keycode == keycode) != other;
    return n;
  }

private:
  void Run() {
    while (!stop_) {
      pollfd p{ConnectionNumber(dpy_), POLLIN, 0};
      poll(&p, 1, 100);
      std::lock_guard<std::mutex> lock(mutex_);
      while (XPending(dpy_)) {
        XEvent ev;
        XNextEvent(dpy_, &ev);
        double at = NowMs();
        if (ev.type == MappingNotify) {
          XRefreshKeyboardMapping(&ev.xmapping);
          continue;
        }
        if (ev.type != KeyPress)
          continue;
        KeySym ks = XkbKeycodeToKeysym(dpy_, static_cast<KeyCode>(ev.xkey.keycode), 0, 0);
        if (!IsModifierKey(ks))
          presses_.push_back({ev.xkey.keycode, at});
      }
    }
  }
  Display *dpy_ = nullptr;
  Window win_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Press> presses_;
};

// The minimal forwarder, a process of its own: each byte read from the pty
// taps the key `keycode`.
pid_t StartForwarder(const std::string &display, const std::string &slave, unsigned keycode) {
  pid_t pid = fork();
  if (pid != 0)
    return pid;
  Display *dpy = XOpenDisplay(display.c_str());
  int fd = open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (!dpy || fd < 0)
    _exit(1);
  uint8_t buf[64];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, -1) <= 0)
      continue;
    ssize_t n = read(fd, buf, sizeof buf);
    for (ssize_t i = 0; i < n; ++i) {
      XTestFakeKeyEvent(dpy, keycode, True, CurrentTime);
      XTestFakeKeyEvent(dpy, keycode, False, CurrentTime);
    }
    if (n > 0)
      XFlush(dpy);
  }
}

// Writes `keys` bytes to the forwarder's pty at `perSecond`; the write times.
std::vector<double> PaceForwarder(int master, int keys, int perSecond) {
  std::vector<double> sent;
  auto next = Clock::now();
  for (int i = 0; i < keys; ++i) {
    std::this_thread::sleep_until(next);
    sent.push_back(NowMs());
    if (write(master, "x", 1) != 1)
      break;
    next += std::chrono::microseconds(1000000 / perSecond);
  }
  return sent;
}

// The keys the emulator logged as written in its session: byte, time (ms).
std::vector<std::pair<uint8_t, double>> SentKeys(const std::string &log) {
  std::vector<std::pair<uint8_t, double>> keys;
  std::ifstream f(log);
  std::string line;
  while (std::getline(f, line)) {
    size_t at = line.find("\"what\":\"key\",\"bytes\":\"");
    size_t mono = line.find("\"mono_ms\":");
    if (at == std::string::npos || mono == std::string::npos ||
        line.find("\"failed\"") != std::string::npos)
      continue;
    keys.push_back({static_cast<uint8_t>(std::stoul(line.substr(at + 22, 2), nullptr, 16)),
                    std::stod(line.substr(mono + 10))});
  }
  return keys;
}

struct Figures {
  double median = 0, p99 = 0;
};
Figures Summarise(std::vector<double> v) {
  if (v.empty())
    return {};
  std::sort(v.begin(), v.end());
  return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)]};
}

// How far the ratio of two p99s may wander by chance: the 10th and 90th
// percentiles of the ratio over resamplings (with replacement, a fixed seed)
// of both sets. The p99 rests on the few worst samples, and on a busy
// machine those are whatever key a stretch of load happened to meet.
std::pair<double, double> ResampledP99Ratio(const std::vector<double> &num,
                                            const std::vector<double> &den) {
  if (num.empty() || den.empty())
    return {0, 0};
  std::mt19937 random(26);
  auto resample = [&](const std::vector<double> &v) {
    std::uniform_int_distribution<size_t> pick(0, v.size() - 1);
    std::vector<double> r(v.size());
    for (double &x : r)
      x = v[pick(random)];
    return Summarise(std::move(r)).p99;
  };
  std::vector<double> ratios;
  for (int i = 0; i < 200; ++i) {
    const double d = resample(den);
    if (d > 0)
      ratios.push_back(resample(num) / d);
  }
  if (ratios.empty())
    return {0, 0};
  std::sort(ratios.begin(), ratios.end());
  return {ratios[ratios.size() / 10], ratios[ratios.size() * 9 / 10]};
}

std::string Join(const std::vector<int> &v) {
  std::string s;
  for (int x : v)
    s += (s.empty() ? "" : ",") + std::to_string(x);
  return s;
}

// The wall clock, in seconds: strace's time stamps.
double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Starts strace on every thread of pid, logging each system call with its
// start time (wall clock) to `out`, and waits until it has attached; its
// process id (-1: none).
pid_t StartTrace(pid_t pid, const std::string &out) {
  pid_t tracer = fork();
  if (tracer == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    std::string p = std::to_string(pid);
    execlp("strace", "strace", "-f", "-ttt", "-o", out.c_str(), "-p", p.c_str(),
           static_cast<char *>(nullptr));
    _exit(127);
  }
  return tracer;
}

// Stops the tracer and reads the start times of the calls it logged; false
// when strace did not run.
bool StopTrace(pid_t tracer, const std::string &out, std::vector<double> *times) {
  if (tracer <= 0)
    return false;
  kill(tracer, SIGINT);
  int status = 0;
  waitpid(tracer, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
    return false;
  // "PID SECONDS call(...": a call that blocks is logged when it begins
  // ("<unfinished ...>") and again when it ends ("<... call resumed>"), which
  // is not counted; signals ("---") and exits ("+++") are no calls.
  std::ifstream f(out);
  if (!f)
    return false;
  times->clear();
  for (std::string line; std::getline(f, line);) {
    std::istringstream in(line);
    std::string pidText, at, call;
    if (!(in >> pidText >> at >> call) || call.rfind("<...", 0) == 0 ||
        call.rfind("---", 0) == 0 || call.rfind("+++", 0) == 0)
      continue;
    times->push_back(std::strtod(at.c_str(), nullptr));
  }
  return true;
}

size_t CountWithin(const std::vector<double> &times, double from, double to) {
  return static_cast<size_t>(
      std::count_if(times.begin(), times.end(), [&](double t) { return t >= from && t < to; }));
}

// A process's CPU while idle, from windows between the typing: the pooled
// rate, and how far the windows' own rates spread around it.
class IdleRate {
public:
  explicit IdleRate(pid_t pid) : pid_(pid) {}
  void Begin() {
    cpu0_ = ProcessCpuUs(pid_);
    at0_ = NowMs();
  }
  // quiet: no key came during the window (else it is dropped: it held
  // typing, not idling).
  void End(bool quiet) {
    const double cpu = ProcessCpuUs(pid_), ms = NowMs() - at0_;
    if (cpu0_ < 0 || cpu < 0 || ms <= 0 || !quiet)
      return;
    us_ += cpu - cpu0_;
    ms_ += ms;
    rates_.push_back((cpu - cpu0_) / ms * 1000);
  }
  double PerSecond() const { return ms_ > 0 ? us_ / ms_ * 1000 : 0; }
  // Half the range of the windows' rates, per second: what the rate taken
  // off may be wrong by when the typing's window met more or less of the
  // idle work than the average.
  double SpreadPerSecond() const {
    if (rates_.size() < 2)
      return PerSecond(); // one window says nothing of the spread: as wrong as itself
    auto [lo, hi] = std::minmax_element(rates_.begin(), rates_.end());
    return (*hi - *lo) / 2;
  }
  double seconds() const { return ms_ / 1000; }

private:
  pid_t pid_;
  double cpu0_ = -1, at0_ = 0, us_ = 0, ms_ = 0;
  std::vector<double> rates_;
};

// The pause after a step: once the last key's work is done (settle), both
// processes' idle rates over the window; dropped when a key reached the
// receiver meanwhile (typedSoFar: the program's presses expected by now).
void IdlePause(IdleRate &prog, IdleRate &base, Receiver &receiver, unsigned key,
               size_t typedSoFar, std::chrono::milliseconds settle,
               std::chrono::milliseconds window) {
  std::this_thread::sleep_for(settle);
  prog.Begin();
  base.Begin();
  std::this_thread::sleep_for(window);
  const bool quiet = receiver.Count(key, true) == typedSoFar;
  prog.End(quiet);
  base.End(quiet);
}

// CPU a process spent over a typing window, with the window's length.
struct Typed {
  double us = 0, ms = 0;
  int keys = 0;
  void Add(double cpuUs, double windowMs, int n) {
    us += cpuUs;
    ms += windowMs;
    keys += n;
  }
};

// CPU per key of what was typed, its idle rate over the same time taken off.
// measurable is false when the idle rate's spread could account for the
// difference (or the difference is not above nothing); noiseUs then says
// how large that spread is, per key.
struct PerKey {
  double us = 0, noiseUs = 0;
  bool measurable = false;
};
PerKey CpuPerKey(const Typed &t, const IdleRate &idle) {
  PerKey k;
  if (t.keys <= 0 || idle.seconds() <= 0)
    return k;
  const double seconds = t.ms / 1000;
  k.us = (t.us - idle.PerSecond() * seconds) / t.keys;
  k.noiseUs = idle.SpreadPerSecond() * seconds / t.keys;
  k.measurable = k.us > 0 && k.us > k.noiseUs;
  return k;
}

// "123.4 us/key", or why there is no figure.
std::string CpuText(const PerKey &k) {
  char text[96];
  if (k.measurable)
    snprintf(text, sizeof text, "%6.1f us/key", k.us);
  else // what typing added is not printed: it may be below nothing
    snprintf(text, sizeof text,
             "unmeasurable (typing adds no more than the idle rate's spread, %.1f us/key)",
             k.noiseUs);
  return text;
}

// One run of the program: the emulator typing `keys` in session `steps` at
// one key every `intervalMs`, vantrel connected to it with its window up.
class ProgramRun {
public:
  ProgramRun(const testsupport::ProgramSandbox &box, const std::string &display, int n,
             const std::vector<int> &keys, int intervalMs, const std::string &steps)
      : box_(box), log_(box.path() + "/kbd" + std::to_string(n) + ".log") {
    std::vector<std::string> env = ProgramEnvironment(box.path());
    env.push_back("VANTREL_INJECT=xtest");
    env.push_back("DISPLAY=" + display);
    env.push_back("QT_QPA_PLATFORM=xcb"); // the window up, on the same server
    env.push_back("VANTREL_TRACE="); // off, as a person runs it: its writes are no key's cost
    std::error_code ignored;
    fs::remove(box.path() + "/dev/COM3", ignored);
    kbd_ = std::make_unique<Child>(
        std::vector<std::string>{VANTREL_KBD_EXE, "--port", "COM3", "--devices",
                                 box.path() + "/dev", "--log", log_, "--keys", Join(keys),
                                 "--key-interval", std::to_string(intervalMs), "--session", steps},
        env, box.path() + "/kbd.out");
    if (!WaitFor([&] { return fs::exists(box.path() + "/dev/COM3"); }, 10s))
      return;
    vantrel_ = std::make_unique<Child>(std::vector<std::string>{VANTREL_EXE, "--connect"}, env,
                                       box.path() + "/vantrel" + std::to_string(n) + ".out");
    // Connected once the emulator's session begins (after the handshake).
    ok_ = WaitFor(
        [&] {
          std::ifstream f(log_);
          std::string t((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
          return t.find("\"event\":\"step\"") != std::string::npos;
        },
        30s);
  }
  ~ProgramRun() {
    // Ended as a person quits it, so that it gives its lent keycodes back.
    if (vantrel_) {
      vantrel_->Signal(SIGTERM);
      vantrel_->Wait(10s);
    }
    vantrel_.reset();
    kbd_.reset();
  }
  bool ok() const { return ok_; }
  pid_t pid() const { return vantrel_ ? vantrel_->pid() : -1; }
  std::vector<std::pair<uint8_t, double>> Sent() const { return SentKeys(log_); }

private:
  const testsupport::ProgramSandbox &box_;
  std::string log_;
  std::unique_ptr<Child> kbd_, vantrel_;
  bool ok_ = false;
};

// Waits until the receiver has `count` presses of keys other than the
// forwarder's (or 10 s pass).
bool WaitPresses(Receiver &r, unsigned forwarderKey, size_t count) {
  return WaitFor([&] { return r.Count(forwarderKey, true) >= count; }, 10s);
}

// Writes the layout file the runs type with: the shipped one, with the keys
// D to F typing characters of no key of the host and B, C characters of
// its levels 2 and 3.
bool WriteBenchLayout(const testsupport::ProgramSandbox &box) {
  std::ifstream in(testsupport::DataFile("Intl English.kcod"));
  std::vector<std::string> rows;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    rows.push_back(line);
  }
  if (rows.size() < 128)
    return false;
  for (const auto &[sc, code] : kLayoutCodes) {
    std::string &row = rows[sc];
    size_t third = row.find(',', row.find(',', row.find(',') + 1) + 1);
    if (third == std::string::npos)
      return false;
    const std::string c = std::to_string(code);
    row = c + "," + c + "," + c + row.substr(third);
  }
  std::ofstream out(box.File("opt/Vantrel/Bench.kcod"));
  for (const std::string &r : rows)
    out << r << "\r\n";
  SettingsStore::WriteString(u"keycode", u"Bench.kcod");
  return static_cast<bool>(out);
}

// System calls per key: those started within the typing window, less the
// rate of the idle windows before and after it over the same time. Not
// measurable when the two idle windows' rates differ by enough to account
// for what the typing added.
struct CallsPerKey {
  double calls = 0, noise = 0;
  bool measurable = false;
};
struct Span {
  double from = 0, to = 0; // wall clock, seconds
  double length() const { return to > from ? to - from : 0; }
};
CallsPerKey CallsPerKeyWithin(const std::vector<double> &times, Span idleBefore, Span typing,
                              Span idleAfter, int keys) {
  CallsPerKey c;
  if (keys <= 0 || idleBefore.length() <= 0 || idleAfter.length() <= 0)
    return c;
  const double before = CountWithin(times, idleBefore.from, idleBefore.to) / idleBefore.length();
  const double after = CountWithin(times, idleAfter.from, idleAfter.to) / idleAfter.length();
  const double rate = (before * idleBefore.length() + after * idleAfter.length()) /
                      (idleBefore.length() + idleAfter.length());
  c.calls = (CountWithin(times, typing.from, typing.to) - rate * typing.length()) / keys;
  c.noise = std::abs(before - after) / 2 * typing.length() / keys;
  c.measurable = c.calls > 0 && c.calls > c.noise;
  return c;
}

} // namespace

int main() {
  if (!fs::exists(VANTREL_EXE) || !fs::exists(VANTREL_KBD_EXE)) {
    printf("bench_keypath: skipped (vantrel or vantrel-kbd is not built)\n");
    return 0;
  }
  XvfbServer server;
  if (!server.Start()) {
    printf("bench_keypath: skipped (%s)\n", server.why().c_str());
    return 0;
  }
  if (!server.SetLayout("de")) {
    printf("bench_keypath: skipped (no German keymap)\n");
    return 0;
  }
  testsupport::ProgramSandbox box("bench-keypath");
  PresetProgramRun(box, u"COM3:");
  SettingsStore::WriteDword(u"Keyclicks", 0); // the click is the sound's own work
  if (!WriteBenchLayout(box)) {
    printf("bench_keypath: skipped (the layout file cannot be written)\n");
    return 0;
  }
  testsupport::PtyPort basePort;
  Receiver receiver;
  if (!basePort.ok() || !receiver.Start(server.display())) {
    printf("bench_keypath: skipped (no pseudo-terminal or X client)\n");
    return 0;
  }
  unsigned forwarderKey = 0;
  {
    Display *dpy = XOpenDisplay(server.display().c_str());
    forwarderKey = dpy ? XKeysymToKeycode(dpy, XK_x) : 0;
    if (dpy)
      XCloseDisplay(dpy);
  }
  pid_t forwarder = StartForwarder(server.display(), basePort.slave(), forwarderKey);
  std::this_thread::sleep_for(300ms);

  // The pause between steps and rounds: the program's work for the last key
  // is done by kSettle after it, and its idle rate is measured from then on
  // for kIdleWindow, which ends before the next step's first key. The pause
  // stays under the two seconds after which lent keycodes are given back, so
  // that no step meets a give-back or a lend its kind does not cause.
  constexpr auto kSettle = 300ms;
  constexpr auto kIdleWindow = 700ms;
  constexpr int kPauseMs = 1500;
  // Each run's session begins with a few letters that are not counted: the
  // first keys after the connection take the key path's code and data into
  // memory. Before them the receiver takes the focus from the program's
  // window, which repaints it; the first counted key comes a pause later.
  constexpr int kWarmUp = 25;
  const std::string kWarmUpSteps =
      "wait:1500,type:" + std::to_string(kWarmUp) + ",wait:" + std::to_string(kPauseMs);

  // (a) 50 keys a second, one kind of key a step, a pause between steps;
  // letters and lent characters twice, early and late, so that a busy
  // stretch of the machine does not fall on one kind alone. Letters and
  // lent characters by turns in four longer steps spread over the run:
  // 600 keys of each kind, so that their p99 is the sixth-worst sample.
  constexpr int kStep = 100, kTurnsStep = 300, kRate = 50;
  const std::vector<std::pair<const char *, std::vector<int>>> kinds = {
      {"letter (level 1)", {kLetter}},
      {"character at level 2", {kLevel2}},
      {"character at level 3", {kLevel3}},
      {"lacking: first use included", {kLent[0], kLent[1], kLent[2]}},
      {"lacking: lent already", {kLent[0], kLent[1], kLent[2]}},
      {"letter and lacking by turns", {kLetter, kLent[0], kLetter, kLent[1], kLetter, kLent[2]}}};
  const size_t kByTurns = 5; // latencies of both kinds under the same load
  const std::vector<size_t> order = {0, 3, 4, 5, 1, 5, 2, 0, 5, 4, 5};
  auto stepKeys = [&](size_t k) { return k == kByTurns ? kTurnsStep : kStep; };
  std::vector<int> keys(kWarmUp, kLetter);
  std::vector<size_t> stepOf(kWarmUp, SIZE_MAX); // the step of each key the emulator sends
  std::string steps = kWarmUpSteps;
  for (size_t i = 0; i < order.size(); ++i) {
    const size_t k = order[i];
    for (int j = 0; j < stepKeys(k); ++j) {
      keys.push_back(kinds[k].second[j % kinds[k].second.size()]);
      stepOf.push_back(i);
    }
    steps += ",type:" + std::to_string(stepKeys(k)) + ",wait:" + std::to_string(kPauseMs);
  }
  struct KindFigures {
    Figures latency, base;
    Typed typed, baseTyped;
    PerKey cpu, baseCpu;
    size_t got = 0;
    std::vector<double> us, baseUs;
    std::map<std::string, double> threadsUs; // CPU by thread, idle cost included
  };
  std::vector<KindFigures> perKind(kinds.size());
  std::vector<double> byTurnsLetter, byTurnsLent;
  double idlePerSecond = 0, idleSeconds = 0;
  {
    ProgramRun run(box, server.display(), 1, keys, 1000 / kRate, steps);
    if (!run.ok()) {
      printf("bench_keypath: skipped (the program did not connect)\n");
      kill(forwarder, SIGKILL);
      waitpid(forwarder, nullptr, 0);
      return 0;
    }
    receiver.Focus(); // the program's window came up after it
    IdleRate idle(run.pid()), baseIdle(forwarder);
    size_t before = receiver.Count(forwarderKey, true) + kWarmUp;
    WaitPresses(receiver, forwarderKey, before);
    for (size_t k : order) {
      const int n = stepKeys(k);
      std::map<std::string, double> threads0, threads1;
      double cpu0 = ProcessCpuUs(run.pid(), &threads0), fwd0 = ProcessCpuUs(forwarder),
             at0 = NowMs();
      // The forwarder at the same pace, from the step's first key on.
      WaitFor([&] { return receiver.Count(forwarderKey, true) > before; }, 5s);
      std::vector<double> baseSent = PaceForwarder(basePort.master(), n, kRate);
      WaitPresses(receiver, forwarderKey, before + n);
      std::this_thread::sleep_for(100ms);
      double elapsed = NowMs() - at0;
      perKind[k].typed.Add(ProcessCpuUs(run.pid(), &threads1) - cpu0, elapsed, n);
      perKind[k].baseTyped.Add(ProcessCpuUs(forwarder) - fwd0, elapsed, n);
      for (const auto &[name, us] : threads1)
        if (us - threads0[name] > 0)
          perKind[k].threadsUs[name] += us - threads0[name];
      // The forwarder's latencies: its presses in order against its writes.
      std::vector<double> fwdAt;
      for (const Receiver::Press &p : receiver.Presses())
        if (p.keycode == forwarderKey)
          fwdAt.push_back(p.ms);
      size_t firstFwd = fwdAt.size() >= baseSent.size() ? fwdAt.size() - baseSent.size() : 0;
      for (size_t i = 0; i < baseSent.size() && firstFwd + i < fwdAt.size(); ++i)
        perKind[k].baseUs.push_back((fwdAt[firstFwd + i] - baseSent[i]) * 1000);
      before += n;
      // Idle in the pause, both processes alike.
      IdlePause(idle, baseIdle, receiver, forwarderKey, before, kSettle, kIdleWindow);
    }
    idlePerSecond = idle.PerSecond();
    idleSeconds = idle.seconds();
    // The program's latencies: its presses in order against the emulator's
    // writes.
    std::vector<std::pair<uint8_t, double>> sent = run.Sent();
    std::vector<double> progAt;
    for (const Receiver::Press &p : receiver.Presses())
      if (p.keycode != forwarderKey)
        progAt.push_back(p.ms);
    for (size_t i = 0; i < sent.size() && i < progAt.size() && i < stepOf.size(); ++i) {
      if (stepOf[i] == SIZE_MAX)
        continue;
      const size_t k = order[stepOf[i]];
      const double us = (progAt[i] - sent[i].second) * 1000;
      perKind[k].us.push_back(us);
      if (k == kByTurns)
        (sent[i].first == kLetter ? byTurnsLetter : byTurnsLent).push_back(us);
    }
    for (KindFigures &f : perKind) {
      f.latency = Summarise(f.us);
      f.base = Summarise(f.baseUs);
      f.got = f.us.size();
      f.cpu = CpuPerKey(f.typed, idle);
      f.baseCpu = CpuPerKey(f.baseTyped, baseIdle);
      for (auto &[name, us] : f.threadsUs)
        us /= f.typed.keys > 0 ? f.typed.keys : 1;
    }
    if (progAt.size() != sent.size())
      printf("bench_keypath: %zu keys sent, %zu received: the figures may pair keys wrongly\n",
             sent.size(), progAt.size());
  }

  // (b) Letters at 30 and 1,000 keys a second: CPU per key of the whole
  // program and of the forwarder, in rounds where both type at once (the
  // forwarder starts at the program's first key), a pause between rounds
  // with both processes' idle rate measured in it; the figure is the median
  // of the rounds. At 30, then, system calls per key with strace.
  constexpr int kRateRounds = 3, kTraced = 90;
  constexpr auto kTracedIdle = 2000ms; // each of the two idle stretches around the traced keys
  struct RateFigures {
    std::vector<PerKey> prog, base;
    std::vector<double> ratios;
    CallsPerKey calls, baseCalls;
    bool traced = false;
    const char *untraced = "strace cannot attach";
  };
  std::map<int, RateFigures> perRate;
  int runNo = 2;
  for (int rate : {30, 1000}) {
    const int n = rate == 30 ? 150 : 1000;
    std::string s = kWarmUpSteps;
    for (int round = 0; round < kRateRounds; ++round)
      s += ",type:" + std::to_string(n) + ",wait:" + std::to_string(kPauseMs);
    if (rate == 30) // time to attach strace and count calls idle before the keys
      s += ",wait:" + std::to_string(500 + kTracedIdle.count()) + ",type:" +
           std::to_string(kTraced);
    ProgramRun run(box, server.display(), runNo++, {kLetter}, 1000 / rate, s);
    if (!run.ok())
      continue;
    receiver.Focus();
    IdleRate idle(run.pid()), baseIdle(forwarder);
    size_t before = receiver.Count(forwarderKey, true) + kWarmUp;
    WaitPresses(receiver, forwarderKey, before);
    RateFigures &f = perRate[rate];
    std::vector<Typed> progTyped, baseTyped;
    for (int round = 0; round < kRateRounds; ++round) {
      double cpu0 = ProcessCpuUs(run.pid()), fwd0 = ProcessCpuUs(forwarder), at0 = NowMs();
      const size_t fwdBefore = receiver.Count(forwarderKey, false);
      WaitFor([&] { return receiver.Count(forwarderKey, true) > before; }, 10s);
      PaceForwarder(basePort.master(), n, rate);
      WaitPresses(receiver, forwarderKey, before + n); // the program's
      WaitFor([&] { return receiver.Count(forwarderKey, false) >= fwdBefore + n; }, 10s);
      std::this_thread::sleep_for(100ms);
      const double elapsed = NowMs() - at0;
      progTyped.emplace_back();
      progTyped.back().Add(ProcessCpuUs(run.pid()) - cpu0, elapsed, n);
      baseTyped.emplace_back();
      baseTyped.back().Add(ProcessCpuUs(forwarder) - fwd0, elapsed, n);
      before += n;
      IdlePause(idle, baseIdle, receiver, forwarderKey, before, kSettle, kIdleWindow);
    }
    for (size_t round = 0; round < progTyped.size(); ++round) {
      f.prog.push_back(CpuPerKey(progTyped[round], idle));
      f.base.push_back(CpuPerKey(baseTyped[round], baseIdle));
      if (f.prog.back().measurable && f.base.back().measurable)
        f.ratios.push_back(f.prog.back().us / f.base.back().us);
    }
    if (rate == 30) {
      // One strace session a process over idle, the traced keys and idle
      // again; the same stretches of time are counted for both.
      const std::string dir = box.path();
      const double wallMinusSteadyS = WallSeconds() - NowMs() / 1000;
      pid_t progTracer = StartTrace(run.pid(), dir + "/strace-program.txt");
      pid_t baseTracer = StartTrace(forwarder, dir + "/strace-forwarder.txt");
      std::this_thread::sleep_for(500ms); // attached to every thread
      Span idleBefore, typing, idleAfter;
      idleBefore.from = WallSeconds();
      const size_t fwdBefore = receiver.Count(forwarderKey, false);
      WaitFor([&] { return receiver.Count(forwarderKey, true) > before; }, 10s);
      PaceForwarder(basePort.master(), kTraced, rate);
      WaitPresses(receiver, forwarderKey, before + kTraced);
      WaitFor([&] { return receiver.Count(forwarderKey, false) >= fwdBefore + kTraced; }, 10s);
      // The typing's window: from just before the program's first traced key
      // reached the receiver to kSettle after the last key of either.
      double firstMs = 0, lastMs = 0;
      size_t progSeen = 0;
      for (const Receiver::Press &p : receiver.Presses()) {
        if (p.keycode != forwarderKey && ++progSeen == before + 1)
          firstMs = p.ms;
        lastMs = std::max(lastMs, p.ms);
      }
      typing.from = idleBefore.to = firstMs / 1000 + wallMinusSteadyS - 0.1;
      typing.to = idleAfter.from =
          lastMs / 1000 + wallMinusSteadyS + std::chrono::duration<double>(kSettle).count();
      idleAfter.to = idleAfter.from + std::chrono::duration<double>(kTracedIdle).count();
      while (WallSeconds() < idleAfter.to + 0.05)
        std::this_thread::sleep_for(50ms);
      std::vector<double> progTimes, baseTimes;
      const bool progOk = StopTrace(progTracer, dir + "/strace-program.txt", &progTimes);
      const bool baseOk = StopTrace(baseTracer, dir + "/strace-forwarder.txt", &baseTimes);
      if (!progOk || !baseOk)
        f.untraced = "strace cannot attach";
      else if (firstMs <= 0 || idleBefore.length() < 1)
        f.untraced = "the traced keys came before strace had attached";
      else {
        f.traced = true;
        f.calls = CallsPerKeyWithin(progTimes, idleBefore, typing, idleAfter, kTraced);
        f.baseCalls = CallsPerKeyWithin(baseTimes, idleBefore, typing, idleAfter, kTraced);
      }
    }
  }
  kill(forwarder, SIGKILL);
  waitpid(forwarder, nullptr, 0);

  printf("bench_keypath: the real vantrel (window up, xtest, German keymap) typing from "
         "vantrel-kbd, against a minimal forwarder process; CPU is every thread's, less the "
         "idle rate measured in the pauses between the typing (%.1f us/s over %.1f s in (a))\n",
         idlePerSecond, idleSeconds);
  printf("  (a) 50 keys a second, %d keys a kind a step (%d by turns); latency from the "
         "emulator's write to the KeyPress\n",
         kStep, kTurnsStep);
  for (size_t k = 0; k < kinds.size(); ++k) {
    const KindFigures &f = perKind[k];
    char cpuRatio[16] = "n/a";
    if (f.cpu.measurable && f.baseCpu.measurable)
      snprintf(cpuRatio, sizeof cpuRatio, "%.2f", f.cpu.us / f.baseCpu.us);
    printf("    %-27s median %7.1f us  p99 %7.1f us  CPU %s | forwarder median %7.1f "
           "us  p99 %7.1f us  CPU %s | ratio median %.2f p99 %.2f CPU %s (%zu keys)\n",
           kinds[k].first, f.latency.median, f.latency.p99, CpuText(f.cpu).c_str(),
           f.base.median, f.base.p99, CpuText(f.baseCpu).c_str(),
           f.base.median > 0 ? f.latency.median / f.base.median : 0,
           f.base.p99 > 0 ? f.latency.p99 / f.base.p99 : 0, cpuRatio, f.got);
    for (const auto &[name, us] : f.threadsUs)
      if (us >= 1)
        printf("        thread %-28s %6.1f us/key\n", name.c_str(), us);
  }
  const KindFigures &letter = perKind[0], &lent = perKind[4];
  const Figures l = Summarise(byTurnsLetter), c = Summarise(byTurnsLent);
  const auto [p99Low, p99High] = ResampledP99Ratio(byTurnsLent, byTurnsLetter);
  printf("    by turns: letter median %7.1f us  p99 %7.1f us (%zu keys) | lent median %7.1f us  "
         "p99 %7.1f us (%zu keys) | p99 ratio resampled %.2f to %.2f (10-90 %%)\n",
         l.median, l.p99, byTurnsLetter.size(), c.median, c.p99, byTurnsLent.size(), p99Low,
         p99High);
  if (l.median > 0 && l.p99 > 0) {
    const double rm = c.median / l.median, rp = c.p99 / l.p99;
    const bool cpuKnown = letter.cpu.measurable && lent.cpu.measurable;
    const double rc = cpuKnown ? lent.cpu.us / letter.cpu.us : 0;
    char cpuText[96];
    if (cpuKnown)
      snprintf(cpuText, sizeof cpuText, "%.2f", rc);
    else
      snprintf(cpuText, sizeof cpuText, "unmeasurable (the idle rate's spread is as large)");
    printf("    lent character / letter: latency by turns median %.2f, p99 %.2f; CPU (steps of "
           "their own) %s (goal <= 1.3 each: %s)\n",
           rm, rp, cpuText, cpuKnown && rm <= 1.3 && rp <= 1.3 && rc <= 1.3 ? "met" : "NOT met");
  }
  printf("  (b) letters, whole program against the forwarder process\n");
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
  };
  for (const auto &[rate, f] : perRate) {
    std::string rounds;
    std::vector<double> progUs, baseUs;
    for (size_t r = 0; r < f.prog.size(); ++r) {
      if (f.prog[r].measurable && f.base[r].measurable) {
        progUs.push_back(f.prog[r].us);
        baseUs.push_back(f.base[r].us);
        rounds += (rounds.empty() ? "" : " ") +
                  std::to_string(f.prog[r].us / f.base[r].us).substr(0, 4);
      } else {
        rounds += std::string(rounds.empty() ? "" : " ") + "unmeasurable";
      }
    }
    if (f.ratios.empty()) {
      // No round gave a figure: say why, with the first round's numbers.
      const PerKey &p = f.prog.empty() ? PerKey{} : f.prog[0];
      printf("    %4d keys/s: CPU %s, forwarder %s (rounds: %s; goal <= 1.5: NOT met)\n", rate,
             CpuText(p).c_str(), f.base.empty() ? "-" : CpuText(f.base[0]).c_str(),
             rounds.c_str());
    } else {
      const double ratio = median(f.ratios);
      printf("    %4d keys/s: CPU %6.1f us/key, forwarder %6.1f us/key, ratio %.2f (median of %zu "
             "rounds: %s; goal <= 1.5: %s)\n",
             rate, median(progUs), median(baseUs), ratio, f.ratios.size(), rounds.c_str(),
             ratio <= 1.5 ? "met" : "NOT met");
    }
    if (f.traced) {
      if (f.calls.measurable && f.baseCalls.measurable)
        printf("    %4d keys/s: system calls %.1f a key (every thread, the idle rate around it "
               "taken off), forwarder %.1f (goal <= forwarder + 1: %s)\n",
               rate, f.calls.calls, f.baseCalls.calls,
               f.calls.calls <= f.baseCalls.calls + 1 ? "met" : "NOT met");
      else
        printf("    %4d keys/s: system calls unmeasurable (what typing adds is no more than the "
               "idle stretches' spread: %.1f a key for the program, %.1f for the forwarder) "
               "(goal <= forwarder + 1: NOT met)\n",
               rate, f.calls.noise, f.baseCalls.noise);
    } else if (rate == 30) {
      printf("    system calls: not counted (%s)\n", f.untraced);
    }
  }
  return 0;
}
