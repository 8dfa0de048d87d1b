// Windows build: PlaySoundW is the program's own for its sound resources
// (SND_RESOURCE with a number registered in memory: played from memory by
// Win32's PlaySoundW with SND_MEMORY) and Win32's otherwise.
#pragma once

#include "platform/wintypes.h"

BOOL VantrelPlaySoundW(LPCWSTR name, HMODULE module, DWORD flags);
#define PlaySoundW VantrelPlaySoundW

constexpr WORD kSoundKeyClick = 139;
constexpr WORD kSoundConnected = 140;
constexpr WORD kSoundDisconnected = 141;

// Nothing to start; StopSoundOutput stops a sound playing and returns true.
void StartSoundOutput();
bool StopSoundOutput(unsigned timeoutMs);
