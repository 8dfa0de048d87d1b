// The fixed packet sequences of calibration and of the end of a handshake,
// with their pauses. Each runs on the thread that starts it; the pauses block
// that thread only, and packets of the other thread may fall between two
// packets of a sequence, never inside one.
#include "common/messages.h"
#include "link/packets.h"

#include "common/globals.h"
#include "platform/threads.h"
#include "platform/window.h"

#include <atomic>

namespace {

// Whether CALIBRATION_MODE was sent and the keyboard not yet taken out of
// calibration (set on the UI thread, read by the reader thread).
std::atomic<bool> gCalibrationModeSent{false};

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
  gCalibrationModeSent.store(true);
}

void SendEndCalibration() {
  gCalibrationModeSent.store(false);
  SendPacket(kCalibrationOffPacket);
  Sleep(kCalibrationEndPauseMs);
  RestartPollAndHeartbeat();
  SendPacket(kTypingModePacket);
}

void SendCalibrationFailed() {
  gCalibrationModeSent.store(false);
  SendPacket(kCalibrationOffPacket);
  RestartPollAndHeartbeat();
  SendPacket(kTypingModePacket);
}

void SendLeaveCalibration() {
  gCalibrationModeSent.store(false);
  RestartPollAndHeartbeat();
  SendPacket(kCalibrationOffPacket);
  SendPacket(kTypingModePacket);
}

void LeaveCalibrationBeforeDisconnect() {
  if (!gCalibrationModeSent.exchange(false))
    return;
  SendPacket(kCalibrationOffPacket);
  SendPacket(kTypingModePacket);
}
