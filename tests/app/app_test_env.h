// Shared set-up of the shell's tests: a sandbox of their own (device root
// and settings database in a temporary folder, never the user's), the
// toolkit started offscreen, and a stand-in for TypingWnd that records what
// the main window sends the link.
#pragma once

#include "platform/window.h"

#include <string>
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
