// Scancode processing: every key byte from the keyboard becomes one complete
// key stroke on the host. The keyboard reports presses only, so the modifier
// keys are sticky: each press of Shift, Ctrl, Alt or AltGr toggles a mode for
// the next key, and caps lock toggles AppGlobals.typingMode. The modes live
// in AppGlobals.typingMode and AppGlobals.modifierKey; they are touched only
// here and by the accent and AltGr handling, on the reader thread.
#pragma once

#include <cstdint>

// The mode keys: they change a mode and send nothing.
constexpr uint8_t kScancodeShift = 2;
constexpr uint8_t kScancodeCapsLock = 3;
constexpr uint8_t kScancodeCtrl = 112;
constexpr uint8_t kScancodeAlt = 113;
constexpr uint8_t kScancodeAltGr = 114;

// Handles one key byte (0..127; anything higher has no table entry and types
// nothing).
void processScancode(uint8_t scancode);

// Sends one non-zero layout code that is not a dead key, applying a pending
// Shift; modifierKey must be NORMALMODE or SHIFTMODE. Sets and returns the
// new modifierKey (Shift ends after most keys).
int32_t postVirtualKey(uint8_t scancode, int32_t code, int32_t typingMode);

// Ctrl+C, Ctrl+V, Ctrl+X and Ctrl+Z. Returns true when the key was one of
// them and has been sent.
bool handleCtrlMode(uint8_t scancode);

// The Alt shortcuts (OK, Cancel, home, soft keys, volume, hot tips, help,
// show the main window). Returns true when the key is an Alt shortcut.
bool handleAltChMode(uint8_t scancode);
