// Debug trace output. NKDbgPrintfW formats like wsprintfW and writes the text
// to the place named by VANTREL_TRACE ("stderr" or a file path; nothing when
// unset), read once at the first trace. Each call's text is written whole as
// one line, so lines from several threads never mix: trailing line ends
// ("\r\n" included) are dropped and one "\n" is added. A trace file is
// created readable by the user alone (mode 0600), or made so, and appended
// to; a symbolic link, what is not a regular file and another user's file
// are not used (stderr says so, and tracing stays off). Lines alike but for
// their numbers are written at most 20 times a second, the rest summed up in
// a "(repeated K more times, not written)" line (platform/core/
// trace_repeats.h). Nothing is returned and nothing fails: a line that cannot
// be written is lost.
// On Windows VANTREL_TRACE may also be "debugger" (OutputDebugStringW), and
// a trace file there is appended to as it is, the user's profile folders
// keeping it the user's own.
#pragma once

#include "platform/wintypes.h"

// The printf format check: mingw's compiler takes "printf" for the
// Microsoft runtime's formats, so the Windows build names the C99 ones.
#ifdef _WIN32
#define VANTREL_PRINTF_FORMAT gnu_printf
#else
#define VANTREL_PRINTF_FORMAT printf
#endif

// Formats into at most 1024 units (longer text is cut). Unlike the handheld,
// the text goes to VANTREL_TRACE rather than a debugger.
void NKDbgPrintfW(const WCHAR *fmt, ...);

// A trace line from the platform layer itself (UTF-8, printf format, cut at
// 2047 bytes).
void PlatformTrace(const char *fmt, ...) __attribute__((format(VANTREL_PRINTF_FORMAT, 1, 2)));

// A failure the person should hear of though no trace is on: of Bluetooth,
// of keeping the machine awake, of typing. Written to stderr as one line
// "vantrel: warning: TEXT" or "vantrel: error: TEXT" (stderr is the journal
// when the desktop or systemd started the program), alike lines at most as
// often as the trace writes them (the flood limit above); and, when the trace
// is on, as TEXT to the trace too (once only when the trace is stderr).
// Never give them what the person typed: unlike the trace they are always on.
void PlatformWarning(const char *fmt, ...) __attribute__((format(VANTREL_PRINTF_FORMAT, 1, 2)));
void PlatformError(const char *fmt, ...) __attribute__((format(VANTREL_PRINTF_FORMAT, 1, 2)));

// Tests: route trace output into a callback instead (nullptr restores the
// VANTREL_TRACE destination). The callback receives every whole line (no
// flood limit) in UTF-8 without its line end; the text is only valid during
// the call. It is called with the trace lock held, from whichever thread
// traces, so it must not trace itself.
typedef void (*TraceSink)(const char *line, void *context);
void SetTraceSink(TraceSink sink, void *context);
