// Windows build: threads, events and waits are Win32's own.
#pragma once

#include "platform/wintypes.h"

// How many threads made by CreateThread are still running (tests).
int PlatformThreadsRunning();
