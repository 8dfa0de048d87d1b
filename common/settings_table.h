// The table of stored settings: every value the program keeps under
// "Software\Vantrel", with its type, its one default and the range of
// numbers the program acts on. Every reader takes its default from here, so
// one value never reads as two different things on a fresh installation.
// The entries are constants that live for the whole process; nothing here
// touches the store.
#pragma once

#include <cstddef>
#include <cstdint>

enum class SettingType { Number, Text };

struct Setting {
  const char16_t *name; // the stored value's name, exactly as stored
  SettingType type;
  // Numbers: the default a read stores and returns when the value is
  // missing. Texts: always 0, a missing text reads as "None".
  int32_t defaultValue;
  // Numbers: the range the program acts on (a value outside it is kept as
  // stored; each reader says what it does with one). Texts: 0 and 0.
  int32_t minimum;
  int32_t maximum;
  // True for the typing settings, whose default is entry 0 of the loaded
  // layout file's choice list: defaultValue is then unused and the reader
  // passes that entry's value.
  bool defaultFromLayout;
};

namespace Settings {
extern const Setting kLanguage;
extern const Setting kKeycode;
extern const Setting kInitialised;
extern const Setting kLanguages;
extern const Setting kLayouts;
extern const Setting kComPort;
extern const Setting kKeyclicks;
extern const Setting kKeyboardTimeout;
extern const Setting kConnectionTimeout;
extern const Setting kSensitivity;
extern const Setting kKeyRepeatRate;
extern const Setting kKeyRepeatDelay;
extern const Setting kSerialNo;
extern const Setting kFeatureSet;
extern const Setting kBuildNo;
extern const Setting kConfigTable;
extern const Setting kOriginX;
extern const Setting kScaleXHigh;
extern const Setting kScaleXLow;
extern const Setting kOriginY;
extern const Setting kScaleYHigh;
extern const Setting kScaleYLow;

// Every entry above, in the order of that list; *count receives how many.
// The array is static.
const Setting *const *All(size_t *count);
} // namespace Settings

// The connection time-out menu's items, by the index stored as "Keyboard
// Timeout": 0 = "1 min", 1 = "5 min", 2 = "10 min", 3 = "Never".
constexpr int kTimeoutChoiceCount = 4;
// Returns the milliseconds the link runs with for that item (0 = no
// time-out), or -1 when the index names no item.
int32_t TimeoutChoiceMilliseconds(int32_t index);
