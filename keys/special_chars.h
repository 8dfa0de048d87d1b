// Characters beyond the plain, Shift and caps columns: dead-key accents and
// the AltGr multi-tap cycle. State in AppGlobals (offset, specialCharacter,
// lastAltGrScancode, altGrIndex, altGrFresh), reader thread only.
#pragma once

#include <cstdint>

// Dead keys 4001-4004 and 4006-4009; 4000 to 4010 all reach
// handleSpecialCharacter.
constexpr int32_t kDeadKeyFirst = 4000;
constexpr int32_t kDeadKeyLast = 4010;
// Layout code of the euro sign in the AltGr and accent columns.
constexpr int32_t kEuroCode = 8364;

// With a dead-key code: types its spacing accent, sets ACCENTMODE and the
// accent column, returns false. With code 0 (or 4000, 4005, 4010): the key
// after a dead key; when the key has an accented form, erases the spacing
// accent, types that form and returns true; otherwise returns false and the
// caller types the key normally. Either way ACCENTMODE has ended.
bool handleSpecialCharacter(uint8_t scancode, int32_t code, int32_t typingMode);

// A key in ALTGRMODE. Returns true when it typed an AltGr alternative (each
// further press of the same key replaces it with the next) or started a dead
// key; false when the caller must type the key normally and leave ALTGRMODE.
// Only character codes (2000 to 2999) and the euro code are alternatives; a
// column holding anything else ends the alternatives there.
bool handleAltGrMode(uint8_t scancode, int32_t typingMode);

// Forgets the AltGr cycle, so that the next AltGr key starts with its first
// alternative and erases nothing.
void resetAltGrCycle();
