// The `uinput` injection backend: a kernel virtual keyboard, created once and
// kept until the backend's close, for Wayland sessions and the console. Virtual
// keys go to their US key positions; characters are typed as key_events.h
// describes.
#pragma once

#include "platform/inject.h"

// Opens devicePath (nullptr: /dev/uinput) and creates the virtual keyboard,
// then waits 300 ms for the desktop to notice it. Returns a table owned by
// the backend and never freed, or nullptr with a trace line saying why
// (device missing, not writable, creation refused). Its close releases keys
// still held and destroys the virtual keyboard.
const InjectOps *UinputInjectOpen(const char *devicePath);
