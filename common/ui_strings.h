// The 41 UI strings from the language file, loaded once at start-up and never
// freed or changed afterwards.
#pragma once

#include "platform/wintypes.h"

constexpr int kUiStringCount = 41;

// Loads the UI strings from InstallDir + SettingsStore "language", falling
// back to InstallDir + "English.lang". Returns true when loaded; when neither
// file opens, posts the quit request and returns false.
bool LoadUiStrings();

// UI string n (0..40). Never null: "" before loading or for a missing field.
const WCHAR *UiString(int n);

// Tests: frees the loaded strings and goes back to the state before loading;
// no pointer from UiString may be kept across this call.
void ResetUiStrings();
