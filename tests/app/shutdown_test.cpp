// How the program ends while the keyboard is connected: the Quit soft key,
// the quit signals, the window's close button and Reset ComPort's restart
// each tell the keyboard DISCONNECT and write the power time-outs back
// before the process ends; and a start after a run that ended while
// connected (killed, crashed) puts the time-outs back.
#include "common/globals.h"
#include "app/instance.h"
#include "app/options_menu.h"
#include "app/shutdown.h"
#include "app_test_env.h"
#include "platform/inject.h"
#include "platform/window.h"
#include "tests/support/scripted_message_boxes.h"
#include "tests/support/toolkit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMetaObject>
#include <QWidget>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using namespace testsupport;

namespace {

// The restart test's program restarts this test binary in place: that fresh
// start only notes that it happened (its process id) and ends.
constexpr char kRestartMark[] = "VANTREL_TEST_RESTART_MARK";
const bool kIsRestartedImage = [] {
  if (const char *mark = getenv(kRestartMark)) {
    std::ofstream(mark) << getpid();
    _exit(0);
  }
  return false;
}();

const std::vector<int> kTimeouts = {60, 120, 300};

class Ending : public ::testing::Test {
protected:
  void SetUp() override {
    PresetProgramRun(box_, u"COM3:");
    SetPowerTimeouts(kTimeouts);
    env_ = ProgramEnvironment(box_.path());
  }
  std::string Path(const std::string &name) const { return box_.path() + "/" + name; }
  std::string Trace() const { return ReadFile(Path("trace.log")); }
  // How often the trace (kept across runs) holds `text`.
  int Count(const std::string &text) const {
    const std::string t = Trace();
    int seen = 0;
    for (size_t at = t.find(text); at != std::string::npos; at = t.find(text, at + 1))
      ++seen;
    return seen;
  }
  // Connected since the trace held `before` connections.
  bool ConnectedAfter(int before, std::chrono::milliseconds limit) const {
    return WaitFor([&] { return Count("Connect button: Disconnect") > before; }, limit);
  }
  std::unique_ptr<Child> StartVantrel(const std::vector<std::string> &extra,
                                      const std::string &output = "vantrel.out") {
    std::vector<std::string> args = {VANTREL_EXE};
    args.insert(args.end(), extra.begin(), extra.end());
    return std::make_unique<Child>(args, env_, Path(output));
  }
  // The keyboard heard DISCONNECT, the time-outs are back and nothing is
  // left engaged.
  void ExpectClosedCleanly() {
    EXPECT_TRUE(WaitFor([&] { return DisconnectAfterLastOpen(Path("kbd.log")); }, 5s))
        << ReadFile(Path("kbd.log"));
    EXPECT_EQ(PowerTimeouts(), kTimeouts);
    EXPECT_EQ(RememberedTimeouts()[3], 0) << "still marked as engaged";
    EXPECT_NE(Trace().find("Every thread has ended"), std::string::npos) << Trace();
  }

