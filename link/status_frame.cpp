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
#include "platform/registry.h"
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

namespace {

// Build No, read again only when a stored value may have changed: the
// keyboard reports its status every few seconds, and the number changes
// only with an identity frame (or another program's write).
uint32_t BuildNumber() {
  thread_local uint64_t seen = 0;
  thread_local uint32_t build = 0;
  uint64_t count = RegistryChangeCount();
  if (count != seen) {
    seen = count;
    build = static_cast<uint32_t>(SettingsStore::ReadNumber(Settings::kBuildNo));
  }
  return build;
}

// Steps 3 to 6 of a status frame: the handshake parameter and the threshold
// rescaling, once a run for keyboards of build 9095 and later. Returns true
// when the thresholds were rescaled.
bool SendReferenceOnce(const uint8_t *frame) {
  uint32_t build = BuildNumber();
  if (build < kFirstBuildWithReference || AppGlobals.handshakeReference != 0)
    return false;
  uint8_t reference = frame[3];
  AppGlobals.handshakeReference = reference;
  CommandPacket packet;
  BuildSetParameter(packet, PARAM_REFERENCE, HandshakeParameterValue(reference));
  SendPacket(packet);
  RescaleBatteryThresholds(AppGlobals.handshakeReference);
  return true;
}

} // namespace

void HandleStatusFrame(const uint8_t *frame) {
  const float level = static_cast<float>(frame[1]);
  bool newCharge = AppGlobals.batteryLevel.exchange(level) != level;

  switch (frame[2]) {
  case 1:
    ForgetResumeReconnect();
    AppGlobals.linkState.store(LINK_DISCONNECTING);
    MessageBoxW(AppGlobals.mainWindow,
                UiText(kUiAppRequestedDisconnect, u"App requested disconnect"),
                UiText(kUiStatusMessageTitle, u"Message"), MB_OK);
    break;
  case 2:
    ShowStatusText(UiString(kUiKeyboardAskedToDisconnect));
    AppGlobals.disconnectNoticePending.store(1);
    ForgetResumeReconnect();
    AppGlobals.linkState.store(LINK_DISCONNECTING);
    break;
  case 4:
    MessageBoxW(AppGlobals.mainWindow,
                UiText(kUiUnexpectedStatus, u"status 0x04 You should not see this"),
                UiText(kUiStatusMessageTitle, u"Message"), MB_OK);
    break;
  case 8:
    ShowStatusText(UiString(kUiKeyboardEndedConnection));
    ForgetResumeReconnect();
    AppGlobals.linkState.store(LINK_DISCONNECTING);
    break;
  default:
    break;
  }

  if (SendReferenceOnce(frame))
    newCharge = true;
  // What shows the battery follows the reports: the window hears of one
  // only when the charge read from it may differ from the one before (a
  // new level, or rescaled thresholds), so a keyboard that reports the same
  // charge every few seconds wakes nothing.
  if (newCharge)
    PostToWindow(AppGlobals.mainWindow, WM_BATTERY_REPORTED);
}
