// Service discovery packets: the request, the answer, and the data elements
// of the attribute lists (a type and size header, then the value; sequences
// and alternatives hold further elements).
#include "platform/bluetooth/sdp_packets.h"

namespace {

constexpr uint8_t kSearchAttributeRequest = 0x06;
constexpr uint8_t kSearchAttributeResponse = 0x07;
constexpr uint8_t kErrorResponse = 0x01;
constexpr uint16_t kProtocolDescriptorList = 0x0004;
constexpr uint16_t kRfcommProtocol = 0x0003;
// The most attribute bytes asked for in one answer: the answer must fit in
// the smallest L2CAP packet every device accepts (672 bytes).
constexpr uint16_t kMaxAttributeBytes = 0x0200;

enum ElementType : uint8_t {
  kNil = 0,
  kUnsigned = 1,
  kUuid = 3,
  kSequence = 6,
  kAlternative = 7,
};

// One data element: its type and where its value lies in the buffer.
struct Element {
  uint8_t type = 0;
  const uint8_t *value = nullptr;
  size_t size = 0;
};

uint32_t BigEndian(const uint8_t *p, size_t n) {
  uint32_t v = 0;
  for (size_t i = 0; i < n; ++i)
    v = (v << 8) | p[i];
  return v;
}

// Reads the element at the start of [p, p + n). Returns the bytes it takes
// (header and value), or 0 when it does not fit or is not well formed.
size_t ReadElement(const uint8_t *p, size_t n, Element *e) {
  if (n < 1)
    return 0;
  e->type = p[0] >> 3;
  const uint8_t sizeIndex = p[0] & 7;
  size_t header = 1, size = 0;
  if (e->type == kNil) {
    if (sizeIndex != 0)
      return 0;
  } else if (sizeIndex <= 4) {
    size = size_t{1} << sizeIndex;
  } else {
    const size_t lengthBytes = size_t{1} << (sizeIndex - 5); // 1, 2 or 4
    if (n < 1 + lengthBytes)
      return 0;
    size = BigEndian(p + 1, lengthBytes);
    header += lengthBytes;
  }
  if (size > n - header)
    return 0;
  e->value = p + header;
  e->size = size;
  return header + size;
}

// The 16-bit form of a UUID element: 16-bit ones as they are, 32- and
// 128-bit ones when they are built on the Bluetooth base UUID; -1 otherwise.
long ShortUuid(const Element &e) {
  static const uint8_t kBaseTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                        0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};
  if (e.type != kUuid)
    return -1;
  if (e.size == 2)
    return static_cast<long>(BigEndian(e.value, 2));
  if (e.size == 4 && e.value[0] == 0 && e.value[1] == 0)
    return static_cast<long>(BigEndian(e.value + 2, 2));
  if (e.size == 16 && e.value[0] == 0 && e.value[1] == 0) {
    for (int i = 0; i < 12; ++i)
      if (e.value[4 + i] != kBaseTail[i])
        return -1;
    return static_cast<long>(BigEndian(e.value + 2, 2));
  }
  return -1;
}

// One protocol descriptor: a sequence of the protocol's UUID and its
// parameters. The channel when it is RFCOMM with a valid channel, else -1.
int RfcommChannelOfDescriptor(const Element &descriptor) {
  if (descriptor.type != kSequence)
    return -1;
  Element uuid, channel;
  size_t used = ReadElement(descriptor.value, descriptor.size, &uuid);
  if (used == 0 || ShortUuid(uuid) != kRfcommProtocol)
    return -1;
  if (ReadElement(descriptor.value + used, descriptor.size - used, &channel) == 0 ||
      channel.type != kUnsigned || channel.size != 1)
    return -1;
  const int c = channel.value[0];
  return c >= 1 && c <= 30 ? c : -1;
}

