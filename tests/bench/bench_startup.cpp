// Start-up benchmark: the time from launch to the first paint of the main
// window, and the peak memory (VmHWM) at that moment, for vantrel and for a
// bare Qt window of the same size measured in the same run. Both run
// offscreen. Goal: at most twice the bare window's time and 1.5 times its
// memory. Prints the figures and ratios; never fails.
#include "tests/support/temp_root.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Sample {
  double ms = -1;
  long hwmKb = -1;
};

long VmHwmKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0)
      return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

// Runs args with env until painted() says so (or 20 s pass).
Sample Measure(const std::vector<std::string> &args, const std::vector<std::string> &env,
               const std::function<bool()> &painted) {
  const auto start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    for (const std::string &e : env)
      putenv(const_cast<char *>(e.c_str()));
    freopen("/dev/null", "w", stdout);
    freopen("/dev/null", "w", stderr);
    std::vector<char *> argv;
    for (const std::string &a : args)
      argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  Sample s;
  while (Clock::now() - start < std::chrono::seconds(20)) {
    if (painted()) {
      s.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      s.hwmKb = VmHwmKb(pid);
      break;
    }
    if (waitpid(pid, nullptr, WNOHANG) == pid) {
      pid = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  if (pid > 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  return s;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? -1 : v[v.size() / 2];
}

} // namespace

int main() {
  const std::string vantrel = std::string(VANTREL_BINARY_DIR) + "/app/vantrel";
  const std::string bare = std::string(VANTREL_BINARY_DIR) + "/tests/app/bench_bare_window";
  if (!fs::exists(vantrel) || !fs::exists(bare)) {
    printf("bench_startup: vantrel or the bare window is not built; skipped\n");
    return 0;
  }
  testsupport::TempRoot box("bench");
  const std::string root = box.path();
  for (const char *name : {"English.lang", "Intl English.kcod", "vtr.bmp", "vtr_wide.bmp"})
    box.CopyData(name, std::string("opt/Vantrel/") + name);
  const std::string trace = root + "/trace.log";
  const std::string marker = root + "/painted";
  const std::vector<std::string> common = {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + root};
  std::vector<std::string> appEnv = common;
  for (const std::string &e :
       {"VANTREL_ROOT=" + root, "VANTREL_REGISTRY=" + root + "/registry.db",
        "VANTREL_DEVICES=" + root + "/dev", "VANTREL_INJECT=log:" + root + "/inject.log",
        "VANTREL_TRACE=" + trace, std::string("LC_ALL=en_US.UTF-8")})
    appEnv.push_back(e);

  const int runs = 7;
  std::vector<double> appMs, bareMs, appKb, bareKb;
  for (int i = 0; i < runs; ++i) {
    fs::remove(marker);
    Sample b = Measure({bare, marker}, common, [&] { return fs::exists(marker); });
    fs::remove(trace);
    Sample a = Measure({vantrel}, appEnv,
                       [&] { return testsupport::ReadFile(trace).find("yLine = ") != std::string::npos; });
    if (i == 0)
      continue; // warm-up: file cache and font cache
    if (a.ms >= 0) {
      appMs.push_back(a.ms);
      appKb.push_back(a.hwmKb);
    }
    if (b.ms >= 0) {
      bareMs.push_back(b.ms);
      bareKb.push_back(b.hwmKb);
    }
  }
  if (appMs.empty() || bareMs.empty()) {
    printf("bench_startup: a program did not paint within 20 s; no figures\n");
    return 0;
  }
  const double at = Median(appMs), bt = Median(bareMs), am = Median(appKb), bm = Median(bareKb);
  printf("Start-up to the first paint (median of %zu runs, offscreen)\n", appMs.size());
  printf("  vantrel      %8.1f ms   peak memory %8.0f kB\n", at, am);
  printf("  bare window  %8.1f ms   peak memory %8.0f kB\n", bt, bm);
  printf("  ratio time   %8.2f (goal <= 2.00) %s\n", at / bt, at / bt <= 2.0 ? "met" : "NOT met");
  printf("  ratio memory %8.2f (goal <= 1.50) %s\n", am / bm, am / bm <= 1.5 ? "met" : "NOT met");
  return 0;
}
