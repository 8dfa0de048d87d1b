// Reading the XKB keymap's keys and key types (see keymap_reading.h).
#include "platform/xtest/keymap_reading.h"

KeySym KeymapLevelSym(const XkbDescRec *xkb, unsigned kc, int level) {
  // The XKB macros take a non-const description; nothing here writes to it.
  XkbDescPtr x = const_cast<XkbDescPtr>(xkb);
  if (!x || !x->map || kc < x->min_key_code || kc > x->max_key_code ||
      XkbKeyNumGroups(x, kc) == 0 || level >= XkbKeyGroupWidth(x, kc, 0))
    return NoSymbol;
  return XkbKeySymEntry(x, kc, level, 0);
}

LevelType ToLevelType(const XkbKeyTypeRec &type) {
  LevelType lt;
  lt.mask = type.mods.mask;
  lt.numLevels = type.num_levels;
  for (int i = 0; i < type.map_count; ++i) {
    if (!type.map[i].active)
      continue;
    lt.entries.push_back(
        {type.map[i].mods.mask, type.map[i].level, type.preserve ? type.preserve[i].mask : 0u});
  }
  return lt;
}

namespace {

bool ServesLending(const LevelType &lt, const std::vector<unsigned> &mods, unsigned pressed) {
  const unsigned all = (1u << lt.numLevels) - 1;
  const unsigned lockable = (lt.mask | LockMask) & ~pressed;
  // Every subset of the lockable modifiers, the empty one last.
  for (unsigned locked = lockable;; locked = (locked - 1) & lockable) {
    unsigned readable = ReadableLevels(lt, mods, locked);
    if (__builtin_popcount(readable) < 4 || (locked == 0 && readable != all))
      return false;
    if (locked == 0)
      break;
  }
  return true;
}

} // namespace

int FindLendingKeyType(Display *dpy, const XkbDescRec *xkb,
                       std::initializer_list<const char *> names, unsigned levels,
                       const std::vector<unsigned> &mods, unsigned pressed, LevelType *found) {
  if (!xkb || !xkb->map)
    return -1;
  for (const char *name : names) {
    Atom atom = XInternAtom(dpy, name, True);
    for (int t = 0; atom != None && t < xkb->map->num_types; ++t) {
      const XkbKeyTypeRec &type = xkb->map->types[t];
      if (type.name != atom || type.num_levels != levels)
        continue;
      LevelType lt = ToLevelType(type);
      if (!ServesLending(lt, mods, pressed))
        continue;
      *found = lt;
      return t;
    }
  }
  return -1;
}

unsigned ModsSetByKey(const XkbDescRec *xkb, unsigned kc) {
  XkbDescPtr x = const_cast<XkbDescPtr>(xkb);
  if (!x || !x->server || !x->server->key_acts || !x->map || !x->map->modmap ||
      kc < x->min_key_code || kc > x->max_key_code || !XkbKeyHasActions(x, kc))
    return 0;
  const XkbAction &act = XkbKeyActionsPtr(x, kc)[0];
  if (act.type != XkbSA_SetMods)
    return 0;
  return (act.mods.flags & XkbSA_UseModMapMods) ? x->map->modmap[kc] : act.mods.mask;
}

unsigned VirtualModifierMask(Display *dpy, const XkbDescRec *xkb, const char *name) {
  if (!xkb || !xkb->names || !xkb->server)
    return 0;
  Atom atom = XInternAtom(dpy, name, True);
  for (int i = 0; atom != None && i < XkbNumVirtualMods; ++i)
    if (xkb->names->vmods[i] == atom)
      return xkb->server->vmods[i];
  return 0;
}

bool IsBareModifierKey(const XkbDescRec *xkb, unsigned kc, unsigned mods) {
  XkbDescPtr x = const_cast<XkbDescPtr>(xkb);
  return x && x->map && x->server && x->server->c_explicit && kc >= x->min_key_code &&
         kc <= x->max_key_code && XkbKeyNumGroups(x, kc) == 1 && XkbKeyNumSyms(x, kc) == 1 &&
         KeymapLevelSym(x, kc, 0) == NoSymbol &&
         (x->server->c_explicit[kc] & XkbExplicitInterpretMask) && ModsSetByKey(x, kc) == mods;
}

void FindStateChangingKeys(const XkbDescRec *xkb, bool changes[256]) {
  XkbDescPtr x = const_cast<XkbDescPtr>(xkb);
  const bool known = x && x->server && x->server->key_acts;
  for (unsigned kc = 0; kc < 256; ++kc) {
    changes[kc] = !known;
    if (!known || kc < x->min_key_code || kc > x->max_key_code || !XkbKeyHasActions(x, kc))
      continue;
    bool locks = false;
    const XkbAction *acts = XkbKeyActionsPtr(x, kc);
    for (int i = 0; i < XkbKeyNumActions(x, kc); ++i) {
      switch (acts[i].type) {
      case XkbSA_LockMods:
      case XkbSA_LatchMods:
      case XkbSA_SetGroup:
      case XkbSA_LatchGroup:
      case XkbSA_LockGroup:
      case XkbSA_ISOLock:
        locks = true;
        break;
      default:
        break;
      }
    }
    changes[kc] = locks;
  }
}
