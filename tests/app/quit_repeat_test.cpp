// Quitting while connected, thirty times over (VANTREL_QUIT_REPEATS): the real program against
// vantrel-kbd, quit through a later launch (--quit) or SIGTERM, once the
// keyboard's heartbeat has engaged the keep-awake and once fully connected.
// Every run must end with exit code 0, every thread ended, the keyboard told
// DISCONNECT, the power time-outs back, and (in the sanitizer build) no
// report: the program's threads must never outlive its static objects.
// Several sandboxes run side by side to keep the whole under a few minutes.
//
// Now and then, on a loaded machine, a fresh start does not see the
// keyboard's sync pattern and its attempt to connect fails; such a run is
// quit too and must end just as cleanly, but it is not counted, and another
// run is made in its place (a few at most per sandbox).
#include "common/settings_store.h"
#include "app_test_env.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;

using namespace testsupport;

namespace {

constexpr int kLanes = 5;

// Thirty in CI; VANTREL_QUIT_REPEATS asks for more (rounded up to whole
// lanes) when hunting a rare ordering at the end.
int QuitsWanted() {
  const char *asked = getenv("VANTREL_QUIT_REPEATS");
  const int n = asked ? atoi(asked) : 30;
  return n > 0 && n <= 10000 ? (n + kLanes - 1) / kLanes * kLanes : 30;
}
const int kQuits = QuitsWanted();
const int kQuitsPerLane = kQuits / kLanes;
constexpr int kMissedConnectionsPerLane = 3;
const std::vector<int> kTimeouts = {60, 120, 300};

// The test process reads one settings database at a time.
std::mutex gRegistryMutex;

// The last `n` lines of a text, for failure messages.
std::string Tail(const std::string &text, int n) {
  size_t at = text.size();
  while (n-- > 0 && at > 0) {
    at = text.rfind('\n', at - 1);
    if (at == std::string::npos)
      return text;
  }
  return text.substr(at);
}

std::string Numbers(const std::vector<int> &values) {
  std::string out;
  for (int v : values)
    out += (out.empty() ? "" : " ") + std::to_string(v);
  return out;
}

int Count(const std::string &text, const std::string &what) {
  int seen = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++seen;
  return seen;
}

struct Lane {
  std::unique_ptr<ProgramSandbox> box;
  std::vector<std::string> env;
  std::string failures;
  int connectedQuits = 0;
  int missedConnections = 0;

  std::string Path(const std::string &name) const { return box->path() + "/" + name; }
  std::string Trace() const { return ReadFile(Path("trace.log")); }

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
    const bool connected = WaitFor([&] { return Count(Trace(), engaged) > before; }, 40s);
    if (connected) {
      ++connectedQuits;
    } else if (++missedConnections > kMissedConnectionsPerLane) {
      Fail(run, "never connected; the trace ends:" + Tail(Trace(), 12) + "\nthe keyboard's log ends:" +
                    Tail(ReadFile(Path("kbd.log")), 8));
    }
    if (run % 4 < 2) {
      Child quit({VANTREL_EXE, "--quit"}, env, Path("quit.out"));
      if (quit.Wait(20s) != 0)
        Fail(run, "--quit did not reach the running program");
    } else {
      vantrel.Signal(SIGTERM);
    }
    const int code = vantrel.Wait(30s);
    const std::string out = ReadFile(Path(output));
    if (code != 0)
      Fail(run, "exit code " + std::to_string(code) + ":" + Tail(out, 30));
    if (out.find("Sanitizer") != std::string::npos || out.find("runtime error") != std::string::npos)
      Fail(run, "sanitizer report:" + Tail(out, 60));
    if (Count(Trace(), "Every thread has ended") <= endedBefore)
      Fail(run, "not every thread ended");
    if (connected && !WaitFor([&] { return DisconnectAfterLastOpen(Path("kbd.log")); }, 5s))
      Fail(run, "no DISCONNECT after the port was opened");
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    RegistryUseDatabase(Path("registry.db"));
    const std::vector<int> now = PowerTimeouts(), remembered = RememberedTimeouts();
    if (now != kTimeouts || remembered[3] != 0)
      Fail(run, "power time-outs not restored: " + Numbers(now) + ", remembered " + Numbers(remembered) +
                    (connected ? "" : " (the run never connected)") + "; the trace ends:" +
                    Tail(Trace(), 25) + "\nthe keyboard's log ends:" + Tail(ReadFile(Path("kbd.log")), 8));
    return code >= 0 && missedConnections <= kMissedConnectionsPerLane;
  }
};

TEST(QuitRepeat, ThirtyQuitsWhileConnectedEndCleanly) {
  std::vector<std::unique_ptr<Lane>> lanes;
  for (int i = 0; i < kLanes; ++i) {
    auto lane = std::make_unique<Lane>();
    lane->box = std::make_unique<ProgramSandbox>(); // its database is the one in use now
    PresetProgramRun(*lane->box, u"COM3:");
    SetPowerTimeouts(kTimeouts);
    lane->env = ProgramEnvironment(lane->box->path());
    lanes.push_back(std::move(lane));
  }
  std::vector<std::thread> threads;
  for (int i = 0; i < kLanes; ++i) {
    threads.emplace_back([&lanes, i] {
      Lane &lane = *lanes[i];
      auto kbd = StartKeyboardIn(VANTREL_KBD_EXE, lane.box->path(), lane.env);
      for (int run = i; lane.connectedQuits < kQuitsPerLane; run += kLanes)
        if (!lane.Run(run))
          break;
    });
  }
  for (std::thread &t : threads)
    t.join();
  int quits = 0, missed = 0;
  for (const auto &lane : lanes) {
    EXPECT_EQ(lane->failures, "");
    quits += lane->connectedQuits;
    missed += lane->missedConnections;
  }
  EXPECT_EQ(quits, kQuits);
  printf("%d quits while connected; %d starts that did not connect, quit as cleanly\n", quits, missed);
}

} // namespace
