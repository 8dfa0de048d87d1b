// Windows build: a named mutex per user session claims the instance; a
// later launch hands its request to the first through a message-only
// window of the same name (WM_COPYDATA). The calls are the other build's,
// declared once in platform/single_instance.h, next on the include path.
#pragma once

#include_next "platform/single_instance.h"

// Windows has no user numbers; instance names carry 0 (the session's own
// namespace keeps users apart).
inline unsigned getuid() { return 0; }
