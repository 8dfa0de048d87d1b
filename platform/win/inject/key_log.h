// The log backend of the Windows build: one line per call ("key 0x41 down",
// "key 0x41 up", "text é", "press 0x41"), flushed per line; it reaches no
// window.
#pragma once

#include "platform/inject.h"

// Opens the log on stdout (path null or empty) or appending to the file at
// path. Returns its table (static: one log at a time), or nullptr when the
// file cannot be opened. Its close closes the file; later calls write
// nothing.
const InjectOps *KeyLogOpen(const char *path);
