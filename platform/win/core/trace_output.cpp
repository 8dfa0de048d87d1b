// Where the trace's lines go on Windows (see platform/core/trace_output.h):
// VANTREL_TRACE names "stderr", "debugger" (OutputDebugStringW) or a file
// appended to.
#include "platform/core/trace_output.h"

#include "platform/text.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/win/core/real_calls.h"

namespace {

enum class Destination { None, Stderr, Debugger, File };

Destination gDestination = Destination::None;
HANDLE gFile = INVALID_HANDLE_VALUE; // the trace file, opened once

} // namespace

bool TraceOutputOpen(const char *where) {
  if (strcmp(where, "stderr") == 0) {
    gDestination = Destination::Stderr;
    return true;
  }
  if (strcmp(where, "debugger") == 0) {
    gDestination = Destination::Debugger;
    return true;
  }
  // The user's own profile folders keep the file the user's alone; no
  // other user is given any access to it here.
  const std::u16string path = Utf8ToUtf16(where);
  // Shared for writing: a second launch of the program appends its own
  // lines (whole lines: every write appends at the end).
  gFile = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (gFile == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "vantrel: trace file %s not used: error %lu\n", where, GetLastError());
    return false;
  }
  gDestination = Destination::File;
  return true;
}

bool TraceOutputIsStderr() { return gDestination == Destination::Stderr; }

void TraceOutputWrite(const std::string &line) {
  switch (gDestination) {
  case Destination::Stderr:
    StderrWriteLine(line);
    break;
  case Destination::Debugger: {
    std::u16string text = Utf8ToUtf16(line + "\n");
    OutputDebugStringW(text.c_str());
    break;
  }
  case Destination::File: {
    std::string whole = line + "\r\n";
    DWORD written = 0;
    ::WriteFile(gFile, whole.data(), static_cast<DWORD>(whole.size()), &written, nullptr);
    break;
  }
  case Destination::None:
    break;
  }
}

void StderrWriteLine(const std::string &line) {
  fprintf(stderr, "%s\n", line.c_str());
  fflush(stderr);
}
