// Windows build: files are Win32's (see platform/wintypes.h for ports).
#pragma once

#include "platform/wintypes.h"

#include <string>

// The path as the system names it: here the path itself, in UTF-8.
std::string HostPathFor(LPCWSTR path);
