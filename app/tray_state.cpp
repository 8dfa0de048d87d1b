#include "app/tray_state.h"

#include "resources/resource_ids.h"

TrayNotice TrayOnLinkPhase(TrayState &state, unsigned buttonState, long phase,
                           const std::u16string &caption) {
  if (buttonState == 0 || buttonState == 1)
    state.buttonEnabled = buttonState == 1;
  state.caption = caption;
  TrayNotice notice = TrayNotice::None;
  switch (phase) {
  case 0:
    if (state.phase == TrayPhase::Connected && !state.disconnectAsked)
      notice = TrayNotice::ConnectionLost;
    state.phase = TrayPhase::NotConnected;
    state.disconnectAsked = false;
    state.batteryPercent = -1;
    break;
  case 1:
    state.phase = TrayPhase::Busy;
    break;
  case 2:
    if (state.phase != TrayPhase::Connected) {
      notice = TrayNotice::Connected;
      state.lastStatus.clear();
      state.batteryPercent = -1;
      state.batteryLowTold = false;
      state.disconnectAsked = false;
    }
    state.phase = TrayPhase::Connected;
    break;
  default:
    break;
  }
  return notice;
}

void TrayOnStatusText(TrayState &state, unsigned buttonState, const std::u16string &text) {
  if (buttonState == 0 || buttonState == 1)
    state.buttonEnabled = buttonState == 1;
  state.caption = text;
  if (state.phase == TrayPhase::Connected)
    state.lastStatus = text;
  else
    state.phase = TrayPhase::Busy;
}

void TrayOnDisconnectAsked(TrayState &state) {
  if (state.phase == TrayPhase::Connected)
    state.disconnectAsked = true;
}

TrayNotice TrayOnBattery(TrayState &state, int percent, bool low) {
  if (state.phase != TrayPhase::Connected)
    return TrayNotice::None;
  state.batteryPercent = percent < 0 ? 0 : (percent > 100 ? 100 : percent);
  if (!low || state.batteryLowTold)
    return TrayNotice::None;
  state.batteryLowTold = true;
  return TrayNotice::BatteryLow;
}

std::u16string TrayTooltip(const TrayState &state, const std::u16string &battery) {
  std::u16string tip = u"Vantrel";
  if (!state.caption.empty())
    tip += u"\n" + state.caption;
  if (state.batteryPercent >= 0) {
    std::u16string digits;
    int n = state.batteryPercent;
    do {
      digits.insert(digits.begin(), static_cast<char16_t>(u'0' + n % 10));
      n /= 10;
    } while (n > 0);
    tip += u"\n" + battery + u" " + digits + u"%";
  }
  return tip;
}

std::vector<TrayMenuEntry> TrayMenu(const TrayState &state, const TrayTexts &texts) {
  const std::u16string *toggle = &texts.connect;
  if (state.phase == TrayPhase::Connected)
    toggle = &texts.disconnect;
  else if (state.phase == TrayPhase::Busy)
    toggle = &texts.connecting;
  return {
      {kCommandConnectButton, *toggle, state.buttonEnabled},
      {kCommandShowWindow, texts.show, true},
      {kCommandQuit, texts.quit, true},
  };
}
