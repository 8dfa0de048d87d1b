// A Bluetooth device's service discovery answer, as the raw RFCOMM fallback
// reads it: the input is one answer PDU, taken as the answer to the request
// whose transaction id it names (so well-formed answers get past that
// check), and its attribute lists are searched for the serial port's
// channel; the input is searched as attribute lists on its own too.
#include "tests/fuzz/fuzz_entries.h"
#include "tests/fuzz/fuzz_env.h"

#include "platform/bluetooth/sdp_packets.h"

#include <vector>

int FuzzSdpAnswer(const uint8_t *data, size_t size) {
  const uint16_t tid = size >= 3 ? static_cast<uint16_t>(data[1] << 8 | data[2]) : 0;
  std::vector<uint8_t> lists, continuation;
  uint16_t code = 0;
  SdpReply reply = ParseSdpAttributeSearchReply(data, size, tid, &lists, &continuation, &code);
  fuzz::Require(continuation.size() <= kSdpMaxContinuation, "the continuation state is bounded");
  fuzz::Require(lists.size() <= size, "the lists come from the answer");
  if (reply == SdpReply::Part) {
    int channel = RfcommChannelFromAttributeLists(lists.data(), lists.size());
    fuzz::Require(channel == -1 || (channel >= 1 && channel <= 30), "a channel is 1 to 30");
  }
  int channel = RfcommChannelFromAttributeLists(data, size);
  fuzz::Require(channel == -1 || (channel >= 1 && channel <= 30), "a channel is 1 to 30");
  return 0;
}
