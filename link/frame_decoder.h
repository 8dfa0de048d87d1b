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

// Reads up to blockSize (12 or 1) bytes and decodes them. Returns the result
// code above.
int ReceiveBlock(int blockSize);
// Acts on a status frame (6 bytes from its 0x0A marker on).
void HandleStatusFrame(const uint8_t *frame);
