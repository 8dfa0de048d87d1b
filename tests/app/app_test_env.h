// What the shell's tests share beyond tests/support: readying a sandbox for
// a run of the real program, running it (and the vantrel-kbd keyboard
// emulator) in child processes, and the power time-outs it changes.
#pragma once

#include "platform/window.h"
#include "tests/support/sandbox.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

// Readies the sandbox for a run of the real program: its data files, a
// folder for the ports, and the settings a sandboxed run presets (the port
// `comPort`, a keyboard seen before) so that no first-run dialog and no
// calibration question waits for an answer nobody gives.
void PresetProgramRun(const testsupport::ProgramSandbox &box, LPCWSTR comPort);

// The instance handle the tests' in-process windows are made with.
HINSTANCE TestInstance();

// Readies the sandbox for a main window made in this process: the English
// language file and the pictures in opt/Vantrel, that folder as InstallDir,
// English chosen and its UI strings loaded. Returns whether they loaded.
bool ReadyInProcessWindow(const testsupport::ProgramSandbox &box);

// In a forked child: adds `env` to the environment and runs args[0] with
// `args`; exits with 127 when it cannot.
[[noreturn]] void ExecWithEnvironment(const std::vector<std::string> &args,
                                      const std::vector<std::string> &env);

// Polls done() every 50 ms for up to limit; returns its last answer.
bool WaitFor(const std::function<bool()> &done, std::chrono::milliseconds limit);

// A program run in a child process with output (stdout and stderr) going to
// a file; killed (SIGKILL) by the destructor if it has not ended.
class Child {
public:
  Child(const std::vector<std::string> &args, const std::vector<std::string> &env,
        const std::string &output);
  ~Child();
  // The exit code (128 + signal when a signal ended it), or -1 when it has
  // not ended within the time.
  int Wait(std::chrono::milliseconds limit);
  void Signal(int signal);
  void Kill();
  pid_t pid() const { return pid_; }

private:
  pid_t pid_ = -1;
  bool exited_ = false;
};

// The sandbox's power time-outs (BattUserIdle, BattSystemIdle, BattSuspend;
// -1 for a missing one) and what SuspendKiller remembers of them (the three
// values and "Engaged", -1 when missing), read from the settings database
// in use.
std::vector<int> PowerTimeouts();
std::vector<int> RememberedTimeouts();
void SetPowerTimeouts(const std::vector<int> &values);
void SetRememberedTimeouts(const std::vector<int> &valuesAndEngaged);
// A stored setting's number, -1 when missing, read without storing a
// default (so a test polling it cannot race the program's own write).
int StoredSetting(const WCHAR *name);

// The environment of a sandboxed run of the real program in `root` (as
// PresetProgramRun readied it): its own settings, devices folder ("dev"),
// trace ("trace.log") and typed keys ("inject.log"), offscreen, and no
// buses or sound server, so that it never keeps the real machine awake.
std::vector<std::string> ProgramEnvironment(const std::string &root);
// The emulator `kbd` (vantrel-kbd) on COM3 in root/dev, logging to
// root/kbd.log, with a quick heartbeat so that a connection is made as fast
// as the program allows; waits until its port is offered.
std::unique_ptr<Child> StartKeyboardIn(const std::string &kbd, const std::string &root,
                                       const std::vector<std::string> &env);
// Whether the emulator's log shows a DISCONNECT packet received after the
// last time the port was opened.
bool DisconnectAfterLastOpen(const std::string &kbdLog);
