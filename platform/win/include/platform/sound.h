// Windows build: PlaySoundW is the program's own for its sound resources
// (SND_RESOURCE with a number registered in memory: played from memory by
// Win32's PlaySoundW with SND_MEMORY) and Win32's otherwise.
#pragma once

#include "platform/sounds.h"
#include "platform/wintypes.h"

BOOL VantrelPlaySoundW(LPCWSTR name, HMODULE module, DWORD flags);
#define PlaySoundW VantrelPlaySoundW
