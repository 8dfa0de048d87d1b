// The calling thread's identity (internal to the platform layer). Thread ids
// are issued from a counter and never reused, so a queue or window keyed by
// a thread id can never be taken over by a later thread.
#pragma once

#include "platform/wintypes.h"

DWORD NewThreadId();
// Gives the calling thread an id issued by NewThreadId (done by CreateThread
// before the start routine runs).
void AdoptThreadId(DWORD id);
