// The keyboard's status frame: battery level, status code, and the one-off
// handshake parameter with the battery threshold rescaling for keyboards of
// build 9095 and later.
#include "link/frame_actions.h"

#include "common/globals.h"
#include "common/messages.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "link/packets.h"
#include "link/resume_reconnect.h"
#include "platform/window.h"

namespace {

constexpr uint32_t kFirstBuildWithReference = 9095;
constexpr size_t kStatusTextUnits = sizeof(AppGlobals.statusText) / sizeof(WCHAR);

// Status texts come from the language file and are formatted as formats
// without arguments: "%%" gives "%". Any other '%' is copied as it stands,
// so a stray conversion in a translation can never read a missing argument.
void ShowStatusText(const WCHAR *text) {
  WCHAR out[kStatusTextUnits];
  size_t n = 0;
  for (const WCHAR *p = text; *p && n + 1 < kStatusTextUnits; ++p) {
    if (p[0] == u'%' && p[1] == u'%')
      ++p;
    out[n++] = *p;
  }
  out[n] = 0;
  WriteStatusText(out);
  PostToWindow(AppGlobals.mainWindow, WM_STATUS_TEXT_CHANGED);
}

} // namespace

uint8_t HandshakeParameterValue(uint8_t reference) {
  // The steps (double product, rounding to float, halving in float,
  // truncation) decide the last unit of the result and are kept as they are.
  double a = static_cast<double>(reference) * 2.2;
  float b = static_cast<float>(a);
  float c = b * 0.5f;
  int v = static_cast<int>(c);
  return static_cast<uint8_t>(v & 0xFF);
}

void RescaleBatteryThresholds(uint8_t reference) {
  float h = static_cast<float>(reference);
  for (float &threshold : AppGlobals.batteryThreshold) {
    float x = threshold * 0.01f;
    x = x * h;
    double d = static_cast<double>(x) * 0.5952380952380952;
    threshold = static_cast<float>(d);
  }
}

void HandleStatusFrame(const uint8_t *frame) {
  AppGlobals.batteryLevel.store(static_cast<float>(frame[1]));

  switch (frame[2]) {
  case 1:
    ForgetResumeReconnect();
    AppGlobals.linkState.store(LINK_DISCONNECTING);
    MessageBoxW(AppGlobals.mainWindow, UiText(kUiKeyboardAskedToDisconnect, u"App requested disconnect"),
                u"Vantrel", MB_OK);
    break;
  case 2:
    ShowStatusText(UiString(kUiKeyboardAskedToDisconnect));
    AppGlobals.disconnectNoticePending.store(1);
    ForgetResumeReconnect();
    AppGlobals.linkState.store(LINK_DISCONNECTING);
    break;
  case 4:
    MessageBoxW(AppGlobals.mainWindow,
                UiText(kUiUnexpectedStatus, u"status 0x04 You should not see this"), u"Vantrel",
                MB_OK);
    break;
  case 8:
    ShowStatusText(UiString(kUiKeyboardEndedConnection));
    ForgetResumeReconnect();
    AppGlobals.linkState.store(LINK_DISCONNECTING);
    break;
  default:
    break;
  }

  uint32_t build = static_cast<uint32_t>(SettingsStore::ReadNumber(Settings::kBuildNo));
  if (build < kFirstBuildWithReference || AppGlobals.handshakeReference != 0)
    return;

  uint8_t reference = frame[3];
  AppGlobals.handshakeReference = reference;
  CommandPacket packet;
  BuildSetParameter(packet, PARAM_REFERENCE, HandshakeParameterValue(reference));
  SendPacket(packet);
  RescaleBatteryThresholds(AppGlobals.handshakeReference);
}
