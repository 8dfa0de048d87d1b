#include "tests/support/thread_messages.h"

#include "platform/window.h"

namespace testsupport {

bool PumpMessages() {
  int exitCode = 0;
  return PumpThreadMessages(&exitCode);
}

void DiscardMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

} // namespace testsupport
