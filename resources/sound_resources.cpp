// The program's three sounds, built in from resources/sounds (made by
// tools/sounds/make_sounds.py) and registered as WAVE resources 139 to 141.
#include "resources/resources.h"

#include "platform/sound.h"
#include "platform/window.h"

#include <mutex>

namespace {
#include "resources/sounds/sound_data.inc"
} // namespace

void RegisterSoundResources() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterResource(u"WAVE", kSoundKeyClick, kWave139, sizeof kWave139);
    RegisterResource(u"WAVE", kSoundConnected, kWave140, sizeof kWave140);
    RegisterResource(u"WAVE", kSoundDisconnected, kWave141, sizeof kWave141);
  });
}
