// Test support for the link: a fresh AppGlobals with its own settings
// database and devices folder, a pseudo-terminal offered as COM3 and opened
// through CreateFileW with the program's time-outs, the trace lines, the
// posted messages and the message boxes of each test.
#pragma once

#include "common/globals.h"
#include "link/byte_source.h"
#include "platform/serial.h"
#include "platform/win32.h"
#include "tests/support/pty_port.h"
#include "tests/support/temp_root.h"
#include "tests/support/trace_lines.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace linktest {

using Bytes = std::vector<uint8_t>;
Bytes ParseHex(const std::string &text); // "A5 5A fa" -> {0xA5, 0x5A, 0xFA}
std::string Hex(const Bytes &bytes);     // "A5 5A FA"

// Bytes from memory for the frame decoder. Each chunk is what one read can
// get at most, as bytes that arrive after a read's time-out wait for the
// next read; once the chunks are used up, reads return nothing, or report
// the source lost when `thenLost`.
class BufferSource : public ByteSource {
public:
  explicit BufferSource(std::vector<Bytes> chunks, bool thenLost = false)
      : chunks_(std::move(chunks)), thenLost_(thenLost) {}
  size_t Read(uint8_t *out, size_t n, bool *lost) override;
  int reads = 0; // calls so far

private:
  std::vector<Bytes> chunks_;
  size_t chunk_ = 0, offset_ = 0;
  bool thenLost_;
};

// The far side of a port: the master of a pseudo-terminal whose slave is the
// link COM<index> in `devicesDir` (the shared PtyPort, with the test failing
// when the port cannot be made or a write is cut short).
class FakeKeyboard {
public:
  FakeKeyboard(const std::string &devicesDir, int index);
  void Send(const Bytes &bytes);
  // Everything the program wrote so far (waits up to waitMs for at least
  // `atLeast` bytes).
  Bytes Received(size_t atLeast = 0, int waitMs = 0) { return pty_.Received(atLeast, waitMs); }
  // Closes the master: the port's other side goes away.
  void HangUp() { pty_.HangUp(); }
  // The slave's device path.
  const std::string &slave() const { return pty_.slave(); }

private:
  testsupport::PtyPort pty_;
};

class LinkTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  // Opens COM3: through CreateFileW with the program's time-outs
  // (120/200/10, write 10/100) into AppGlobals.portHandle.
  HANDLE OpenPort(int index = 3);
  void ClosePort();
  // Posted messages to the three test windows since the last call, as
  // "main WM_STATUS_TEXT_CHANGED" etc. (timers not included).
  std::vector<std::string> TakePosted();
  // "Processing scancode = N" lines since the last call, as the numbers.
  std::vector<int> TakeScancodes();
  int CountTrace(const std::string &line) const;

  // Every trace line of the test (from SetUp to TearDown).
  std::unique_ptr<testtrace::TraceLines> traces;
  std::unique_ptr<testsupport::TempRoot> tempRoot;
  std::string root;
  std::string devices;
  FakeKeyboard *keyboard = nullptr;
  std::vector<std::string> boxes; // "text|caption|type"
  HWND mainWnd = nullptr, typingWnd = nullptr, calibrationWnd = nullptr;

private:
  size_t scancodeMark_ = 0;
};

double MsSince(std::chrono::steady_clock::time_point t);

} // namespace linktest
