// Debug trace output. NKDbgPrintfW formats like wsprintfW and writes the text
// to the place named by VANTREL_TRACE ("stderr" or a file path; nothing when
// unset). Each call's text is written whole, so lines from the two threads
// never mix; a trailing "\r\n" becomes a plain line end. A trace file is
// created readable by the user alone (mode 0600); a symbolic link or another
// user's file is not used (stderr says so).
#pragma once

#include "platform/wintypes.h"

void NKDbgPrintfW(const WCHAR *fmt, ...);

// A trace line from the platform layer itself (UTF-8, printf format).
void PlatformTrace(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Tests: route trace output into a callback instead (nullptr restores the
// VANTREL_TRACE destination). The callback receives each whole line in UTF-8
// without its line end.
typedef void (*TraceSink)(const char *line, void *context);
void SetTraceSink(TraceSink sink, void *context);
