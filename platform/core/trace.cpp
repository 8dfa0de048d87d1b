// Debug trace output. The destination is read from VANTREL_TRACE once, on the
// first trace call; when tracing is off, a call costs one atomic load and
// nothing is formatted. Warnings and errors are formatted always: they go to
// stderr whether the trace is on or not. The same code on every platform:
// where the lines go is the build's own (trace_output.h).
#include "platform/trace.h"
#include "platform/core/monotonic_clock.h"
#include "platform/core/trace_output.h"
#include "platform/core/trace_repeats.h"
#include "platform/text.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace {

constexpr size_t kTraceUnits = 1024; // as wsprintfW: longer lines are cut

std::mutex gTraceMutex;
std::once_flag gTraceOnce;
bool gOpen = false;           // the destination is open; guarded by gTraceMutex

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
  gOpen = TraceOutputOpen(where);
  if (gOpen)
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

// Drops the line end the format strings carry ("\r\n").
std::string WithoutLineEnd(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
    line.pop_back();
  return line;
}

// Writes line with out, prefixed, as far as the flood limit `repeats`
// admits it, with the counts of the lines it held back (trace_repeats.h).
void WriteAdmitted(TraceRepeats &repeats, void (*out)(const std::string &),
                   const std::string &line, const std::string &prefix) {
  for (std::string &text : repeats.Admit(line, MonotonicMicroseconds()))
    out(prefix + text);
}

// Writes one line (given without its line end) to the sink, or to the
// destination as the flood limit allows. The sink sees every line: tests
// count what was traced, not what the file kept.
void EmitLine(std::string text) {
  const std::string line = WithoutLineEnd(std::move(text));
  std::lock_guard<std::mutex> lock(gTraceMutex);
  if (gSink) {
    gSink(line.c_str(), gSinkContext);
    return;
  }
  if (!gOpen)
    return;
  WriteAdmitted(Repeats(), TraceOutputWrite, line, "");
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
  else if (traced && gOpen && !TraceOutputIsStderr())
    WriteAdmitted(Repeats(), TraceOutputWrite, line, "");
  WriteAdmitted(WarningRepeats(), StderrWriteLine, line,
                std::string("vantrel: ") + severity + ": ");
}

} // namespace

void NKDbgPrintfW(const WCHAR *fmt, ...) {
  if (!fmt || !TraceEnabled())
    return;
  WCHAR text[kTraceUnits];
  va_list ap;
  va_start(ap, fmt);
  wvnsprintfW(text, kTraceUnits, fmt, ap);
  va_end(ap);
  EmitLine(Utf16ToUtf8(text));
}

void PlatformTrace(const char *fmt, ...) {
  if (!fmt || !TraceEnabled())
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
  gEnabled.store(sink != nullptr || gOpen, std::memory_order_relaxed);
}
