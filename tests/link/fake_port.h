// A pseudo-terminal offered as COMn in the devices folder: the program opens
// "COMn:" as usual, the test reads the packets and writes the keyboard's
// bytes on the other side. The slave stays open here too, so the program
// closing the port is no hang-up.
#pragma once

#include "tests/support/pty_port.h"

#include <cstdint>
#include <string>
#include <vector>

namespace linktest {

class FakePort {
public:
  FakePort(const std::string &devices, int index) : pty_(true) {
    offered_ = pty_.ok() && pty_.OfferAs(devices, index);
  }
  bool ok() const { return offered_; }
  void Write(const std::vector<uint8_t> &bytes) { pty_.Send(bytes); }
  // Everything the program wrote so far (until 20 ms pass without a byte).
  std::vector<uint8_t> Read() { return pty_.ReceivedUntilQuiet(20); }
  // Kinds (byte 4) of the 12-byte packets written so far.
  std::vector<int> PacketKinds() {
    std::vector<uint8_t> bytes = Read();
    std::vector<int> kinds;
    for (size_t i = 0; i + 12 <= bytes.size(); i += 12)
      kinds.push_back(bytes[i + 4] == 1 ? 100 + bytes[i + 5] : bytes[i + 4]);
    return kinds;
  }

private:
  testsupport::PtyPort pty_;
  bool offered_ = false;
};

} // namespace linktest
