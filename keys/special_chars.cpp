#include "keys/special_chars.h"

#include "common/globals.h"
#include "keys/key_output.h"
#include "keys/keycode_table.h"
#include "platform/win32.h"

namespace {

// A dead key: the accent column it selects and the spacing accent it types
// at once (a layout code: 1192 is the shifted back-quote key, 192 the key
// itself, 2094 and 2039 the characters ^ and ').
struct DeadKey {
  int32_t code;
  int32_t offset;
  int32_t spacingAccent;
};

constexpr DeadKey kDeadKeys[] = {
    {4001, 23, 1192}, {4002, 22, 2094}, {4003, 20, 192}, {4004, 21, 2039},
    {4006, 28, 1192}, {4007, 27, 2094}, {4008, 25, 192}, {4009, 26, 2039},
};

// The accent columns start here (grave, after dead key 4003).
constexpr int32_t kFirstAccentColumn = 20;
// Under caps lock the accented form comes from the column 5 further on.
constexpr int32_t kCapsAccentShift = 5;

// AltGr alternatives: columns 4..11, or 12..19 under caps lock.
constexpr int kAltGrFirstColumn = 4;
constexpr int kAltGrCapsFirstColumn = 12;
constexpr int kAltGrAlternatives = 8;

// The codes an AltGr column may hold as an alternative: a character (code
// 2000 to 2999) or the euro sign. Anything else there (a damaged or
// hand-edited layout) counts as no alternative, so that no out-of-range
// character is posted and no arithmetic runs on a wild value.
bool isAltGrAlternative(int32_t code) {
  return (code >= 2000 && code <= 2999) || code == kEuroCode;
}

const DeadKey *findDeadKey(int32_t code) {
  for (const DeadKey &dead : kDeadKeys) {
    if (dead.code == code) {
      return &dead;
    }
  }
  return nullptr;
}

// Types a layout code from an accent column or the dead-key table. Returns
// false when the code is one that types nothing here by rule (a dead key),
// true when it was typed or is unknown.
bool typeSpecialCharacter(int32_t code) {
  if (code >= 1 && code <= 999) {
    tapKey(code);
  } else if (code >= 1000 && code <= 1999) {
    shiftedTapKey(code - 1000);
  } else if (code >= 2000 && code <= 2999) {
    postCharacter(static_cast<uint32_t>(code - 2000));
  } else if (code >= 3000 && code <= 3999) {
    sendKeyDown(code - 3000);
  } else if (code >= 4000 && code <= 4999) {
    return false;
  } else if (code == kEuroCode) {
    postEuroSign();
  } else {
    return true;
  }
  return false;
}

} // namespace

void resetAltGrCycle() {
  AppGlobals.altGrIndex = 0;
  AppGlobals.altGrFresh = 1;
}

bool handleSpecialCharacter(uint8_t scancode, int32_t code, int32_t typingMode) {
  AppGlobalsRecord &g = AppGlobals;
  g.modifierKey = ACCENTMODE;
  NKDbgPrintfW(u"handleSpecialCharacter()\r\n");

  bool handled = false;
  if (const DeadKey *dead = findDeadKey(code)) {
    g.offset = dead->offset;
    g.specialCharacter = dead->spacingAccent;
  } else {
    // The key after a dead key.
    NKDbgPrintfW(u"Cancelling modifierKey from ACCENTMODE\r\n");
    g.modifierKey = NORMALMODE;
    // A column already past the row stays past it (and reads 0) instead of
    // growing without bound.
    if (typingMode == CAPSMODE && g.offset < kLayoutColumns) {
      g.offset += kCapsAccentShift;
    }
    // Before the first dead key there is no accent column: offset 0 would
    // read the key's own code and erase a character that is no accent.
    g.specialCharacter =
        g.offset >= kFirstAccentColumn ? lookupVirtualKey(scancode, g.offset) : 0;
    if (g.specialCharacter == 0) {
      return false; // no accented form: the spacing accent stays
    }
    postBackspace(); // erases the spacing accent
    handled = true;
  }

  NKDbgPrintfW(u"handleSpecialCharacter() scancode = %d, oldVirtualKey = %d offset = %d "
               u"specialCharacter = %d\r\n",
               scancode, 0, g.offset, g.specialCharacter);
  if (typeSpecialCharacter(g.specialCharacter)) {
    handled = true;
  }
  return handled;
}

bool handleAltGrMode(uint8_t scancode, int32_t typingMode) {
  AppGlobalsRecord &g = AppGlobals;
  int32_t code = lookupVirtualKey(scancode, kAltGrFirstColumn);
  if (code >= kDeadKeyFirst && code <= kDeadKeyLast) {
    handleSpecialCharacter(scancode, code, typingMode);
    return true;
  }
  if (!isAltGrAlternative(code)) {
    // No alternatives: AltGr ends here, and so does any cycle, so that a
    // later AltGr on the cycled key does not erase what was typed meanwhile.
    resetAltGrCycle();
    return false;
  }
  if (scancode != g.lastAltGrScancode && g.altGrFresh == 0) {
    // A cycle on another key was under way: it ends, and this key is typed
    // plainly by the caller.
    resetAltGrCycle();
    return false;
  }

  const int base = typingMode == CAPSMODE ? kAltGrCapsFirstColumn : kAltGrFirstColumn;
  g.lastAltGrScancode = scancode;
  int count = 0;
  while (count < kAltGrAlternatives &&
         isAltGrAlternative(lookupVirtualKey(scancode, base + count))) {
    ++count;
  }

  // An index left over from the other column set (caps lock changed during
  // the cycle) may lie past this set; it reads as no alternative.
  code = 0;
  if (g.altGrIndex >= 0 && g.altGrIndex < kAltGrAlternatives) {
    code = lookupVirtualKey(scancode, base + g.altGrIndex);
  }
  NKDbgPrintfW(u"handleAltGrMode() virtualKey = %d\r\n", code);

  g.altGrIndex += 1;
  if (g.altGrIndex == count) {
    g.altGrIndex = 0;
  }
  if (!isAltGrAlternative(code)) {
    resetAltGrCycle();
    return false;
  }
  if (g.altGrFresh == 0) {
    postBackspace(); // erases the previous alternative
  }
  // The euro sign counts as typed like any other alternative, so the next
  // press replaces it.
  g.altGrFresh = 0;
  if (code == kEuroCode) {
    postEuroSign();
  } else {
    postCharacter(static_cast<uint32_t>(code - 2000));
  }
  return true;
}
