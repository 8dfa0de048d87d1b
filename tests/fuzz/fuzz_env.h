// What every fuzz entry runs in: a private device root (VANTREL_ROOT) with
// InstallDir "\Vantrel\", its own settings database, windows for the link to
// post to, and doubles for what would reach the desktop (message boxes are
// answered as without a presenter, dialogs close at once, injected keys are
// counted and dropped).
// Set up once per process and shared by all entries, so that the replay test
// can run every entry in one process.
#pragma once

#include "platform/wintypes.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

struct Environment {
  std::string root;       // the device root on the host
  std::string installDir; // root + "/Vantrel"
  HWND mainWindow = nullptr;
  HWND typingWindow = nullptr;
  HWND calibrationWindow = nullptr;
};

// Sets the environment up on the first call (later calls only return it).
// The folder is removed at normal exit.
const Environment &Env();

// Writes bytes to the file `name` in InstallDir, replacing it.
void WriteInstallFile(const char *name, const uint8_t *data, size_t size);

// Puts AppGlobals back to their start values with the environment's
// InstallDir and windows filled in (the rest of the record is zero).
void ResetGlobals();

// Takes every posted message off the calling thread's queue without
// dispatching it, so that a long run cannot pile them up.
void DrainMessages();

// Trace lines are off unless an entry turns them on: then every line is
// formatted (so that what the input put into it is formatted too) and
// dropped.
void FormatTraces(bool on);

// Stops the run (a crash that the fuzzer records) when cond is false: for
// promises of the code under test that no sanitizer checks.
void Require(bool cond, const char *what);

} // namespace fuzz
