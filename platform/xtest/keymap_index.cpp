// The host keymap index (see keymap_index.h).
#include "platform/xtest/keymap_index.h"

#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

namespace {

bool IsKeypad(KeySym ks) { return ks >= XK_KP_Space && ks <= XK_KP_Equal; }

} // namespace

void KeymapIndex::Build(Display *dpy, unsigned group, unsigned lockedMods, unsigned level3Mask,
                        const std::function<bool(unsigned)> &skip) {
  group_ = group;
  locked_ = lockedMods;
  chars_.clear();
  level1_.clear();
  anywhere_.clear();
  int minKc = 8, maxKc = 255;
  XDisplayKeycodes(dpy, &minKc, &maxKc);

  // Modifier combinations in order of preference: a plain key first.
  unsigned combos[4] = {0, ShiftMask, level3Mask, ShiftMask | level3Mask};
  int nCombos = level3Mask ? 4 : 2;
  for (int c = 0; c < nCombos; ++c) {
    for (int kc = minKc; kc <= maxKc; ++kc) {
      if (skip(static_cast<unsigned>(kc)))
        continue;
      XKeyEvent ev{};
      ev.type = KeyPress;
      ev.display = dpy;
      ev.keycode = static_cast<unsigned>(kc);
      ev.state = combos[c] | lockedMods | (group << 13);
      char buf[32];
      KeySym ks = NoSymbol;
      XLookupString(&ev, buf, sizeof buf, &ks, nullptr);
      if (ks == NoSymbol || IsKeypad(ks))
        continue;
      uint32_t cp = xkb_keysym_to_utf32(static_cast<xkb_keysym_t>(ks));
      if (cp && !chars_.count(cp))
        chars_.emplace(cp, KeyChoice{static_cast<unsigned>(kc), combos[c]});
    }
  }
  for (int kc = minKc; kc <= maxKc; ++kc) {
    if (skip(static_cast<unsigned>(kc)))
      continue;
    KeySym first = XkbKeycodeToKeysym(dpy, static_cast<KeyCode>(kc), static_cast<int>(group), 0);
    if (first != NoSymbol && !level1_.count(first))
      level1_.emplace(first, static_cast<unsigned>(kc));
    for (int g = 0; g < 4; ++g) {
      for (int level = 0; level < 4; ++level) {
        KeySym ks = XkbKeycodeToKeysym(dpy, static_cast<KeyCode>(kc), g, level);
        if (ks != NoSymbol && !anywhere_.count(ks))
          anywhere_.emplace(ks, static_cast<unsigned>(kc));
      }
    }
  }
}

const KeyChoice *KeymapIndex::FindChar(uint32_t cp) const {
  auto it = chars_.find(cp);
  return it == chars_.end() ? nullptr : &it->second;
}

unsigned KeymapIndex::FindLevel1(unsigned long keysym) const {
  auto it = level1_.find(keysym);
  return it == level1_.end() ? 0 : it->second;
}

unsigned KeymapIndex::FindAnywhere(unsigned long keysym) const {
  auto it = anywhere_.find(keysym);
  return it == anywhere_.end() ? 0 : it->second;
}
