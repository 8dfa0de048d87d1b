// Mapping of device paths to host paths and of errno values to the
// handheld's error codes (internal to the platform layer).
#pragma once

#include "platform/wintypes.h"

#include <string>

// errno after a failed file call, as a GetLastError code.
DWORD ErrorFromErrno(int err);
// FILETIME (100 ns units since 1601) for a Unix time.
FILETIME FileTimeFromUnix(int64_t seconds, int64_t nanoseconds);
