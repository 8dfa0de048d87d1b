// Quitting while connected, fifty times over: the real program against
// vantrel-kbd, quit through a later launch (--quit) or SIGTERM, once the
// keyboard's heartbeat has engaged the keep-awake and once fully connected.
// Every run must end with exit code 0, every thread ended, the keyboard told
// DISCONNECT, the power time-outs back, and (in the sanitizer build) no
// report: the program's threads must never outlive its static objects.
// Several sandboxes run side by side to keep the whole under a few minutes.
#include "app/settings_store.h"
#include "app_test_env.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr int kQuits = 50;
constexpr int kLanes = 5;
const std::vector<int> kTimeouts = {60, 120, 300};

// The test process reads one settings database at a time.
std::mutex gRegistryMutex;

int Count(const std::string &text, const std::string &what) {
  int seen = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++seen;
  return seen;
}

struct Lane {
  std::unique_ptr<AppSandbox> box;
  std::vector<std::string> env;
  std::string failures;

  std::string Path(const std::string &name) const { return box->root() + "/" + name; }
  std::string Trace() const { return ReadAll(Path("trace.log")); }

  void Fail(int run, const std::string &what) {
    std::ostringstream out;
    out << "quit " << run << ": " << what << "\n";
    failures += out.str();
  }

  // One start, connection and quit; false when the lane cannot go on.
  bool Run(int run) {
    // Even runs quit as soon as the keep-awake is engaged (the handshake is
    // still under way), odd runs once fully connected.
    const std::string engaged = run % 2 == 0 ? "power: requirement BKL1: D0 taken"
                                             : "Connect button: Disconnect";
    const int before = Count(Trace(), engaged);
    const int endedBefore = Count(Trace(), "Every thread has ended");
    const std::string output = "vantrel-" + std::to_string(run) + ".out";
    Child vantrel({VANTREL_EXE, "--connect"}, env, Path(output));
    if (!WaitFor([&] { return Count(Trace(), engaged) > before; }, 40s)) {
      Fail(run, "never connected\n" + Trace());
      return false;
    }
    if (run % 4 < 2) {
      Child quit({VANTREL_EXE, "--quit"}, env, Path("quit.out"));
      if (quit.Wait(20s) != 0)
        Fail(run, "--quit did not reach the running program");
    } else {
      vantrel.Signal(SIGTERM);
    }
    const int code = vantrel.Wait(30s);
    const std::string out = ReadAll(Path(output));
    if (code != 0)
      Fail(run, "exit code " + std::to_string(code) + "\n" + out);
    if (out.find("Sanitizer") != std::string::npos || out.find("runtime error") != std::string::npos)
      Fail(run, "sanitizer report\n" + out);
    if (Count(Trace(), "Every thread has ended") <= endedBefore)
      Fail(run, "not every thread ended");
    if (!WaitFor([&] { return DisconnectAfterLastOpen(Path("kbd.log")); }, 5s))
      Fail(run, "no DISCONNECT after the port was opened");
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    RegistryUseDatabase(Path("registry.db"));
    if (PowerTimeouts() != kTimeouts || RememberedTimeouts()[3] != 0)
      Fail(run, "power time-outs not restored");
    return code >= 0;
  }
};

TEST(QuitRepeat, FiftyQuitsWhileConnectedEndCleanly) {
  std::vector<std::unique_ptr<Lane>> lanes;
  for (int i = 0; i < kLanes; ++i) {
    auto lane = std::make_unique<Lane>();
    lane->box = std::make_unique<AppSandbox>(); // its database is the one in use now
    PresetProgramRun(*lane->box, u"COM3:");
    SetPowerTimeouts(kTimeouts);
    lane->env = ProgramEnvironment(lane->box->root());
    lanes.push_back(std::move(lane));
  }
  std::vector<std::thread> threads;
  for (int i = 0; i < kLanes; ++i) {
    threads.emplace_back([&lanes, i] {
      Lane &lane = *lanes[i];
      auto kbd = StartKeyboardIn(lane.box->root(), lane.env);
      for (int run = i; run < kQuits; run += kLanes)
        if (!lane.Run(run))
          break;
    });
  }
  for (std::thread &t : threads)
    t.join();
  for (const auto &lane : lanes)
    EXPECT_EQ(lane->failures, "");
}

} // namespace
