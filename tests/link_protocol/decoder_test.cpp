// The frame decoder fed from memory: how it cuts a block into frames,
// completes a frame that a block cuts short and waits for the sync pattern,
// all without acting on anything; and ReceiveBlock reporting a block's
// marker together with a lost port, from memory and from a real port whose
// far side hangs up.
#include "tests/link_protocol/link_test_support.h"

#include "common/messages.h"
#include "link/frame_actions.h"
#include "link/frame_decoder.h"

#include <gmock/gmock.h>

namespace linktest {
namespace {

using ::testing::ElementsAre;

// "Key 41", "Identity F9 12 ..": a frame's kind and bytes.
std::string Describe(const Frame &f) {
  static const char *const names[] = {
      "Key",         "Status",      "Sync",        "Identity",           "Heartbeat",
      "Point",       "Values",      "Calibration", "Failure",            "FF",
      "IdRefused",   "IdIncomplete", "ValuesRefused", "ValuesIncomplete", "StatusRefused"};
  return std::string(names[static_cast<int>(f.kind)]) + " " + Hex(Bytes(f.bytes, f.bytes + f.size));
}

struct Decoded {
  bool started = false;
  std::vector<std::string> frames;
};

Decoded DecodeBlock(FrameDecoder &d, int blockSize, bool *synchronised) {
  Decoded out;
  out.started = d.StartBlock(blockSize, synchronised);
  Frame f;
  while (out.started && d.NextFrame(&f))
    out.frames.push_back(Describe(f));
  return out;
}

TEST(FrameDecoder, CutsABlockIntoFramesInStreamOrder) {
  BufferSource source({ParseHex("41 FA 80 FB FD 42 FE FF F9 43 FC 44 0A 05 08 45")});
  uint8_t buffer[64];
  FrameDecoder d(source, buffer, sizeof buffer);
  bool synchronised = true;
  // Markers of frames that are not taken now are dropped alone: the bytes
  // after them are keys. A status frame ends the block, its missing bytes 0.
  Decoded got = DecodeBlock(d, 16, &synchronised);
  EXPECT_THAT(got.frames,
              ElementsAre("Key 41", "Heartbeat FA", "Point FB", "Calibration FD", "Key 42",
                          "Failure FE", "FF FF", "IdRefused F9", "Key 43", "ValuesRefused FC",
                          "Key 44", "Status 0A 05 08 45 00 00"));
  EXPECT_FALSE(d.SourceLost());

  // Taken, the frames swallow their data bytes, whatever their values.
  BufferSource frames({ParseHex("F9 0A 0A 0A 0A 0A 0A 0A 0A 0A 0A 00 FC 41 A5 43 44 45 46 00 47")});
  FrameDecoder taking(frames, buffer, sizeof buffer);
  taking.takeIdentity = taking.takeCalibrationValues = true;
  EXPECT_THAT(DecodeBlock(taking, 21, &synchronised).frames,
              ElementsAre("Identity F9 0A 0A 0A 0A 0A 0A 0A 0A 0A 0A 00",
                          "Values FC 41 A5 43 44 45 46 00", "Key 47"));
}

TEST(FrameDecoder, CompletesAFrameTheBlockCutsShort) {
  BufferSource source({ParseHex("41 F9 12 34"), ParseHex("56 78 00 02 23 8C 00 07 00 42")});
  uint8_t buffer[64];
  FrameDecoder d(source, buffer, sizeof buffer);
  d.takeIdentity = true;
  bool synchronised = true;
  // The tail comes with one more read and is not decoded as keys; the byte
  // after the frame is left for the next block.
  EXPECT_THAT(DecodeBlock(d, 12, &synchronised).frames,
              ElementsAre("Key 41", "Identity F9 12 34 56 78 00 02 23 8C 00 07 00"));
  EXPECT_EQ(source.reads, 2);
  EXPECT_THAT(DecodeBlock(d, 12, &synchronised).frames, ElementsAre("Key 42"));

  // A tail that never comes: the frame is not taken, its bytes not typed.
  BufferSource cut({ParseHex("FC 01 02 03")}, true);
  FrameDecoder c(cut, buffer, sizeof buffer);
  c.takeCalibrationValues = true;
  EXPECT_THAT(DecodeBlock(c, 12, &synchronised).frames, ElementsAre("ValuesIncomplete FC 01 02 03"));
  EXPECT_TRUE(c.SourceLost());
}

TEST(FrameDecoder, BlocksAreDroppedUntilOneHoldsTheSyncPattern) {
  BufferSource source({ParseHex("41 A5"), ParseHex("5A 42"), ParseHex("43 A5 44 5A 45")});
  uint8_t buffer[64];
  FrameDecoder d(source, buffer, sizeof buffer);
  bool synchronised = false;
  EXPECT_FALSE(DecodeBlock(d, 12, &synchronised).started);
  // A pattern split across two blocks does not count.
  EXPECT_FALSE(DecodeBlock(d, 12, &synchronised).started);
  EXPECT_FALSE(synchronised);
  // Other bytes may stand between its two bytes; the whole block is decoded.
  Decoded got = DecodeBlock(d, 12, &synchronised);
  EXPECT_TRUE(synchronised);
  EXPECT_THAT(got.frames, ElementsAre("Key 43", "Sync A5"));
}

// Typing (1-byte blocks) until the source has nothing left.
std::vector<std::string> DecodeTyping(const Bytes &stream) {
  BufferSource source({stream});
  uint8_t buffer[64];
  FrameDecoder d(source, buffer, sizeof buffer);
  bool synchronised = true;
  std::vector<std::string> frames;
  for (Decoded got; (got = DecodeBlock(d, 1, &synchronised)).started;)
    frames.insert(frames.end(), got.frames.begin(), got.frames.end());
  return frames;
}

TEST(FrameDecoder, AStrayStatusMarkerAmongKeysCostsOnlyWhatCannotBeToldApart) {
  // A model of the stream while typing: key bytes (Shift is 02, Backspace
  // 08), heartbeats, and status frames as the keyboard sends them: battery
  // and reference any byte, a code of 0, 1, 2, 4 or 8, two spare bytes.
  const std::vector<Bytes> items = {
      {0x02}, {0x48}, {0x45}, {0x4C}, {0x4C}, {0x4F}, ParseHex("0A B4 00 A8 00 00"),
      {0x20}, {0xFA}, {0x02}, {0x57}, {0x08}, {0x08}, ParseHex("0A 64 08 00 00 00"),
      {0x31}, {0x0D}, ParseHex("0A 0A 04 0A 07 0A"), {0x02}, {0x33}, {0x00},
      ParseHex("0A 10 02 FF 00 00"), {0x34}};
  auto isCode = [](uint8_t b) { return b == 0 || b == 1 || b == 2 || b == 4 || b == 8; };
  Bytes stream;
  std::vector<size_t> starts; // where each item starts, and the end
  std::vector<std::string> expected;
  for (const Bytes &item : items) {
    starts.push_back(stream.size());
    stream.insert(stream.end(), item.begin(), item.end());
    const char *kind = item.size() > 1 ? "Status " : item[0] == 0xFA ? "Heartbeat " : "Key ";
    expected.push_back(kind + Hex(item));
  }
  starts.push_back(stream.size());
  // Without a stray byte, every key and frame comes out as sent.
  ASSERT_EQ(DecodeTyping(stream), expected);

  // A stray 0x0A between any two items. Only the byte at a frame's code
  // position can show that it is no frame: when it does, nothing but the
  // stray byte is dropped; when it cannot (a status code there, or nothing
  // more came), the five bytes after it are taken as a frame, and no more.
  int toldApart = 0, alike = 0;
  for (size_t i = 0; i < starts.size(); ++i) {
    const size_t at = starts[i];
    Bytes strayed(stream);
    strayed.insert(strayed.begin() + static_cast<long>(at), kStatusMarker);
    std::vector<std::string> got = DecodeTyping(strayed);
    std::vector<std::string> want(expected.begin(), expected.begin() + static_cast<long>(i));
    if (at + 1 < stream.size() && !isCode(stream[at + 1])) {
      ++toldApart;
      want.push_back("StatusRefused 0A");
      want.insert(want.end(), expected.begin() + static_cast<long>(i), expected.end());
    } else {
      ++alike;
      Bytes frame(stream.begin() + static_cast<long>(at),
                  stream.begin() + static_cast<long>(std::min(at + 5, stream.size())));
      frame.insert(frame.begin(), kStatusMarker);
      frame.resize(kStatusFrameSize);
      want.push_back("Status " + Hex(frame));
      if (at + 5 < stream.size()) {
        Bytes after(stream.begin() + static_cast<long>(at + 5), stream.end());
        std::vector<std::string> rest = DecodeTyping(after);
        want.insert(want.end(), rest.begin(), rest.end());
      }
    }
    EXPECT_EQ(got, want) << "stray 0A before byte " << at;
  }
  EXPECT_GT(toldApart, 10);
  EXPECT_GT(alike, 3);
}

TEST(FrameDecoder, ABlockNeverOutgrowsTheBuffer) {
  // A block as large as the buffer leaves room to complete a frame at its end.
  Bytes stream(40, 0x41);
  stream.push_back(0xF9);
  stream.insert(stream.end(), 11, 0x01);
  BufferSource source({stream});
  uint8_t small[32];
  FrameDecoder d(source, small, sizeof small);
  d.takeIdentity = true;
  bool synchronised = true;
  Decoded got = DecodeBlock(d, 1000, &synchronised);
  EXPECT_EQ(got.frames.size(), sizeof small - kLongestFrame);
}

class Receive : public LinkTest {};

TEST_F(Receive, ABlockTellsItsMarkerAndALostPortTogether) {
  AppGlobals.linkSynchronised = 1;
  AppGlobals.linkState.store(LINK_TYPING);
  BufferSource source({ParseHex("FA 41"), ParseHex("0A 55")}, true);
  BlockResult r = ReceiveBlock(source, 12);
  EXPECT_EQ(r.marker, RX_HEARTBEAT);
  EXPECT_FALSE(r.portLost);
  EXPECT_THAT(TakeScancodes(), ElementsAre(0x41));
  // The status frame's completion finds the port gone: the frame is still
  // handled, and the block says both.
  r = ReceiveBlock(source, 12);
  EXPECT_EQ(r.marker, RX_STATUS);
  EXPECT_TRUE(r.portLost);
  EXPECT_FLOAT_EQ(AppGlobals.batteryLevel.load(), 85.0f);
  r = ReceiveBlock(source, 1);
  EXPECT_EQ(r.marker, RX_NOTHING);
  EXPECT_TRUE(r.portLost);
}

TEST_F(Receive, AStatusFrameWithAnyCodeIsTakenOnlyInTheHandshake) {
  // The handshake waits for a status frame: whatever its code, it is one.
  AppGlobals.linkSynchronised = 1;
  AppGlobals.linkState.store(LINK_HANDSHAKE);
  BufferSource handshake({ParseHex("0A B4 10 A8 41 42")});
  EXPECT_EQ(ReceiveBlock(handshake, 12).marker, RX_STATUS);
  EXPECT_FLOAT_EQ(AppGlobals.batteryLevel.load(), 180.0f);
  EXPECT_THAT(TakeScancodes(), ElementsAre());

  // While typing, the same bytes are a stray marker and keys.
  AppGlobals.batteryLevel.store(0);
  AppGlobals.linkState.store(LINK_TYPING);
  BufferSource typing({ParseHex("0A B4 10 A8 41 42")});
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(ReceiveBlock(typing, 1).marker, RX_NOTHING);
  EXPECT_THAT(TakeScancodes(), ElementsAre(0x10, 0x41, 0x42));
  EXPECT_FLOAT_EQ(AppGlobals.batteryLevel.load(), 0.0f);
}

// The typing loop reads a block of one byte at a time; the port takes in
// what has arrived ahead of it. A burst so taken in (keys, a status frame
// whose bytes straddle two of the port's reads, a stray status marker among
// keys, heartbeats) decodes exactly as the same bytes read as asked for.
TEST_F(Receive, ABurstThePortTakesInAheadDecodesAsReadWhenAskedFor) {
  constexpr uint8_t kLast = 0x7F; // ends the stream: no other byte is one
  Bytes stream;
  for (int i = 0; i < 252; ++i)
    stream.push_back(static_cast<uint8_t>(0x41 + i % 26));
  for (uint8_t b : ParseHex("0A B4 00 A8 00 00 42 FA 0A 55 10 43 FA 44"))
    stream.push_back(b);
  for (int i = 0; i < 60; ++i)
    stream.push_back(static_cast<uint8_t>(0x30 + i % 10));
  stream.push_back(kLast);

  struct Outcome {
    std::vector<int> markers, scancodes;
    float battery = 0;
  };
  auto decode = [&](auto receive) {
    AppGlobals.linkSynchronised = 1;
    AppGlobals.linkState.store(LINK_TYPING);
    AppGlobals.batteryLevel.store(0);
    Outcome out;
    for (int call = 0; call < 1000 && (out.scancodes.empty() || out.scancodes.back() != kLast);
         ++call) {
      if (int marker = receive(); marker != RX_NOTHING)
        out.markers.push_back(marker);
      for (int code : TakeScancodes())
        out.scancodes.push_back(code);
    }
    out.battery = AppGlobals.batteryLevel.load();
    return out;
  };

  // Every byte there at once: each read gets exactly what it asks for.
  BufferSource source({stream});
  const Outcome want = decode([&] { return ReceiveBlock(source, 1).marker; });
  ASSERT_FALSE(want.scancodes.empty());
  ASSERT_EQ(want.scancodes.back(), kLast);
  EXPECT_THAT(want.markers, ElementsAre(RX_STATUS, RX_HEARTBEAT, RX_HEARTBEAT));

  OpenPort();
  keyboard->Send(stream);
  const Outcome got = decode([] { return ReceiveBlock(1).marker; });
  EXPECT_EQ(got.markers, want.markers);
  EXPECT_EQ(got.scancodes, want.scancodes);
  EXPECT_FLOAT_EQ(got.battery, 180.0f);
  EXPECT_FLOAT_EQ(want.battery, 180.0f);
}

TEST_F(Receive, AHungUpPortIsLostAndNoPortIsNot) {
  OpenPort();
  AppGlobals.linkSynchronised = 1;
  AppGlobals.linkState.store(LINK_TYPING);
  keyboard->Send({0x41});
  BlockResult r = ReceiveBlock(1);
  EXPECT_FALSE(r.portLost);
  EXPECT_THAT(TakeScancodes(), ElementsAre(0x41));
  keyboard->HangUp();
  r = ReceiveBlock(12);
  EXPECT_EQ(r.marker, RX_NOTHING);
  EXPECT_TRUE(r.portLost);
  // Without a port nothing is read and nothing is lost.
  ClosePort();
  EXPECT_FALSE(ReceiveBlock(1).portLost);
}

} // namespace
} // namespace linktest
