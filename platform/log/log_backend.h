// The `log` injection backend: one JSON object a line per call, flushed per
// line so that a reader sees each call as it happens. The forms:
//   {"call":"keybd_event","vk":65,"flags":4,"extra":1}
//   {"call":"PostKeybdMessage","vk":233,"flags":1,"chars":[233]}
//   {"call":"SendInput","inputs":[{"type":1,"vk":65,"flags":4}],"cbSize":28}
// Arguments that are almost always the same are written only when they
// differ: "scan" (keybd_event, SendInput records) when not 0, "hwnd" when not
// -1, "shiftStates" when they are not each equal to flags, "time" and "extra"
// of a SendInput record when not 0.
#pragma once

#include "platform/inject.h"

// Opens the backend writing to stdout (path null or empty) or appending to the
// file at path, created readable by the user alone (mode 0600); a symbolic
// link or another user's file is refused. Returns a table owned by the
// backend and never freed; nullptr when the file cannot be opened (stderr and
// a trace line say why). Its close flushes stdout or closes the file; later
// calls through the table write nothing.
const InjectOps *LogInjectOpen(const char *path);
