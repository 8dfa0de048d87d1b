// The service discovery packets of the raw RFCOMM fallback, on canned bytes:
// the request as a device expects it, answers in one part and in several,
// the channel in the forms devices write it, and malformed or cut answers,
// each read from a buffer of exactly its own length (so that a read past it
// shows under the sanitizers).
#include "platform/bluetooth/sdp_packets.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes &p : parts)
    all.insert(all.end(), p.begin(), p.end());
  return all;
}
// A sequence (or, with header 0x3D, an alternative) with a 1-byte length.
Bytes Seq(std::initializer_list<Bytes> parts, uint8_t header = 0x35) {
  Bytes inner = Join(parts);
  return Join({{header, static_cast<uint8_t>(inner.size())}, inner});
}
Bytes Uuid16(uint16_t v) { return {0x19, static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}; }
Bytes Uuid32(uint16_t v) { return {0x1A, 0, 0, static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}; }
Bytes Uuid128(uint16_t v) {
  return {0x1C, 0,    0,    static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v), 0x00, 0x00, 0x10,
          0x00, 0x80, 0x00, 0x00,                        0x80,                    0x5F, 0x9B, 0x34, 0xFB};
}
Bytes AttributeId(uint16_t v) { return {0x09, static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}; }
Bytes Channel8(uint8_t c) { return {0x08, c}; }
// A ProtocolDescriptorList of L2CAP and of `protocol` with `channel`.
Bytes Descriptors(const Bytes &protocol, const Bytes &channel) {
  return Seq({Seq({Uuid16(0x0100)}), Seq({protocol, channel})});
}
// One record's attribute list: its handle, then the descriptor list.
Bytes Record(const Bytes &descriptors) {
  return Seq({AttributeId(0x0000), {0x0A, 0x00, 0x01, 0x00, 0x05}, AttributeId(0x0004), descriptors});
}
Bytes Record(uint8_t channel) { return Record(Descriptors(Uuid16(0x0003), Channel8(channel))); }

// The attribute lists of the given records, with a 2-byte length.
Bytes Lists(std::initializer_list<Bytes> records) {
  Bytes inner = Join(records);
  return Join({{0x36, static_cast<uint8_t>(inner.size() >> 8), static_cast<uint8_t>(inner.size())},
               inner});
}

// An answer carrying `part` of the lists and a continuation state.
Bytes Answer(uint16_t tid, const Bytes &part, const Bytes &continuation) {
  size_t params = 2 + part.size() + 1 + continuation.size();
  return Join({{0x07, static_cast<uint8_t>(tid >> 8), static_cast<uint8_t>(tid),
                static_cast<uint8_t>(params >> 8), static_cast<uint8_t>(params),
                static_cast<uint8_t>(part.size() >> 8), static_cast<uint8_t>(part.size())},
               part,
               {static_cast<uint8_t>(continuation.size())},
               continuation});
}

SdpReply Parse(const Bytes &pdu, uint16_t tid, Bytes *lists, Bytes *continuation) {
  uint16_t code = 0;
  // A copy of exactly the answer's length.
  std::unique_ptr<uint8_t[]> exact(new uint8_t[pdu.size() ? pdu.size() : 1]);
  std::copy(pdu.begin(), pdu.end(), exact.get());
  return ParseSdpAttributeSearchReply(exact.get(), pdu.size(), tid, lists, continuation, &code);
}

int Channel(const Bytes &lists) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[lists.size() ? lists.size() : 1]);
  std::copy(lists.begin(), lists.end(), exact.get());
  return RfcommChannelFromAttributeLists(exact.get(), lists.size());
}

TEST(SdpPackets, TheRequestAsksForTheSerialPortsProtocolDescriptors) {
  Bytes request;
  ASSERT_TRUE(BuildSdpAttributeSearch(0x0102, kSerialPortServiceClass, {}, &request));
  EXPECT_EQ(request, (Bytes{0x06, 0x01, 0x02, 0x00, 0x0D, 0x35, 0x03, 0x19, 0x11, 0x01, 0x02, 0x00,
                            0x35, 0x03, 0x09, 0x00, 0x04, 0x00}));
  ASSERT_TRUE(BuildSdpAttributeSearch(3, kSerialPortServiceClass, {0xAA, 0xBB}, &request));
  EXPECT_EQ(request.size(), 20u);
  EXPECT_EQ(request[4], 0x0F); // the parameters grew by the state and its length
  EXPECT_EQ(Bytes(request.end() - 3, request.end()), (Bytes{0x02, 0xAA, 0xBB}));
  EXPECT_FALSE(BuildSdpAttributeSearch(4, kSerialPortServiceClass, Bytes(17, 1), &request));
}

