// The layout file (".kcod") and the table it fills: what each of the
// keyboard's 128 scancodes produces in every typing mode, the battery
// thresholds and the values of the three typing-setting option lists. All of
// it lives in AppGlobals (KeycodeTable, batteryThreshold, SensitivityChoices,
// RepeatRateChoices, RepeatDelayChoices) and is written only by
// loadKeycodeFile.
#pragma once

#include "platform/wintypes.h"

#include <cstddef>
#include <cstdint>

// Largest layout file part that is read; the rest of a longer file is ignored.
constexpr size_t kLayoutFileReadLimit = 15000;
// Longest layout file name (SettingsStore "keycode") and full path accepted.
constexpr size_t kLayoutNameMaxChars = 99;
constexpr size_t kLayoutPathMaxChars = 255;

// Lets the person choose a language and layout (stores SettingsStore
// "keycode" and friends) and returns when the choice is made or abandoned.
// The shell passes its selection dialog; key translation itself never opens
// a window.
using AskForLayoutFn = void (*)(HWND owner);

// Loads the layout file named by SettingsStore "keycode" from InstallDir,
// calling askForLayout first on a first run or while no layout is chosen
// (nullptr: nobody to ask, the stored name is used as it is). Runs on the
// reader thread before any scancode is processed.
// Returns true when the file was read; false after the "Failed to open"
// message (file missing, or a name or path too long to be a layout file), in
// which case nothing was loaded and the link must not start.
bool loadKeycodeFile(AskForLayoutFn askForLayout);

// The layout code for scancode (row) and column, with a trace line. A
// scancode above 127 or a column outside 0..29 has no entry and reads 0.
int32_t lookupVirtualKey(int scancode, int column);

// Labels the three option lists again from the UI strings loaded now (a new
// language); their values stay. User interface thread.
void labelSettingChoices();

// Fills the tables from layout file text (len bytes, not terminated), the
// way loadKeycodeFile does after reading the file, including the labels and
// the SettingsStore calls that create missing option values. Tokens beyond
// the end of the text read 0.
void parseKeycodeText(const char *text, size_t len);
