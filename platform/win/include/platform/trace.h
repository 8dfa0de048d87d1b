// Windows build: the debug trace. NKDbgPrintfW formats like wsprintfW and
// writes one line to VANTREL_TRACE ("stderr", "debugger" for
// OutputDebugStringW, or a file path; nothing when unset), read once at the
// first trace. A trace file is appended to; lines from several threads
// never mix. Nothing is returned and nothing fails: a line that cannot be
// written is lost.
#pragma once

#include "platform/wintypes.h"

// Formats into at most 1024 units (longer text is cut).
void NKDbgPrintfW(const WCHAR *fmt, ...);
// A trace line from the platform layer itself (UTF-8, printf format, cut at
// 2047 bytes).
void PlatformTrace(const char *fmt, ...) __attribute__((format(gnu_printf, 1, 2)));
// A failure the person should hear of though no trace is on: written to
// stderr as "vantrel: warning: TEXT" / "vantrel: error: TEXT", and to the
// trace when it is on.
void PlatformWarning(const char *fmt, ...) __attribute__((format(gnu_printf, 1, 2)));
void PlatformError(const char *fmt, ...) __attribute__((format(gnu_printf, 1, 2)));

// Tests: every whole trace line (UTF-8, without its line end) goes to the
// callback instead; nullptr restores VANTREL_TRACE. Called with the trace
// lock held: the callback must not trace.
typedef void (*TraceSink)(const char *line, void *context);
void SetTraceSink(TraceSink sink, void *context);