// A ProtocolDescriptorList: a sequence of descriptors, or an alternative of
// such sequences.
int RfcommChannelOfList(const Element &list, bool allowAlternative) {
  if (list.type == kAlternative && allowAlternative) {
    Element inner;
    for (size_t at = 0, used; at < list.size; at += used) {
      used = ReadElement(list.value + at, list.size - at, &inner);
      if (used == 0)
        return -1;
      int c = RfcommChannelOfList(inner, false);
      if (c > 0)
        return c;
    }
    return -1;
  }
  if (list.type != kSequence)
    return -1;
  Element descriptor;
  for (size_t at = 0, used; at < list.size; at += used) {
    used = ReadElement(list.value + at, list.size - at, &descriptor);
    if (used == 0)
      return -1;
    int c = RfcommChannelOfDescriptor(descriptor);
    if (c > 0)
      return c;
  }
  return -1;
}

// One record's attribute list: a sequence of attribute id, value pairs.
int RfcommChannelOfRecord(const Element &record) {
  if (record.type != kSequence)
    return -1;
  Element id, value;
  for (size_t at = 0, used; at < record.size; at += used) {
    used = ReadElement(record.value + at, record.size - at, &id);
    if (used == 0 || id.type != kUnsigned || id.size != 2)
      return -1;
    at += used;
    used = ReadElement(record.value + at, record.size - at, &value);
    if (used == 0)
      return -1;
    if (BigEndian(id.value, 2) == kProtocolDescriptorList)
      return RfcommChannelOfList(value, true);
  }
  return -1;
}

void PutBigEndian16(std::vector<uint8_t> *out, uint16_t v) {
  out->push_back(static_cast<uint8_t>(v >> 8));
  out->push_back(static_cast<uint8_t>(v));
}

} // namespace

bool BuildSdpAttributeSearch(uint16_t tid, uint16_t uuid16,
                             const std::vector<uint8_t> &continuation, std::vector<uint8_t> *out) {
  if (continuation.size() > kSdpMaxContinuation)
    return false;
  std::vector<uint8_t> params = {
      0x35, 0x03, 0x19, static_cast<uint8_t>(uuid16 >> 8), static_cast<uint8_t>(uuid16), // pattern
  };
  PutBigEndian16(&params, kMaxAttributeBytes);
  params.insert(params.end(), {0x35, 0x03, 0x09}); // the attribute ids: one
  PutBigEndian16(&params, kProtocolDescriptorList);
  params.push_back(static_cast<uint8_t>(continuation.size()));
  params.insert(params.end(), continuation.begin(), continuation.end());
  out->clear();
  out->push_back(kSearchAttributeRequest);
  PutBigEndian16(out, tid);
  PutBigEndian16(out, static_cast<uint16_t>(params.size()));
  out->insert(out->end(), params.begin(), params.end());
  return true;
}

SdpReply ParseSdpAttributeSearchReply(const uint8_t *pdu, size_t n, uint16_t tid,
                                      std::vector<uint8_t> *lists,
                                      std::vector<uint8_t> *continuation, uint16_t *errorCode) {
  if (!pdu || n < 5 || BigEndian(pdu + 1, 2) != tid || BigEndian(pdu + 3, 2) != n - 5)
    return SdpReply::Malformed;
  const uint8_t *params = pdu + 5;
  const size_t length = n - 5;
  if (pdu[0] == kErrorResponse) {
    if (length < 2)
      return SdpReply::Malformed;
    *errorCode = static_cast<uint16_t>(BigEndian(params, 2));
    return SdpReply::Error;
  }
  if (pdu[0] != kSearchAttributeResponse || length < 3)
    return SdpReply::Malformed;
  const size_t count = BigEndian(params, 2);
  // The byte count, the lists, and at least the continuation's length byte.
  if (count > length - 3)
    return SdpReply::Malformed;
  const size_t stateLength = params[2 + count];
  if (stateLength > kSdpMaxContinuation || 3 + count + stateLength != length)
    return SdpReply::Malformed;
  lists->insert(lists->end(), params + 2, params + 2 + count);
  continuation->assign(params + 3 + count, params + 3 + count + stateLength);
  return SdpReply::Part;
}

int RfcommChannelFromAttributeLists(const uint8_t *lists, size_t n) {
  Element all, record;
  if (!lists || ReadElement(lists, n, &all) != n || all.type != kSequence)
    return -1;
  for (size_t at = 0, used; at < all.size; at += used) {
    used = ReadElement(all.value + at, all.size - at, &record);
    if (used == 0)
      return -1;
    int c = RfcommChannelOfRecord(record);
    if (c > 0)
      return c;
  }
  return -1;
}
