// Wake-ups of the whole program while connected and idle: the real vantrel,
// typing through xtest into an Xvfb, connected to vantrel-kbd (its default
// heartbeat, one a second), then left alone. Counted from the context
// switches of every thread (/proc/PID/task/*/status) over ten seconds, one
// period of the keyboard's status poll. What is due meanwhile: the reader
// thread reads each heartbeat (1/s) and the answer to the status poll
// (0.1/s); the user-interface thread runs the main window's one-second timer
// while connected (1/s), with the status poll's timer in the same wake-up.
// The baseline, in the same run and over the same seconds: the bare Qt
// window of the start-up benchmark, idle (its figure shows what an idle Qt
// program costs; the goal is absolute). Goal: at most 2 wake-ups a second.
// Prints "skipped" when something is missing; never fails.
#include "app_test_env.h"
#include "tests/inject/x_session.h"

#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr auto kMeasure = 10s;

// The context switches of every thread of pid so far (-1: gone); with
// perThread, each thread's count by its name is added to it.
long long Switches(pid_t pid, std::map<std::string, long long> *perThread = nullptr) {
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
          line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
        n += std::stoll(line.substr(line.find(':') + 1));
    }
    total += n;
    if (perThread)
      (*perThread)[name + " (" + e->d_name + ")"] += n;
  }
  closedir(d);
  return total;
}

} // namespace

int main() {
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
  std::this_thread::sleep_for(2s);
  std::map<std::string, long long> threads0, threads1;
  long long app0 = Switches(vantrel.pid(), &threads0), bare0 = Switches(window.pid());
  auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(kMeasure);
  long long app1 = Switches(vantrel.pid(), &threads1), bare1 = Switches(window.pid());
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (app0 < 0 || app1 < 0 || bare0 < 0 || bare1 < 0) {
    printf("bench_idle: skipped (a process ended early)\n");
    return 0;
  }
  double app = (app1 - app0) / seconds, base = (bare1 - bare0) / seconds;
  printf("bench_idle: wake-ups a second, connected and idle (xtest, keyboard heartbeat 1/s), "
         "over %.1f s\n",
         seconds);
  printf("  baseline (bare Qt window, idle)  %6.2f /s\n", base);
  printf("  vantrel, connected and idle      %6.2f /s  (goal <= 2/s: %s)\n", app,
         app <= 2.0 ? "met" : "NOT met");
  for (const auto &[name, n] : threads1) {
    long long woke = n - threads0[name];
    if (woke > 0)
      printf("    thread %-28s %6.2f /s\n", name.c_str(), woke / seconds);
  }
  return 0;
}
