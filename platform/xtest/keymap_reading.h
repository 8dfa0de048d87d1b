// What a copy of the server's XKB keymap (as XkbGetMap reads it) says about
// a key or a key type: the questions the xtest backend asks of it when it
// reads the keymap again. Pure reading: nothing is sent to the server but
// atom lookups.
#pragma once

#include "platform/xtest/level_type.h"

#include <X11/XKBlib.h>

#include <initializer_list>
#include <vector>

// The keysym at level (0-based) of the first group of kc; NoSymbol when kc
// has no such level (or xkb is null).
KeySym KeymapLevelSym(const XkbDescRec *xkb, unsigned kc, int level);

// The levels a key type gives to each modifier combination it looks at.
LevelType ToLevelType(const XkbKeyTypeRec &type);

// The index of the first of the types named `names` that has `levels`
// levels and serves lending: every level reads alone (a small letter, a
// capital and a caseless keysym) with one of the modifier combinations
// `mods` pressed when nothing is locked, and at least four levels do
// whatever of the other modifiers it looks at are locked (caps lock; num
// lock, which the eight-level types with a level-5 lock read as the level-5
// modifier). `pressed`: the modifiers we press ourselves, never locked.
// -1 when none serves; *found is its levels.
int FindLendingKeyType(Display *dpy, const XkbDescRec *xkb,
                       std::initializer_list<const char *> names, unsigned levels,
                       const std::vector<unsigned> &mods, unsigned pressed, LevelType *found);

// The real modifiers that a press of kc sets through its first action (0
// when it sets none, or the keymap's actions were not read).
unsigned ModsSetByKey(const XkbDescRec *xkb, unsigned kc);

// The real modifiers the keymap's virtual modifier `name` stands for (0 when
// it has none of that name, or it stands for none).
unsigned VirtualModifierMask(Display *dpy, const XkbDescRec *xkb, const char *name);

// Whether kc is a key that only sets `mods`: one level without a keysym,
// and its action, setting them, fixed on it (as the backend lends its
// level-5 key).
bool IsBareModifierKey(const XkbDescRec *xkb, unsigned kc, unsigned mods);

// Sets changes[kc] for every keycode whose actions lock or latch a modifier
// or set, latch or lock the group (caps lock, a group switch): after one of
// ours goes out, the state is asked for before the next key. Without the
// keymap's actions (not read), every keycode is marked.
void FindStateChangingKeys(const XkbDescRec *xkb, bool changes[256]);