TEST(SdpPackets, TheChannelIsFoundInOneOrSeveralPartsAndInEveryUuidForm) {
  // One part.
  Bytes lists, continuation;
  Bytes all = Lists({Record(5)});
  ASSERT_EQ(Parse(Answer(1, all, {}), 1, &lists, &continuation), SdpReply::Part);
  EXPECT_TRUE(continuation.empty());
  EXPECT_EQ(lists, all);
  EXPECT_EQ(Channel(lists), 5);

  // Two parts tied by a continuation state; the first record has no RFCOMM.
  Bytes l2capOnly = Record(Seq({Seq({Uuid16(0x0100), {0x09, 0x10, 0x01}})}));
  all = Lists({l2capOnly, Record(12)});
  lists.clear();
  Bytes first(all.begin(), all.begin() + 9), rest(all.begin() + 9, all.end());
  ASSERT_EQ(Parse(Answer(1, first, {0x01, 0x02, 0x03}), 1, &lists, &continuation), SdpReply::Part);
  EXPECT_EQ(continuation, (Bytes{0x01, 0x02, 0x03}));
  EXPECT_EQ(Channel(lists), -1) << "half a list has no channel";
  ASSERT_EQ(Parse(Answer(2, rest, {}), 2, &lists, &continuation), SdpReply::Part);
  EXPECT_TRUE(continuation.empty());
  EXPECT_EQ(Channel(lists), 12);

  // RFCOMM written as a 128-bit UUID, and as a 32-bit one; another 128-bit
  // UUID is not RFCOMM.
  EXPECT_EQ(Channel(Lists({Record(Descriptors(Uuid128(0x0003), Channel8(7)))})), 7);
  EXPECT_EQ(Channel(Lists({Record(Descriptors(Uuid32(0x0003), Channel8(30)))})), 30);
  Bytes notBased = Uuid128(0x0003);
  notBased[16] = 0xFC;
  EXPECT_EQ(Channel(Lists({Record(Descriptors(notBased, Channel8(7)))})), -1);
  // An alternative of two descriptor lists, the second with RFCOMM.
  Bytes alternative = Seq({Seq({Seq({Uuid16(0x0100)})}), Descriptors(Uuid16(0x0003), Channel8(9))}, 0x3D);
  EXPECT_EQ(Channel(Lists({Record(alternative)})), 9);
}

TEST(SdpPackets, ErrorsAndMalformedOrCutAnswersAreRefusedWithinTheirBytes) {
  Bytes lists, continuation;
  const Bytes good = Answer(7, Lists({Record(5)}), {});
  ASSERT_EQ(Parse(good, 7, &lists, &continuation), SdpReply::Part);

  // The server's error answer.
  uint16_t code = 0;
  const uint8_t error[] = {0x01, 0x00, 0x07, 0x00, 0x02, 0x00, 0x03};
  EXPECT_EQ(ParseSdpAttributeSearchReply(error, sizeof error, 7, &lists, &continuation, &code),
            SdpReply::Error);
  EXPECT_EQ(code, 3);

  // Every cut of a good answer, and of a good list.
  for (size_t n = 0; n < good.size(); ++n)
    EXPECT_EQ(Parse(Bytes(good.begin(), good.begin() + static_cast<long>(n)), 7, &lists,
                    &continuation),
              SdpReply::Malformed)
        << "cut at " << n;
  const Bytes list = Lists({Record(5)});
  for (size_t n = 0; n < list.size(); ++n)
    EXPECT_EQ(Channel(Bytes(list.begin(), list.begin() + static_cast<long>(n))), -1)
        << "cut at " << n;

  // Not this request's answer, or lying about its lengths.
  EXPECT_EQ(Parse(good, 8, &lists, &continuation), SdpReply::Malformed);
  Bytes wrongPdu = good;
  wrongPdu[0] = 0x05;
  EXPECT_EQ(Parse(wrongPdu, 7, &lists, &continuation), SdpReply::Malformed);
  Bytes bigCount = good;
  bigCount[6] = static_cast<uint8_t>(bigCount[6] + 1);
  EXPECT_EQ(Parse(bigCount, 7, &lists, &continuation), SdpReply::Malformed);
  Bytes longState = Answer(7, Lists({Record(5)}), Bytes(17, 0x55));
  EXPECT_EQ(Parse(longState, 7, &lists, &continuation), SdpReply::Malformed);
  Bytes trailing = good;
  trailing.push_back(0);
  EXPECT_EQ(Parse(trailing, 7, &lists, &continuation), SdpReply::Malformed);

  // Elements that claim more than there is, at every level; channels out of
  // range or of the wrong size.
  EXPECT_EQ(Channel({0x37, 0xFF, 0xFF, 0xFF, 0xFF, 0x35, 0x00}), -1);
  EXPECT_EQ(Channel({0x35, 0x03, 0x35, 0x10, 0x09}), -1);
  Bytes claims = Descriptors(Uuid16(0x0003), Channel8(5));
  claims[1] = 0x7F; // the descriptor list claims 127 bytes
  EXPECT_EQ(Channel(Lists({Record(claims)})), -1);
  EXPECT_EQ(Channel(Lists({Record(0)})), -1);
  EXPECT_EQ(Channel(Lists({Record(31)})), -1);
  EXPECT_EQ(Channel(Lists({Record(Descriptors(Uuid16(0x0003), {0x09, 0x00, 0x05}))})), -1)
      << "a 16-bit channel";
  // An alternative inside an alternative is no descriptor list.
  Bytes nested = Seq({Seq({Descriptors(Uuid16(0x0003), Channel8(9))}, 0x3D)}, 0x3D);
  EXPECT_EQ(Channel(Lists({Record(nested)})), -1);
  EXPECT_EQ(RfcommChannelFromAttributeLists(nullptr, 0), -1);
}

} // namespace
