// The `uinput` injection backend: a kernel virtual keyboard, created once and
// kept until the backend's close, for Wayland sessions and the console. Keys
// and characters are typed by the session's own layout (host_layout.h says
// where it is read from; key_plan.h how each is typed), or by US key
// positions where no XKB keymap can be compiled.
#pragma once

#include "platform/inject.h"

#include <string>

// Opens devicePath (nullptr: /dev/uinput) and creates the virtual keyboard,
// then waits 300 ms for the desktop to notice it. Returns a table owned by
// the backend and never freed, or nullptr with a trace line saying why
// (device missing, not writable, creation refused), the reason also in *why
// when why is not null. Its close releases keys
// still held and destroys the virtual keyboard.
const InjectOps *UinputInjectOpen(const char *devicePath, std::string *why = nullptr);
