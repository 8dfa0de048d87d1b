// What a typing backend (xtest, uinput) does, below the three calls: press or
// release a virtual key, type a character, end. MakeKeySinkOps turns such a
// backend into the InjectOps table, so that the meaning of the calls (see
// platform/inject.h) is decided once, here.
#pragma once

#include "platform/inject.h"

#include <cstdint>
#include <vector>

class KeySink {
public:
  virtual ~KeySink() = default;
  // Press (down) or release of virtual key vk.
  virtual void Key(BYTE vk, bool down) = 0;
  // Types the characters (Unicode code points) in order. Returns false when
  // the backend is closed or could type none of them.
  virtual bool Type(const std::vector<uint32_t> &codePoints) = 0;
  // The table's close (see InjectOps::close); nothing by default.
  virtual void Close() {}
  // The table's flush (see InjectOps::flush): sends a key press held back
  // for its release. A backend that sends every key at once needs none.
  virtual void SendHeldBack() {}
  // The table's linkChanged (see InjectOps::linkChanged); nothing by default.
  virtual void LinkChanged(bool) {}
};

// Fills ops so that its calls, close among them, reach sink (which must
// outlive the table). The name is not copied: a literal is expected.
void MakeKeySinkOps(InjectOps &ops, const char *name, KeySink *sink);

// The code points of count UTF-16 units: a surrogate pair becomes one code
// point, a lone surrogate is skipped, a unit of 0 is skipped, and a value
// above 0xFFFF that is a valid code point is taken as it is.
std::vector<uint32_t> CodePointsFromUnits(const UINT *units, UINT count);
// The same into out (cleared first), whose storage is reused.
void AppendCodePoints(const UINT *units, UINT count, std::vector<uint32_t> &out);
