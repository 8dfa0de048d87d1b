// PlaySoundW for the program's WAVE resources. The call only hands the
// request to the audio thread and returns, so a key click never delays the
// key it belongs to; without a sound server it is silent and still succeeds.
#include "platform/sound.h"

#include "platform/sound/sound_output.h"

BOOL PlaySoundW(LPCWSTR name, HMODULE, DWORD flags) {
  if (!(flags & SND_RESOURCE) || !IS_INTRESOURCE(name))
    return FALSE;
  int index = SoundIndex(static_cast<WORD>(reinterpret_cast<uintptr_t>(name)));
  if (index < 0)
    return FALSE;
  SoundOutputPlay(index);
  return TRUE;
}
