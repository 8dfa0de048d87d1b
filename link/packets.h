// Command packets to the keyboard: fixed 12-byte records whose last byte is
// the XOR of the first eleven. Both threads send packets; each sender builds
// in a buffer of its own and the port write is serialised, so the wire only
// ever carries whole packets, in each sequence's order.
#pragma once

#include "platform/wintypes.h"

#include <cstdint>

constexpr size_t kPacketSize = 12;
typedef uint8_t CommandPacket[kPacketSize];

// Packet kinds (byte 4).
enum : uint8_t {
  SET_PARAMETER = 1,
  CALIBRATION_MODE = 2,
  TYPING_MODE = 3,
  HANDSHAKE_REQUEST = 5,
  REQUEST_SYSTEM_DATA = 10,
  DISCONNECT = 11,
};

// Parameter ids of SET_PARAMETER (byte 5).
enum : uint8_t {
  PARAM_ORIGIN_X = 0,
  PARAM_SCALE_X_HIGH = 1,
  PARAM_SCALE_X_LOW = 2,
  PARAM_ORIGIN_Y = 3,
  PARAM_SCALE_Y_HIGH = 4,
  PARAM_SCALE_Y_LOW = 5,
  PARAM_SENSITIVITY = 6,
  PARAM_REPEAT_DELAY = 7,
  PARAM_REPEAT_RATE = 8,
  PARAM_SENSITIVITY_AUX1 = 9,
  PARAM_SENSITIVITY_AUX2 = 10,
  PARAM_REFERENCE = 13,
  PARAM_CALIBRATION = 14,
};

// The seven fixed packets.
extern const CommandPacket kHandshakeRequestPacket;
extern const CommandPacket kRequestSystemDataPacket;
extern const CommandPacket kDisconnectPacket;
extern const CommandPacket kCalibrationOffPacket;
extern const CommandPacket kCalibrationOnPacket;
extern const CommandPacket kCalibrationModePacket;
extern const CommandPacket kTypingModePacket;

// Clears packet and makes it a set-parameter packet for id with the low 8
// bits of value and its checksum. The caller owns packet: every sender builds
// in a buffer of its own (a local CommandPacket), never in a shared one.
void BuildSetParameter(CommandPacket packet, uint8_t id, int32_t value);
// The XOR of bytes 0 to 10 (what byte 11 must hold).
uint8_t PacketChecksum(const uint8_t *packet);
// Writes one packet to the open port (AppGlobals.portHandle) in one 12-byte
// write, whole and unmixed with packets of the other thread: the copy into
// AppGlobals.txPacket and the write happen under one lock. Returns the
// number of bytes written, 0 on failure (no retry, no report). Traces
// "Request System data " for REQUEST_SYSTEM_DATA. Set-parameter packets are
// built in each caller's own buffer, so the two threads never share one.
DWORD SendPacket(const CommandPacket packet);
// Sends parameters 0 to 10 from the stored settings, 200 ms apart (at least
// 2.2 s on the calling thread).
void PushSettings();
// The sequences started by the link controller's messages.
void SendSensitivitySequence(); // parameters 6, 9, 10, 200 ms apart
void SendRepeatRate();          // parameter 8
void SendRepeatDelay();         // parameter 7
// Parameters 9 and 10 for a sensitivity (its low 8 bits, unsigned): 22 and
// 24 when it equals the value of entry 1 of AppGlobals.SensitivityChoices,
// else 48 and 50. Used by PushSettings and SendSensitivitySequence alike.
uint8_t SensitivityAux1(uint8_t sensitivity);
uint8_t SensitivityAux2(uint8_t sensitivity);

// The other fixed sequences. "Timers 2 and 1" are restarted on
// AppGlobals.typingWnd with 10000 ms each, status poll first.
void SendSettingsAndTypingMode(); // PushSettings, TYPING_MODE (end of handshake, WM_RESUME_WITH_SETTINGS)
void SendBeginCalibration();      // calibration on, 200 ms, CALIBRATION_MODE
void SendEndCalibration();        // calibration off, 1000 ms, timers 2 and 1, TYPING_MODE
void SendCalibrationFailed();     // calibration off, timers 2 and 1, TYPING_MODE (marker 0xFE)
void SendLeaveCalibration();      // timers 2 and 1, calibration off, TYPING_MODE (leaving LinkState 7)
// A disconnection that comes before the reader thread has entered its
// calibration loop still takes the keyboard out of calibration mode first:
// calibration off and TYPING_MODE when CALIBRATION_MODE was the last mode
// sent, nothing otherwise.
void LeaveCalibrationBeforeDisconnect();
