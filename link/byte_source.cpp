// The keyboard's port as the frame decoder's byte source.
#include "link/byte_source.h"

#include "common/globals.h"
#include "platform/files.h"
#include "platform/threads.h"

#include <algorithm>

namespace {

class PortSource : public ByteSource {
public:
  size_t Read(uint8_t *out, size_t n, bool *lost) override {
    DWORD got = 0;
    if (!ReadFile(AppGlobals.portHandle.load(), out, static_cast<DWORD>(n), &got, nullptr)) {
      // The serial layer delivers the bytes received before a hang-up, then
      // fails every read with ERROR_READ_FAULT.
      if (GetLastError() == ERROR_READ_FAULT)
        *lost = true;
      return 0;
    }
    return std::min<size_t>(got, n);
  }
};

} // namespace

ByteSource &KeyboardPort() {
  static PortSource port;
  return port;
}