  // Runs the program in a child of this test process (the toolkit
  // offscreen), connecting at start, with drive() on a thread of its own
  // meanwhile. Returns the child's exit code (128 + signal when one ended
  // it).
  int RunInChild(const std::function<void()> &drive, const std::vector<std::string> &extraEnv = {}) {
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) {
      alarm(90);
      std::vector<std::string> env = env_;
      env.insert(env.end(), extraEnv.begin(), extraEnv.end());
      for (std::string &e : env)
        putenv(e.data());
      StartToolkitOnce();
      InjectSelectBackend();
      RequestConnectAtStart();
      std::thread driver(drive);
      static char module;
      const int code = RunVantrel(reinterpret_cast<HINSTANCE>(&module), SW_SHOW);
      driver.join();
      exit(code); // static objects are destroyed as at any end of the program
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  ProgramSandbox box_;
  std::vector<std::string> env_;
};

TEST_F(Ending, QuitAndQuitSignalsWhileConnectedDisconnectAndRestoreTheTimeouts) {
  auto kbd = StartKeyboardIn(VANTREL_KBD_EXE, box_.path(), env_);
  const std::vector<std::pair<std::string, int>> ways = {
      {"--quit", 0}, {"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}};
  for (const auto &[name, signal] : ways) {
    SCOPED_TRACE(name);
    const int before = Count("Connect button: Disconnect");
    auto vantrel = StartVantrel({"--connect"});
    ASSERT_TRUE(ConnectedAfter(before, 30s)) << Trace();
    EXPECT_EQ(PowerTimeouts(), (std::vector<int>{0, 0, 0})) << "kept awake while connected";
    if (signal) {
      vantrel->Signal(signal);
    } else {
      auto quit = StartVantrel({"--quit"}, "quit.out");
      EXPECT_EQ(quit->Wait(10s), 0);
    }
    EXPECT_EQ(vantrel->Wait(20s), 0) << ReadFile(Path("vantrel.out"));
    ExpectClosedCleanly();
  }
}

TEST_F(Ending, QuitSignalsEndAMessageBoxOfTheStartUp) {
  // A file that is not a settings database: the start-up says in a box that
  // settings cannot be saved, before the main window exists. At logout
  // nobody answers it.
  const std::string foreign = box_.Put("foreign.db", std::string(8192, 'x'));
  env_.push_back("VANTREL_REGISTRY=" + foreign);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    const int boxes = Count("Settings could not be saved");
    const int ends = Count("Every thread has ended");
    auto vantrel = StartVantrel({"--hidden"});
    ASSERT_TRUE(WaitFor([&] { return Count("Settings could not be saved") > boxes; }, 20s))
        << Trace();
    vantrel->Signal(signal);
    EXPECT_EQ(vantrel->Wait(10s), 0) << ReadFile(Path("vantrel.out"));
    EXPECT_EQ(Count("Every thread has ended"), ends + 1) << Trace();
  }
  EXPECT_EQ(ReadFile(foreign), std::string(8192, 'x'));
}

TEST_F(Ending, WindowCloseButtonWhileConnectedDisconnectsAndRestoresTheTimeouts) {
  auto kbd = StartKeyboardIn(VANTREL_KBD_EXE, box_.path(), env_);
  const int code = RunInChild([this] {
    if (!ConnectedAfter(0, 30s))
      return;
    // The window manager's close button: the main window's frame is closed.
    QMetaObject::invokeMethod(
        qApp,
        [] {
          for (QWidget *w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->windowTitle() == "Vantrel")
              w->close();
        },
        Qt::QueuedConnection);
  });
  EXPECT_EQ(code, 0);
  ASSERT_TRUE(ConnectedAfter(0, 0s)) << Trace();
  EXPECT_EQ(Trace().find("Quitting"), std::string::npos) << "closed by the window alone";
  ExpectClosedCleanly();
}

TEST_F(Ending, ResetComPortRestartWhileConnectedDisconnectsAndRestoresFirst) {
  auto kbd = StartKeyboardIn(VANTREL_KBD_EXE, box_.path(), env_);
  const std::string mark = Path("restarted");
  const int code = RunInChild(
      [this] {
        if (!ConnectedAfter(0, 30s))
          return;
        // Every question is answered Yes until the process ends.
        (new ScriptedMessageBoxes)->OtherwiseAnswer(IDYES);
        PostMessageW(AppGlobals.mainWindow, WM_COMMAND, kCommandResetComPort, 0);
      },
      {std::string(kRestartMark) + "=" + mark});
  EXPECT_EQ(code, 0);
  ASSERT_TRUE(fs::exists(mark)) << "no restart was made\n" << Trace();
  const std::string trace = Trace();
  const size_t ended = trace.find("Reader thread ended");
  const size_t restart = trace.find("restart: restarting Vantrel");
  ASSERT_NE(restart, std::string::npos) << trace;
  EXPECT_LT(ended, restart) << "the link must be closed before the restart\n" << trace;
  ExpectClosedCleanly();
}

TEST_F(Ending, StartUpPutsBackTheTimeoutsOfARunThatEndedWhileConnected) {
  // What a run killed while connected leaves: the time-outs at 0 and the
  // values to restore marked as engaged.
  SetPowerTimeouts({0, 0, 0});
  SetRememberedTimeouts({60, 120, 300, 1});
  auto vantrel = StartVantrel({});
  ASSERT_TRUE(WaitFor([&] { return Trace().find("Power time-outs restored") != std::string::npos; },
                      20s))
      << Trace();
  EXPECT_EQ(PowerTimeouts(), kTimeouts);
  EXPECT_EQ(RememberedTimeouts(), (std::vector<int>{60, 120, 300, 0}));
  vantrel->Signal(SIGTERM);
  EXPECT_EQ(vantrel->Wait(20s), 0);

  // Zeros that no run of ours left (nothing marked) are the person's own.
  SetPowerTimeouts({0, 0, 0});
  const int buttonNotes = Count("Connect button:");
  auto again = StartVantrel({}, "again.out");
  ASSERT_TRUE(WaitFor([&] { return Count("Connect button:") > buttonNotes; }, 20s));
  again->Signal(SIGTERM);
  EXPECT_EQ(again->Wait(20s), 0);
  EXPECT_EQ(PowerTimeouts(), (std::vector<int>{0, 0, 0}));
}

} // namespace
