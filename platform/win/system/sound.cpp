// Sounds on Windows: the program's sounds are WAVE data in memory, played
// by Win32's PlaySoundW with SND_MEMORY.
#include "platform/sound.h"

#include "platform/trace.h"
#include "platform/window.h"

#include "platform/win/core/real_calls.h"

BOOL VantrelPlaySoundW(LPCWSTR name, HMODULE module, DWORD flags) {
  if (name && (flags & SND_RESOURCE) == SND_RESOURCE && IS_INTRESOURCE(name)) {
    HRSRC found = VantrelFindResourceW(module, name, u"WAVE");
    if (!found)
      return FALSE;
    const void *data = VantrelLockResource(VantrelLoadResource(module, found));
    DWORD keep = flags & (SND_ASYNC | SND_NODEFAULT | SND_NOSTOP | SND_NOWAIT);
    return ::PlaySoundW(static_cast<LPCWSTR>(data), nullptr, keep | SND_MEMORY);
  }
  return ::PlaySoundW(name, module, flags);
}

void StartSoundOutput() {}

bool StopSoundOutput(unsigned) {
  ::PlaySoundW(nullptr, nullptr, 0);
  return true;
}
