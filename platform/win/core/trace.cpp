// The trace on Windows: VANTREL_TRACE names "stderr", "debugger"
// (OutputDebugStringW) or a file appended to. Lines alike but for their
// numbers are limited as elsewhere (platform/core/trace_repeats.h).
#include "platform/trace.h"

#include "platform/core/trace_repeats.h"
#include "platform/text.h"

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/win/core/real_calls.h"

namespace {

constexpr size_t kTraceUnits = 1024;

enum class Destination { None, Stderr, Debugger, File };

std::mutex gTraceMutex;
std::once_flag gTraceOnce;
Destination gDestination = Destination::None;
HANDLE gFile = INVALID_HANDLE_VALUE; // the trace file, opened once
TraceSink gSink = nullptr;
void *gSinkContext = nullptr;
std::atomic<bool> gEnabled{false};

TraceRepeats &Repeats() {
  static auto *repeats = new TraceRepeats;
  return *repeats;
}

int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void OpenDestination() {
  const char *where = getenv("VANTREL_TRACE");
  if (!where || !*where)
    return;
  std::lock_guard<std::mutex> lock(gTraceMutex);
  if (strcmp(where, "stderr") == 0) {
    gDestination = Destination::Stderr;
  } else if (strcmp(where, "debugger") == 0) {
    gDestination = Destination::Debugger;
  } else {
    // The user's own profile folders keep the file the user's alone; no
    // other user is given any access to it here.
    const std::u16string path = Utf8ToUtf16(where);
    // Shared for writing: a second launch of the program appends its own
    // lines (whole lines: every write appends at the end).
    gFile = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (gFile == INVALID_HANDLE_VALUE) {
      fprintf(stderr, "vantrel: trace file %s not used: error %lu\n", where, GetLastError());
      return;
    }
    gDestination = Destination::File;
  }
  gEnabled.store(true, std::memory_order_relaxed);
}

bool TraceEnabled() {
  std::call_once(gTraceOnce, OpenDestination);
  return gEnabled.load(std::memory_order_relaxed) || gSink != nullptr;
}

void WriteOut(const std::string &line) {
  switch (gDestination) {
  case Destination::Stderr:
    fprintf(stderr, "%s\n", line.c_str());
    fflush(stderr);
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

// Writes one line (UTF-8, line ends already dropped) to the sink or the
// destination, under the lock.
void Emit(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
    line.pop_back();
  std::lock_guard<std::mutex> lock(gTraceMutex);
  if (gSink) {
    gSink(line.c_str(), gSinkContext);
    return;
  }
  for (const std::string &out : Repeats().Admit(line, NowUs()))
    WriteOut(out);
}

void VFormatLine(const char *fmt, va_list ap, std::string *out) {
  char buffer[2048];
  vsnprintf(buffer, sizeof buffer, fmt, ap);
  *out = buffer;
}

void Tell(const char *level, const char *fmt, va_list ap) {
  std::string text;
  VFormatLine(fmt, ap, &text);
  fprintf(stderr, "vantrel: %s: %s\n", level, text.c_str());
  fflush(stderr);
  if (TraceEnabled() && gDestination != Destination::Stderr)
    Emit(text);
}

} // namespace

void NKDbgPrintfW(const WCHAR *fmt, ...) {
  if (!fmt || !TraceEnabled())
    return;
  WCHAR buffer[kTraceUnits];
  va_list ap;
  va_start(ap, fmt);
  wvnsprintfW(buffer, kTraceUnits, fmt, ap);
  va_end(ap);
  Emit(Utf16ToUtf8(buffer));
}

void PlatformTrace(const char *fmt, ...) {
  if (!fmt || !TraceEnabled())
    return;
  std::string text;
  va_list ap;
  va_start(ap, fmt);
  VFormatLine(fmt, ap, &text);
  va_end(ap);
  Emit(text);
}

void PlatformWarning(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  Tell("warning", fmt, ap);
  va_end(ap);
}

void PlatformError(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  Tell("error", fmt, ap);
  va_end(ap);
}

void SetTraceSink(TraceSink sink, void *context) {
  std::lock_guard<std::mutex> lock(gTraceMutex);
  gSink = sink;
  gSinkContext = context;
}
