// The keyboard's side of the wire: the marker bytes of its byte stream and
// the lengths of the frames that follow some of them. Every byte from 0x00
// to 0x7F other than the status marker is a key byte (a scancode).
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint8_t kStatusMarker = 0x0A;
// The sync pattern is kSyncByte followed by kSyncSecondByte; kSyncByte alone
// also ends a block.
constexpr uint8_t kSyncByte = 0xA5;
constexpr uint8_t kSyncSecondByte = 0x5A;
constexpr uint8_t kIdentityMarker = 0xF9;
constexpr uint8_t kHeartbeatMarker = 0xFA;
constexpr uint8_t kCalibrationPointMarker = 0xFB;
constexpr uint8_t kCalibrationValuesMarker = 0xFC;
constexpr uint8_t kCalibrationMarker = 0xFD;
constexpr uint8_t kCalibrationFailureMarker = 0xFE;
constexpr uint8_t kMarkerFF = 0xFF;
// Bytes at or above this value (other than the markers) mean nothing.
constexpr uint8_t kFirstNonKeyByte = 0x80;

// Frame lengths from the marker on, and how many of those bytes carry data
// that is used (the last byte of the identity and calibration values frames
// is a spare).
constexpr size_t kStatusFrameSize = 6;
// The status frame's code byte, and the codes the keyboard sends there:
// 0 (nothing to report), 1, 2, 4 and 8. Its other data bytes (battery,
// reference, two spares) may hold any value, so this byte alone tells a
// status marker from a stray 0x0A among key bytes.
constexpr size_t kStatusCodeAt = 2;
constexpr bool IsStatusCode(uint8_t code) {
  return code == 0 || code == 1 || code == 2 || code == 4 || code == 8;
}
constexpr size_t kIdentityFrameSize = 12;
constexpr size_t kIdentityFrameUsed = 11;
constexpr size_t kCalibrationFrameSize = 8;
constexpr size_t kCalibrationFrameUsed = 7;
// The longest frame: a block leaves room after it for one to be completed.
constexpr size_t kLongestFrame = kIdentityFrameSize;
