// Whether a sound server may answer, told without the sound client library:
// the library pulls in the codec libraries of its file decoder, which stay
// mapped for the rest of the process once loaded (the library cannot be
// unloaded), so it is loaded only when a server may take the sounds.
#pragma once

#include <string>

// Looks where the client library would connect: the addresses in
// PULSE_SERVER when it is set, else the user's socket (PULSE_RUNTIME_PATH,
// else XDG_RUNTIME_DIR/pulse, with "/native") and the system-wide one.
// Each local socket is tried with one non-blocking connect, closed at once.
// Returns true when one accepts (or is too busy to accept now), or when an
// address is not a local socket (a network server, no runtime folder to
// look in): the library then decides. Returns false when none answers, with
// *tried (owned by the caller) naming the sockets tried. Any thread.
bool SoundServerMayAnswer(std::string *tried);
