// Debug trace output. The destination is read from VANTREL_TRACE once, on the
// first trace call; when tracing is off, a call costs one atomic load and
// nothing is formatted. Warnings and errors are formatted always: they go to
// stderr whether the trace is on or not.
#include "platform/trace.h"
#include "platform/core/monotonic_clock.h"
#include "platform/core/private_paths.h"
#include "platform/core/trace_repeats.h"
#include "platform/text.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {

constexpr size_t kTraceUnits = 1024; // as wsprintfW: longer lines are cut

std::mutex gTraceMutex;
std::once_flag gTraceOnce;
int gTraceFd = -1;            // destination file, -1 when none

TraceSink gSink = nullptr;    // guarded by gTraceMutex
void *gSinkContext = nullptr; // guarded by gTraceMutex
std::atomic<bool> gEnabled{false};

// Guarded by gTraceMutex. Never destroyed: a thread may still trace while
// the process exits.
TraceRepeats &Repeats() {
  static auto *repeats = new TraceRepeats;
  return *repeats;
}

void OpenDestination() {
  const char *where = getenv("VANTREL_TRACE");
  if (!where || !*where)
    return;
  std::lock_guard<std::mutex> lock(gTraceMutex);
  if (strcmp(where, "stderr") == 0) {
    gTraceFd = STDERR_FILENO;
  } else {
    // The trace holds every key typed: a file of the user's alone.
    std::string why;
    gTraceFd = OpenPrivateAppend(where, &why);
    if (gTraceFd < 0)
      fprintf(stderr, "vantrel: trace file %s not used: %s\n", where, why.c_str());
  }
  if (gTraceFd >= 0)
    gEnabled.store(true, std::memory_order_relaxed);
}

inline bool TraceEnabled() {
  std::call_once(gTraceOnce, OpenDestination);
  return gEnabled.load(std::memory_order_relaxed);
}

// Guarded by gTraceMutex, never destroyed: the flood limit of the warnings
// written to stderr, apart from the trace's.
TraceRepeats &WarningRepeats() {
  static auto *repeats = new TraceRepeats;
  return *repeats;
}

// Writes text to fd (the trace file or stderr), whole: one write per line
// keeps the lines of several threads (and processes appending to the same
// file) from interleaving.
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

// Drops the line end the format strings carry ("\r\n").
std::string WithoutLineEnd(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
    line.pop_back();
  return line;
}

// Writes line to fd, prefixed, as far as the flood limit `repeats` admits
// it, with the counts of the lines it held back (trace_repeats.h).
void WriteAdmitted(TraceRepeats &repeats, int fd, const std::string &line, const std::string &prefix) {
  for (std::string &text : repeats.Admit(line, MonotonicMicroseconds()))
    WriteWhole(fd, prefix + text);
}

// Writes one line (given without its line end) to the sink, or to the file
// as the flood limit allows. The sink sees every line: tests count what was
// traced, not what the file kept.
void EmitLine(std::string text) {
  const std::string line = WithoutLineEnd(std::move(text));
  std::lock_guard<std::mutex> lock(gTraceMutex);
  if (gSink) {
    gSink(line.c_str(), gSinkContext);
    return;
  }
  if (gTraceFd < 0)
    return;
  WriteAdmitted(Repeats(), gTraceFd, line, "");
}

// A warning or error: to stderr with the severity, and to the trace as a
// line like any other unless the trace is stderr itself.
void Report(const char *severity, const char *fmt, va_list ap) {
  char text[kTraceUnits * 2];
  vsnprintf(text, sizeof text, fmt, ap);
  const std::string line = WithoutLineEnd(text);
  const bool traced = TraceEnabled();
  std::lock_guard<std::mutex> lock(gTraceMutex);
  if (gSink)
    gSink(line.c_str(), gSinkContext);
  else if (traced && gTraceFd >= 0 && gTraceFd != STDERR_FILENO)
    WriteAdmitted(Repeats(), gTraceFd, line, "");
  WriteAdmitted(WarningRepeats(), STDERR_FILENO, line, std::string("vantrel: ") + severity + ": ");
}

} // namespace

void NKDbgPrintfW(const WCHAR *fmt, ...) {
  if (!TraceEnabled())
    return;
  WCHAR text[kTraceUnits];
  va_list ap;
  va_start(ap, fmt);
  wvnsprintfW(text, kTraceUnits, fmt, ap);
  va_end(ap);
  EmitLine(Utf16ToUtf8(text));
}

void PlatformTrace(const char *fmt, ...) {
  if (!TraceEnabled())
    return;
  char text[kTraceUnits * 2];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(text, sizeof text, fmt, ap);
  va_end(ap);
  EmitLine(text);
}

void PlatformWarning(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  Report("warning", fmt, ap);
  va_end(ap);
}

void PlatformError(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  Report("error", fmt, ap);
  va_end(ap);
}

void SetTraceSink(TraceSink sink, void *context) {
  std::call_once(gTraceOnce, OpenDestination);
  std::lock_guard<std::mutex> lock(gTraceMutex);
  gSink = sink;
  gSinkContext = context;
  gEnabled.store(sink != nullptr || gTraceFd >= 0, std::memory_order_relaxed);
}
