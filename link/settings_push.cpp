// Handing the stored typing settings and calibration values to the keyboard:
// the full settings push and the single-setting sequences of the typing
// settings dialog.
#include "link/packets.h"

#include "common/globals.h"
#include "common/settings_store.h"
#include "platform/threads.h"

namespace {

constexpr DWORD kParameterPauseMs = 200;

// Parameters 9 and 10 depend on whether the sensitivity is the second choice
// of the layout's option table. The sensitivity's low 8 bits are compared as
// an unsigned byte everywhere, so a value of 128 or more gives the same
// answer in the settings push and in the single sensitivity sequence.
bool IsSecondSensitivityChoice(uint8_t sensitivity) {
  return static_cast<int32_t>(sensitivity) == AppGlobals.SensitivityChoices[1].value;
}

void SendParameter(uint8_t id, int32_t value) {
  CommandPacket packet;
  BuildSetParameter(packet, id, value);
  SendPacket(packet);
}

int32_t StoredSensitivity() {
  return SettingsStore::ReadDword(u"SensitivityValue", AppGlobals.SensitivityChoices[0].value);
}

} // namespace

uint8_t SensitivityAux1(uint8_t sensitivity) { return IsSecondSensitivityChoice(sensitivity) ? 22 : 48; }
uint8_t SensitivityAux2(uint8_t sensitivity) { return IsSecondSensitivityChoice(sensitivity) ? 24 : 50; }

void PushSettings() {
  uint8_t list[11];
  list[PARAM_ORIGIN_X] = static_cast<uint8_t>(SettingsStore::ReadNumber(Settings::kOriginX));
  list[PARAM_SCALE_X_HIGH] = static_cast<uint8_t>(SettingsStore::ReadNumber(Settings::kScaleXHigh));
  list[PARAM_SCALE_X_LOW] = static_cast<uint8_t>(SettingsStore::ReadNumber(Settings::kScaleXLow));
  list[PARAM_ORIGIN_Y] = static_cast<uint8_t>(SettingsStore::ReadNumber(Settings::kOriginY));
  list[PARAM_SCALE_Y_HIGH] = static_cast<uint8_t>(SettingsStore::ReadNumber(Settings::kScaleYHigh));
  list[PARAM_SCALE_Y_LOW] = static_cast<uint8_t>(SettingsStore::ReadNumber(Settings::kScaleYLow));
  list[PARAM_SENSITIVITY] = static_cast<uint8_t>(StoredSensitivity());
  // The rate is read before the delay; each lands at its own parameter id.
  list[PARAM_REPEAT_RATE] = static_cast<uint8_t>(
      SettingsStore::ReadDword(u"KeyRepeatRateValue", AppGlobals.RepeatRateChoices[0].value));
  list[PARAM_REPEAT_DELAY] = static_cast<uint8_t>(
      SettingsStore::ReadDword(u"KeyRepeatDelayValue", AppGlobals.RepeatDelayChoices[0].value));
  list[PARAM_SENSITIVITY_AUX1] = SensitivityAux1(list[PARAM_SENSITIVITY]);
  list[PARAM_SENSITIVITY_AUX2] = SensitivityAux2(list[PARAM_SENSITIVITY]);

  for (uint8_t id = 0; id <= PARAM_SENSITIVITY_AUX2; ++id) {
    SendParameter(id, list[id]);
    Sleep(kParameterPauseMs);
  }
}

void SendSensitivitySequence() {
  uint8_t sensitivity = static_cast<uint8_t>(StoredSensitivity());
  SendParameter(PARAM_SENSITIVITY, sensitivity);
  Sleep(kParameterPauseMs);
  SendParameter(PARAM_SENSITIVITY_AUX1, SensitivityAux1(sensitivity));
  Sleep(kParameterPauseMs);
  SendParameter(PARAM_SENSITIVITY_AUX2, SensitivityAux2(sensitivity));
}

void SendRepeatRate() {
  SendParameter(PARAM_REPEAT_RATE,
                SettingsStore::ReadDword(u"KeyRepeatRateValue", AppGlobals.RepeatRateChoices[0].value));
}

void SendRepeatDelay() {
  SendParameter(PARAM_REPEAT_DELAY,
                SettingsStore::ReadDword(u"KeyRepeatDelayValue", AppGlobals.RepeatDelayChoices[0].value));
}
