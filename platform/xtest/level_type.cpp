// Key type translation as a client sees it (see level_type.h).
#include "platform/xtest/level_type.h"

#include <X11/X.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

unsigned long TranslatedKeysym(const LevelType &type, const std::vector<unsigned long> &levelSyms,
                               unsigned state) {
  unsigned looked = state & type.mask;
  unsigned level = 0, consumed = type.mask;
  for (const LevelTypeEntry &e : type.entries) {
    if (e.mods == looked) {
      level = e.level;
      consumed &= ~e.preserve;
      break;
    }
  }
  unsigned long ks = level < levelSyms.size() ? levelSyms[level] : 0;
  if (ks && (state & LockMask) && !(consumed & LockMask)) {
    KeySym lower = ks, upper = ks;
    XConvertCase(ks, &lower, &upper);
    ks = upper;
  }
  return ks;
}

long ModsToRead(const LevelType &type, const std::vector<unsigned long> &levelSyms,
                unsigned long want, unsigned locked, const std::vector<unsigned> &candidates) {
  for (unsigned mods : candidates)
    if (TranslatedKeysym(type, levelSyms, mods | locked) == want)
      return static_cast<long>(mods);
  return -1;
}

unsigned ReadableLevels(const LevelType &type, const std::vector<unsigned> &candidates,
                        unsigned locked) {
  const unsigned long samples[] = {XK_Cyrillic_be, XK_Cyrillic_BE,
                                   0x1002260ul}; // U+2260 NOT EQUAL TO
  unsigned readable = 0;
  for (unsigned level = 0; level < type.numLevels && level < 32; ++level) {
    bool all = true;
    for (unsigned long ks : samples) {
      std::vector<unsigned long> only(type.numLevels, 0);
      only[level] = ks;
      all = all && ModsToRead(type, only, ks, locked, candidates) >= 0;
    }
    if (all)
      readable |= 1u << level;
  }
  return readable;
}
