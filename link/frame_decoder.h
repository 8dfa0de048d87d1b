// The frame decoder: cuts one block of the keyboard's byte stream into key
// bytes, markers and frames. It reads through a ByteSource and does nothing
// else: no settings, messages, timers or sounds (frame_actions.h acts on
// what it finds). One decoder serves one block; reader thread (or a test).
#pragma once

#include "link/byte_source.h"
#include "link/frame_format.h"

#include <cstddef>
#include <cstdint>

// Result codes of a block: the last marker seen in it.
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

enum class FrameKind : uint8_t {
  Key,               // one key byte
  Status,            // kStatusFrameSize bytes; missing ones read as 0; ends the block
  Sync,              // the sync byte; ends the block
  Identity,          // kIdentityFrameSize bytes, the first kIdentityFrameUsed there
  Heartbeat,
  CalibrationPoint,
  CalibrationValues, // kCalibrationFrameSize bytes, the first kCalibrationFrameUsed there
  Calibration,       // marker 0xFD
  CalibrationFailure,
  MarkerFF,
  // Frames that are not taken; the bytes after a refused marker are decoded
  // as usual, an incomplete frame's bytes are skipped with it.
  IdentityRefused,          // outside the handshake
  IdentityIncomplete,       // data bytes still missing after the completing read
  CalibrationValuesRefused, // outside calibration
  CalibrationValuesIncomplete,
  StatusRefused, // a status marker without a status code after it: a stray byte
};

struct Frame {
  FrameKind kind;
  // From the marker on (the key byte itself for Key), inside the decoder's
  // buffer: valid until the next call on the decoder.
  const uint8_t *bytes;
  size_t size;
};

// The result code a frame gives its block: RX_NOTHING for a key byte or a
// frame not taken, which leave the block's code as it was.
int FrameResult(FrameKind kind);

class FrameDecoder {
public:
  // buffer (capacity bytes, owned by the caller) holds the block and the
  // completion of a frame it cuts short; every read stays inside it.
  FrameDecoder(ByteSource &source, uint8_t *buffer, size_t capacity);

  // Clears the buffer and reads up to blockSize bytes with one read; a
  // block is capped so that a frame starting in it can still be completed.
  // When *synchronised is false, the block is looked through for the sync
  // pattern (both bytes in this block, in order, other bytes between them
  // allowed): found, *synchronised becomes true and the whole block is
  // decoded; else the block is dropped. Returns false when there is
  // nothing to decode.
  bool StartBlock(int blockSize, bool *synchronised);

  // The next frame of the block, in stream order; false once the block is
  // done (after a status frame or a sync byte, the rest is dropped). A frame
  // that the block cuts short is completed by reading its missing bytes from
  // the source, so that its tail is never decoded as key bytes. Bytes 0x80
  // and above that are no marker are skipped without a frame.
  //
  // Unless a status frame is awaited, a status marker is taken only when the
  // byte at the frame's code position holds a status code (or never came);
  // otherwise the marker alone is dropped (StatusRefused) and the bytes read
  // to judge it are decoded as usual, in this call, even past the block's
  // end (a sync byte among them drops nothing after it).
  bool NextFrame(Frame *frame);

  // Whether identity and calibration values frames are taken, and whether
  // a status frame is awaited (every status marker starts one); the caller
  // sets them before each NextFrame (they follow the link state).
  bool takeIdentity = false;
  bool takeCalibrationValues = false;
  bool statusAwaited = false;

  // True once a read of this block found the source gone.
  bool SourceLost() const { return lost_; }

private:
  // Reads into buffer[count_..end) with one read (end capped at capacity).
  void ReadUpTo(size_t end);
  // Makes sure the frame at pos_ has its first `used` bytes, reading the
  // rest of the frame (up to `size` bytes) when the block ended early.
  bool Complete(size_t size, size_t used);
  bool FindSyncPattern() const;

  ByteSource &source_;
  uint8_t *buffer_;
  size_t capacity_;
  size_t count_ = 0; // bytes held
  size_t blockEnd_ = 0; // bytes of the block itself; those after were read to complete a frame
  size_t pos_ = 0;   // next byte to decode
  bool done_ = true;
  bool lost_ = false;
};
