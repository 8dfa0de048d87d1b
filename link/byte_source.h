// Where the frame decoder's bytes come from: the keyboard's port in the
// program (KeyboardPort), a buffer in tests.
#pragma once

#include <cstddef>
#include <cstdint>

class ByteSource {
public:
  virtual ~ByteSource() = default;
  // Reads up to n bytes into out (owned by the caller), waiting no longer
  // than the source's own time-outs allow. Returns how many bytes were read:
  // 0 when none came in time or the source has gone. Sets *lost (and never
  // clears it) when the source has gone for good: every later read returns
  // 0 at once. Bytes that a read has taken in before the source went are
  // returned by that read (without *lost); the next read reports the loss.
  virtual size_t Read(uint8_t *out, size_t n, bool *lost) = 0;
};

// The keyboard's port: one ReadFile on AppGlobals.portHandle per read, with
// the port's time-outs. The port is gone when ReadFile fails with
// ERROR_READ_FAULT (its far side hung up); any other failure (no port open)
// reads nothing and is not a loss. Reader thread; the object is static.
ByteSource &KeyboardPort();
