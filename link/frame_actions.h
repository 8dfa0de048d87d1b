// Acting on the keyboard's frames: ReceiveBlock reads one block through the
// frame decoder and acts on every frame of it in stream order (settings,
// messages, timers, sounds, key translation). Reader thread only.
#pragma once

#include "link/byte_source.h"
#include "link/frame_decoder.h"

#include <cstdint>

struct BlockResult {
  int marker = RX_NOTHING; // the block's result code (RX_*)
  bool portLost = false;   // a read of this block found the port gone
};

// Reads up to blockSize (12 or 1) bytes from source into
// AppGlobals.rxBuffer and acts on them. Until the sync pattern has been seen
// once in a single block (AppGlobals.linkSynchronised), blocks are dropped.
// An identity frame is only taken in LinkState 4 (handshake) and a
// calibration values frame only in LinkState 7 (calibrating); in any other
// state their marker is dropped with a trace. Outside the handshake a status
// marker whose code byte holds no status code is a stray byte: it is dropped
// with a trace and the bytes after it are decoded. An identity or calibration
// values frame that lacks data bytes even after its completing read is
// ignored with a trace (nothing stored, result unchanged). Every key byte
// reaches processScancode once, in stream order, after its click and the
// restart of the heartbeat and connection time-out timers.
BlockResult ReceiveBlock(ByteSource &source, int blockSize);
// The same from the keyboard's port (KeyboardPort).
BlockResult ReceiveBlock(int blockSize);

// Whether a key byte clicks: the stored Keyclicks, cached per thread and
// read again only once the registry's change count has moved (a change made
// by this program, or one by vantrel-reg, which is seen within about a
// second), so that a key reads no database.
bool KeyclicksOn();

// What one frame does; the frame's bytes belong to the caller.
void ActOnFrame(const Frame &frame);

// Acts on a status frame (6 bytes from its marker on; the caller owns
// them): battery level, status codes 1, 2, 4, 8, and for keyboards with
// Build No 9095 or more the one-off handshake parameter and threshold
// rescaling (while AppGlobals.handshakeReference is 0).
void HandleStatusFrame(const uint8_t *frame);

// The value sent as parameter 13 for a status frame's reference byte:
// reference x 1.1 truncated, low 8 bits (100 -> 110, 240 -> 8).
uint8_t HandshakeParameterValue(uint8_t reference);
// Scales each AppGlobals.batteryThreshold by reference / 168.
void RescaleBatteryThresholds(uint8_t reference);
