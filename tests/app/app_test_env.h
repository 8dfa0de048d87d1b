// Shared set-up of the shell's tests: a sandbox of their own (device root
// and settings database in a temporary folder, never the user's), the
// toolkit started offscreen, and a stand-in for TypingWnd that records what
// the main window sends the link.
#pragma once

#include "platform/window.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

struct RecordedMessage {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  bool closeQueued; // a WM_CLOSE was already waiting when this arrived
};

class AppSandbox {
public:
  AppSandbox();
  ~AppSandbox();
  const std::string &root() const { return root_; }
  // Creates a folder (and its parents) below the root.
  void MakeFolder(const std::string &relative) const;
  // Writes a file below the root.
  void Put(const std::string &relative, const std::string &content) const;
  // Copies a file of the source tree's data/ folder into root/dest.
  void CopyData(const std::string &name, const std::string &dest) const;

private:
  std::string root_;
};

// Readies the sandbox for a run of the real program: its data files, a
// folder for the ports, and the settings a sandboxed run presets (the port
// `comPort`, a keyboard seen before) so that no first-run dialog and no
// calibration question waits for an answer nobody gives.
void PresetProgramRun(const AppSandbox &box, LPCWSTR comPort);

// In a forked child: adds `env` to the environment and runs args[0] with
// `args`; exits with 127 when it cannot.
[[noreturn]] void ExecWithEnvironment(const std::vector<std::string> &args,
                                      const std::vector<std::string> &env);

// Starts the toolkit once for the process (offscreen) and registers the
// program's resources.
void StartToolkitOnce();

// The recording stand-in for TypingWnd, installed as AppGlobals.link.
HWND CreateLinkRecorder();
void DestroyLinkRecorder();
std::vector<RecordedMessage> &LinkMessages();

// Dispatches the calling thread's queued messages; false when the quit
// message was among them.
bool PumpMessages();

// The whole content of a file ("" when it cannot be read).
std::string ReadAll(const std::string &path);

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
