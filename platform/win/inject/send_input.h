// The SendInput backend: the key logic's calls typed into the foreground
// window as Win32 SendInput records (platform/win/inject/key_records.h).
#pragma once

#include "platform/inject.h"

// The backend's table: static, never closed (it holds nothing open).
const InjectOps *SendInputBackend();
