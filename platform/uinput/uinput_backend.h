// The `uinput` injection backend: a kernel virtual keyboard, created once and
// kept until UinputInjectClose, for Wayland sessions and the console. Virtual
// keys go to their US key positions; characters are typed as key_events.h
// describes.
#pragma once

#include "platform/inject.h"

// Opens devicePath (nullptr: /dev/uinput) and creates the virtual keyboard.
// Returns a table owned by the backend, or nullptr with a trace line saying
// why (device missing, not writable, creation refused).
const InjectOps *UinputInjectOpen(const char *devicePath);
// Releases keys still held and destroys the virtual keyboard; later calls
// through the table do nothing. The table stays allocated.
void UinputInjectClose(const InjectOps *ops);
