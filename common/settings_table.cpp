// The stored settings' table. The connection time-out is kept twice, as the
// menu's item index and as the link's milliseconds; both defaults come from
// the same item, so a fresh installation checks the item the link runs with.
#include "common/settings_table.h"

namespace {

constexpr int32_t kTimeoutMilliseconds[kTimeoutChoiceCount] = {60000, 300000, 600000, 0};
constexpr int32_t kDefaultTimeoutChoice = 1; // "5 min"
constexpr int32_t kMaxInt = 0x7FFFFFFF;

constexpr Setting Text(const char16_t *name) { return {name, SettingType::Text, 0, 0, 0, false}; }
constexpr Setting Number(const char16_t *name, int32_t defaultValue, int32_t minimum,
                         int32_t maximum) {
  return {name, SettingType::Number, defaultValue, minimum, maximum, false};
}
constexpr Setting FromLayout(const char16_t *name) {
  return {name, SettingType::Number, 0, 0, 255, true};
}

} // namespace

namespace Settings {
const Setting kLanguage = Text(u"language");
const Setting kKeycode = Text(u"keycode");
const Setting kInitialised = Number(u"Initialised", 0, 0, 1);
const Setting kLanguages = Text(u"Languages");
const Setting kLayouts = Text(u"Layouts");
const Setting kComPort = Text(u"COMPORT");
const Setting kKeyclicks = Number(u"Keyclicks", 1, 0, 1);
const Setting kKeyboardTimeout =
    Number(u"Keyboard Timeout", kDefaultTimeoutChoice, 0, kTimeoutChoiceCount - 1);
const Setting kConnectionTimeout =
    Number(u"Connection Timeout", kTimeoutMilliseconds[kDefaultTimeoutChoice], 0, kMaxInt);
const Setting kSensitivity = FromLayout(u"SensitivityValue");
const Setting kKeyRepeatRate = FromLayout(u"KeyRepeatRateValue");
const Setting kKeyRepeatDelay = FromLayout(u"KeyRepeatDelayValue");
// The keyboard's identity as it last reported it: 32-bit serial, 16-bit rest.
const Setting kSerialNo = Number(u"Serial No", 0, -kMaxInt - 1, kMaxInt);
const Setting kFeatureSet = Number(u"Feature Set", 0, 0, 0xFFFF);
const Setting kBuildNo = Number(u"Build No", 0, 0, 0xFFFF);
const Setting kConfigTable = Number(u"Config Table", 0, 0, 0xFFFF);
// Calibration bytes: only the low byte is sent to the keyboard.
const Setting kOriginX = Number(u"originX", 0, 0, 255);
const Setting kScaleXHigh = Number(u"scaleXHigh", 1, 0, 255);
const Setting kScaleXLow = Number(u"scaleXLow", 0, 0, 255);
const Setting kOriginY = Number(u"originY", 0, 0, 255);
const Setting kScaleYHigh = Number(u"scaleYHigh", 1, 0, 255);
const Setting kScaleYLow = Number(u"scaleYLow", 0, 0, 255);

const Setting *const *All(size_t *count) {
  static const Setting *const kAll[] = {
      &kLanguage,      &kKeycode,        &kInitialised,     &kLanguages,         &kLayouts,
      &kComPort,       &kKeyclicks,      &kKeyboardTimeout, &kConnectionTimeout, &kSensitivity,
      &kKeyRepeatRate, &kKeyRepeatDelay, &kSerialNo,        &kFeatureSet,        &kBuildNo,
      &kConfigTable,   &kOriginX,        &kScaleXHigh,      &kScaleXLow,         &kOriginY,
      &kScaleYHigh,    &kScaleYLow,
  };
  *count = sizeof kAll / sizeof kAll[0];
  return kAll;
}
} // namespace Settings

int32_t TimeoutChoiceMilliseconds(int32_t index) {
  if (index < 0 || index >= kTimeoutChoiceCount)
    return -1;
  return kTimeoutMilliseconds[index];
}
