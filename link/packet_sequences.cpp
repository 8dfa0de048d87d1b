// The fixed packet sequences of calibration and of the end of a handshake,
// with their pauses. Each runs on the thread that starts it; the pauses block
// that thread only, and packets of the other thread may fall between two
// packets of a sequence, never inside one.
#include "common/messages.h"
#include "link/packets.h"

#include "common/globals.h"
#include "platform/threads.h"
#include "platform/window.h"

namespace {

constexpr DWORD kCalibrationSwitchPauseMs = 200;
constexpr DWORD kCalibrationEndPauseMs = 1000;

// Status poll first, then heartbeat, as the link controller starts them.
void RestartPollAndHeartbeat() {
  HWND wnd = AppGlobals.typingWnd.load();
  SetTimer(wnd, kStatusPollTimer, kStatusPollPeriodMs, nullptr);
  SetTimer(wnd, kHeartbeatTimer, kHeartbeatPeriodMs, nullptr);
}

} // namespace

void SendSettingsAndTypingMode() {
  PushSettings();
  SendPacket(kTypingModePacket);
}

void SendBeginCalibration() {
  SendPacket(kCalibrationOnPacket);
  Sleep(kCalibrationSwitchPauseMs);
  SendPacket(kCalibrationModePacket);
}

void SendEndCalibration() {
  SendPacket(kCalibrationOffPacket);
  Sleep(kCalibrationEndPauseMs);
  RestartPollAndHeartbeat();
  SendPacket(kTypingModePacket);
}

void SendCalibrationFailed() {
  SendPacket(kCalibrationOffPacket);
  RestartPollAndHeartbeat();
  SendPacket(kTypingModePacket);
}

void SendLeaveCalibration() {
  RestartPollAndHeartbeat();
  SendPacket(kCalibrationOffPacket);
  SendPacket(kTypingModePacket);
}
