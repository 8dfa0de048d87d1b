// The audio output behind PlaySoundW: a background thread that connects to
// the sound server, uploads the three sounds once and plays them on request.
#pragma once

#include <cstdint>

// Index of each sound in the output's tables; -1 for an id that is not one
// of the program's sounds.
int SoundIndex(uint16_t resourceId);
// Asks for sound `index` to be played. Never blocks and never allocates
// after the first call: it sets a bit and wakes the audio thread. With no
// sound server the request is dropped.
void SoundOutputPlay(int index);
