// Where the trace's lines go: what each build provides under the trace
// (platform/core/trace.cpp, which holds the rest: the flood limit, the
// tests' sink, the warnings). Internal to the platform layer. The trace
// calls these under its own lock, one line at a time.
#pragma once

#include <string>

// Opens the place VANTREL_TRACE names (where: not empty): "stderr", a file
// appended to, and on Windows "debugger". Returns true when trace lines are
// to be written there; false when the place cannot be used, after a line on
// stderr that says why.
bool TraceOutputOpen(const char *where);
// Whether the opened place is stderr (warnings are then written there once).
bool TraceOutputIsStderr();
// Writes line (given without its line end) to the opened place as one whole
// line; a line that cannot be written is lost.
void TraceOutputWrite(const std::string &line);
// Writes line (given without its line end) to stderr as one whole line.
void StderrWriteLine(const std::string &line);
