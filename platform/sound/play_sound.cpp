// PlaySoundW for the program's three WAVE resources. No audio backend is
// attached yet, so a known sound is accepted and not played: silence is what
// the program does on a machine without an audio device. The call returns at
// once either way, so a key click never delays its key.
#include "platform/sound.h"

#include "platform/trace.h"

#include <atomic>

BOOL PlaySoundW(LPCWSTR name, HMODULE, DWORD flags) {
  if (!(flags & SND_RESOURCE) || !IS_INTRESOURCE(name))
    return FALSE;
  WORD id = static_cast<WORD>(reinterpret_cast<uintptr_t>(name));
  if (id != kSoundKeyClick && id != kSoundConnected && id != kSoundDisconnected)
    return FALSE;
  static std::atomic<bool> told{false};
  if (!told.exchange(true))
    PlatformTrace("sound: no audio output; sounds are silent");
  return TRUE;
}
