// Where the host's keymap carries each character and keysym, read through
// Xlib's own key translation so that the answer is what an X client will
// see: for a given group and locked modifiers (caps lock, num lock), which
// keycode with which of Shift / level 3 types a code point.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <functional>
#include <unordered_map>

struct KeyChoice {
  unsigned keycode;
  unsigned mods; // ShiftMask and/or the level-3 modifier mask
};

class KeymapIndex {
public:
  // Reads the keymap of dpy (Xlib's copy, which must be current). Keycodes for
  // which skip() is true (the lent spares) are left out. level3Mask is 0 when
  // the keymap has no level-3 key.
  void Build(Display *dpy, unsigned group, unsigned lockedMods, unsigned level3Mask,
             const std::function<bool(unsigned)> &skip);

  // The key that types code point cp, or nullptr. Fewer modifiers win.
  const KeyChoice *FindChar(uint32_t cp) const;
  // The keycode carrying keysym at level 1 of the group (0 when none).
  unsigned FindLevel1(unsigned long keysym) const;
  // The keycode carrying keysym at any group and level (0 when none).
  unsigned FindAnywhere(unsigned long keysym) const;

  unsigned group() const { return group_; }
  unsigned lockedMods() const { return locked_; }

private:
  unsigned group_ = 0, locked_ = 0;
  std::unordered_map<uint32_t, KeyChoice> chars_;
  std::unordered_map<unsigned long, unsigned> level1_;
  std::unordered_map<unsigned long, unsigned> anywhere_;
};
