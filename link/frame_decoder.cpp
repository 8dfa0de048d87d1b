// Cutting the keyboard's byte stream into frames.
//
// The stream has no framing: a byte's value alone says what it is, and a few
// markers are followed by a fixed number of data bytes.
#include "link/frame_decoder.h"

#include <algorithm>
#include <cstring>

int FrameResult(FrameKind kind) {
  switch (kind) {
  case FrameKind::Status:
    return RX_STATUS;
  case FrameKind::Sync:
    return RX_SYNC;
  case FrameKind::Identity:
    return RX_IDENTITY;
  case FrameKind::Heartbeat:
    return RX_HEARTBEAT;
  case FrameKind::CalibrationPoint:
  case FrameKind::CalibrationValues:
  case FrameKind::Calibration:
    return RX_CALIBRATION;
  case FrameKind::CalibrationFailure:
    return RX_CALIBRATION_FAILED;
  case FrameKind::MarkerFF:
    return RX_MARKER_FF;
  default:
    return RX_NOTHING;
  }
}

FrameDecoder::FrameDecoder(ByteSource &source, uint8_t *buffer, size_t capacity)
    : source_(source), buffer_(buffer), capacity_(capacity) {}

void FrameDecoder::ReadUpTo(size_t end) {
  end = std::min(end, capacity_);
  if (count_ >= end)
    return;
  count_ += std::min(source_.Read(buffer_ + count_, end - count_, &lost_), end - count_);
}

bool FrameDecoder::Complete(size_t size, size_t used) {
  if (pos_ + size > count_)
    ReadUpTo(pos_ + size);
  return pos_ + used <= count_;
}

bool FrameDecoder::FindSyncPattern() const {
  static constexpr uint8_t pattern[2] = {kSyncByte, kSyncSecondByte};
  size_t index = 0;
  for (size_t i = 0; i < count_; ++i) {
    // A byte that does not match leaves the index where it is.
    if (buffer_[i] == pattern[index] && ++index == sizeof pattern)
      return true;
  }
  return false;
}

bool FrameDecoder::StartBlock(int blockSize, bool *synchronised) {
  memset(buffer_, 0, capacity_);
  count_ = pos_ = 0;
  done_ = true;
  size_t largest = capacity_ > kLongestFrame ? capacity_ - kLongestFrame : 0;
  size_t block = std::min<size_t>(std::max(blockSize, 0), largest);
  ReadUpTo(block);
  blockEnd_ = count_;
  if (!*synchronised) {
    if (!FindSyncPattern())
      return false;
    *synchronised = true;
  }
  done_ = count_ == 0;
  return !done_;
}

bool FrameDecoder::NextFrame(Frame *frame) {
  while (!done_ && pos_ < count_) {
    const size_t at = pos_;
    const uint8_t byte = buffer_[at];
    auto give = [&](FrameKind kind, size_t size, size_t advance) {
      *frame = Frame{kind, buffer_ + at, size};
      pos_ = at + advance;
      return true;
    };
    switch (byte) {
    case kStatusMarker: {
      // A chain of stray markers read past the block could leave no room.
      if (at + kStatusFrameSize > capacity_)
        return give(FrameKind::StatusRefused, 1, 1);
      // Missing bytes of a short status frame stay 0 (the buffer was cleared).
      // While keys come, a stray 0x0A is told from a frame by the code byte
      // alone: read up to it first, so that a stray marker holds back only
      // the keys up to there, and those are decoded rather than lost.
      bool complete = true;
      if (!statusAwaited) {
        complete = Complete(kStatusCodeAt + 1, kStatusCodeAt + 1);
        if (!IsStatusCode(buffer_[at + kStatusCodeAt]))
          return give(FrameKind::StatusRefused, 1, 1);
      }
      // A frame whose code byte did not come in time is not waited for again.
      if (complete)
        Complete(kStatusFrameSize, kStatusFrameSize);
      done_ = true;
      return give(FrameKind::Status, kStatusFrameSize, kStatusFrameSize);
    }
    case kSyncByte:
      // The rest of the block is dropped; bytes read past it to judge a
      // stray status marker are still decoded.
      if (count_ <= blockEnd_)
        done_ = true;
      return give(FrameKind::Sync, 1, std::max(at + 1, blockEnd_) - at);
    case kIdentityMarker:
      // The keyboard sends its identity only when asked in the handshake; a
      // stray marker at any other time must not rewrite the stored identity.
      if (!takeIdentity)
        return give(FrameKind::IdentityRefused, 1, 1);
      if (!Complete(kIdentityFrameSize, kIdentityFrameUsed))
        return give(FrameKind::IdentityIncomplete, count_ - at, kIdentityFrameSize);
      return give(FrameKind::Identity, kIdentityFrameSize, kIdentityFrameSize);
    case kHeartbeatMarker:
      return give(FrameKind::Heartbeat, 1, 1);
    case kCalibrationPointMarker:
      return give(FrameKind::CalibrationPoint, 1, 1);
    case kCalibrationValuesMarker:
      // Calibration values are only taken while calibrating; elsewhere a
      // stray marker would overwrite the stored values and swallow six keys.
      if (!takeCalibrationValues)
        return give(FrameKind::CalibrationValuesRefused, 1, 1);
      if (!Complete(kCalibrationFrameSize, kCalibrationFrameUsed))
        return give(FrameKind::CalibrationValuesIncomplete, count_ - at, kCalibrationFrameSize);
      return give(FrameKind::CalibrationValues, kCalibrationFrameSize, kCalibrationFrameSize);
    case kCalibrationMarker:
      return give(FrameKind::Calibration, 1, 1);
    case kCalibrationFailureMarker:
      return give(FrameKind::CalibrationFailure, 1, 1);
    case kMarkerFF:
      return give(FrameKind::MarkerFF, 1, 1);
    default:
      if (byte < kFirstNonKeyByte)
        return give(FrameKind::Key, 1, 1);
      pos_ = at + 1; // no meaning: skipped
      break;
    }
  }
  done_ = true;
  return false;
}
