// The `xtest` injection backend: X11 with the XTEST and XKB extensions.
//
// A virtual key becomes the key that carries its keysym at the first level of
// the host's active keymap and group (so VK_Z types z on a German host too).
// A character becomes the key and Shift / level-3 combination that types it
// under the host's current lock state (a caps lock the host has on is
// respected); a character no key carries is typed on a spare keycode lent to
// it for the time, the whole keycode while spares last, so that it types with
// no modifier pressed (see spare_pool.h for how the lending avoids the race
// with clients that have not yet read a keymap change). Characters are
// queued and sent in batches, when the injecting thread is about to wait for
// input (InjectFlush), when a key comes, or when the link ends: the keymap
// changes a batch needs go out together, completed by one round trip, before
// its first key, and the batch's keys go out in one write. Lent keycodes are
// given back after two seconds without typing and at close (a thread that
// sleeps until then, and not at all while nothing is lent). The keymap is read
// again whenever another client changes it; the group and the locked
// modifiers are followed from the server's XKB state notices, so a key costs
// no round trip to the server (only after a key of ours that may lock a
// modifier or switch the group is the state asked for before the next key).
//
// The backend owns one Display connection; every request on it is made under
// the backend's lock (from the reader thread, and from the backend's own idle
// thread when it gives lent keycodes back).
#pragma once

#include "platform/inject.h"

#include <string>

// Opens displayName and checks that XTEST and XKB are there. Returns a table
// owned by the backend and never freed, or nullptr with a trace line saying
// why not (the reason also in *why when why is not null). Its close releases
// keys still held, gives lent keycodes back (after the settle time) and
// closes the connection.
const InjectOps *XTestInjectOpen(const char *displayName, std::string *why = nullptr);
