// The few service discovery protocol packets the raw RFCOMM fallback needs:
// one ServiceSearchAttributeRequest for the serial port service class
// (UUID 0x1101) asking for its ProtocolDescriptorList (attribute 0x0004),
// its answer, possibly in parts tied by a continuation state, and the
// RFCOMM channel read from the answer. Pure functions on byte buffers: every
// read is bounded by the length given, and malformed input is refused, never
// read past.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr uint16_t kSerialPortServiceClass = 0x1101;
constexpr size_t kSdpMaxContinuation = 16;

// Writes the request into *out (replacing its contents): transaction id tid,
// service class uuid16, and the continuation state of the previous answer
// (empty for the first request; at most kSdpMaxContinuation bytes). Returns
// false when the continuation state is too long.
bool BuildSdpAttributeSearch(uint16_t tid, uint16_t uuid16,
                             const std::vector<uint8_t> &continuation, std::vector<uint8_t> *out);

enum class SdpReply {
  Part,      // a valid answer: its bytes appended to *lists, *continuation set
             // (empty when this was the last part)
  Error,     // the server answered with an error PDU (*errorCode set)
  Malformed, // not an answer to this request, or not well formed
};

// Reads one answer of n bytes to the request with transaction id tid.
SdpReply ParseSdpAttributeSearchReply(const uint8_t *pdu, size_t n, uint16_t tid,
                                      std::vector<uint8_t> *lists,
                                      std::vector<uint8_t> *continuation, uint16_t *errorCode);

// The RFCOMM channel (1 to 30) of the first service record in the complete
// attribute lists whose ProtocolDescriptorList names RFCOMM with a channel;
// -1 when none does or the lists are not well formed.
int RfcommChannelFromAttributeLists(const uint8_t *lists, size_t n);
