// Where the trace's lines go on Linux (see trace_output.h): stderr or a file
// of the user's alone, each line in one write(2).
#include "platform/core/trace_output.h"

#include "platform/core/private_paths.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

int gTraceFd = -1; // the opened place, -1 when none

// Writes text and its line end to fd, whole: one write per line keeps the
// lines of several threads (and processes appending to the same file) from
// interleaving.
void WriteWhole(int fd, std::string text) {
  text.push_back('\n');
  const char *p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

} // namespace

bool TraceOutputOpen(const char *where) {
  if (strcmp(where, "stderr") == 0) {
    gTraceFd = STDERR_FILENO;
    return true;
  }
  // The trace holds every key typed: a file of the user's alone.
  std::string why;
  gTraceFd = OpenPrivateAppend(where, &why);
  if (gTraceFd < 0)
    fprintf(stderr, "vantrel: trace file %s not used: %s\n", where, why.c_str());
  return gTraceFd >= 0;
}

bool TraceOutputIsStderr() { return gTraceFd == STDERR_FILENO; }

void TraceOutputWrite(const std::string &line) {
  if (gTraceFd >= 0)
    WriteWhole(gTraceFd, line);
}

void StderrWriteLine(const std::string &line) { WriteWhole(STDERR_FILENO, line); }
