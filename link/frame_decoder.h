// The frame decoder: reads one block from the keyboard's port, synchronises
// the stream, acts on every marker and frame, and hands key bytes to key
// translation. Reader thread only.
#pragma once

#include <cstdint>

// Results of ReceiveBlock: the last marker seen in the block.
enum : int {
  RX_NOTHING = 0,
  RX_SYNC = 1,
  RX_HEARTBEAT = 2,
  RX_IDENTITY = 3,
  RX_STATUS = 4,
  RX_CALIBRATION = 6,
  RX_CALIBRATION_FAILED = 7,
  RX_MARKER_FF = 8,
};

// Reads up to blockSize (12 or 1) bytes into AppGlobals.rxBuffer (cleared
// first) and decodes them. Returns the result code above: the last marker
// seen in the block; key bytes leave it unchanged. Until the sync pattern
// 0xA5 0x5A has been seen once in a single block, blocks are dropped (0).
// An identity frame is only taken in LinkState 4 (handshake) and a
// calibration values frame only in LinkState 7 (calibrating); in any other
// state their marker is dropped with a trace and the bytes after it are
// decoded as usual.
// A frame cut short by the end of the block (identity 0xF9, calibration
// values 0xFC, status 0x0A) is completed by reading its missing bytes from
// the port; an identity or calibration values frame that still lacks data
// bytes after that read is ignored (nothing stored, result unchanged), a
// status frame is handled with its missing bytes as 0. Every key byte
// (0x00-0x7F except 0x0A) reaches processScancode once, in stream order.
int ReceiveBlock(int blockSize);
// Acts on a status frame (6 bytes from its 0x0A marker on; the caller owns
// them): battery level, status codes 1, 2, 4, 8, and for keyboards with
// Build No 9095 or more the one-off handshake parameter and threshold
// rescaling (while AppGlobals.handshakeReference is 0).
void HandleStatusFrame(const uint8_t *frame);

// The value sent as parameter 13 for a status frame's reference byte:
// reference x 1.1 truncated, low 8 bits (100 -> 110, 240 -> 8).
uint8_t HandshakeParameterValue(uint8_t reference);
// Scales each AppGlobals.batteryThreshold by reference / 168.
void RescaleBatteryThresholds(uint8_t reference);
