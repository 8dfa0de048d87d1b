// The program's sounds and the start and end of their audio output, the same
// on every platform. Included by platform/sound.h, which says how PlaySoundW
// plays them: include that one.
#pragma once

#include "platform/wintypes.h"

// The program's sounds: WAVE resources (type "WAVE") of 16-bit PCM, which
// the program registers with its other resources before it plays any.
constexpr WORD kSoundKeyClick = 139;
constexpr WORD kSoundConnected = 140;
constexpr WORD kSoundDisconnected = 141;

// Starts connecting the audio output on its background thread and loading
// the sounds into it (once), so that the first sound is not late. PlaySoundW
// does this on its first call. Nothing to start where the system plays the
// sounds itself (Windows).
void StartSoundOutput();
// Ends the audio output for the end of the program (a sound playing stops)
// and joins its thread. Returns true when it has ended (or never started),
// false when it did not end within timeoutMs. Sounds asked for later are
// dropped.
bool StopSoundOutput(unsigned timeoutMs);
