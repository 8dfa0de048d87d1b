// The header check of BMP pictures: sound headers pass, and every field that
// could lead the decoder astray (mark, data offset, info header size, width,
// height) is refused at its limits, whatever value it holds.
#include "platform/core/bmp_header.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

void PutLe32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A file of `size` bytes with a 40-byte info header, pixel data at 54.
std::vector<uint8_t> Picture(size_t size = 70, int32_t width = 4, int32_t height = 4) {
  std::vector<uint8_t> b(size, 0);
  b[0] = 'B';
  b[1] = 'M';
  PutLe32(b, 2, static_cast<uint32_t>(size));
  PutLe32(b, 10, 54);
  PutLe32(b, 14, 40);
  PutLe32(b, 18, static_cast<uint32_t>(width));
  PutLe32(b, 22, static_cast<uint32_t>(height));
  return b;
}

bool Sound(const std::vector<uint8_t> &b) { return BmpHeadersSound(b.data(), b.size()); }

TEST(BmpHeader, TheLargeHeaderSizeFoundByFuzzingIsRefused) {
  const uint8_t head[] = {0x42, 0x4D, 0x3C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                          0x00, 0x1E, 0x00, 0x00, 0x00, 0xF5, 0xFF, 0xFF, 0x7F,
                          0x04, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00};
  std::vector<uint8_t> b(head, head + sizeof head);
  b.resize(60, 0);
  EXPECT_FALSE(Sound(b));
  // Every header size whose end would pass the largest 32-bit number.
  for (uint32_t size : {0x7FFFFFF2u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    PutLe32(b, 14, size);
    EXPECT_FALSE(Sound(b)) << size;
  }
}

TEST(BmpHeader, SoundHeadersPassAndTheInfoHeaderMayEndAtTheFileEnd) {
  EXPECT_TRUE(Sound(Picture()));
  EXPECT_TRUE(Sound(Picture(70, 4, -4))); // top-down
  EXPECT_TRUE(Sound(Picture(70, kBmpMaxSide, kBmpMaxSide)));
  std::vector<uint8_t> b = Picture(60);
  PutLe32(b, 14, 46); // header ends at byte 60, the end of the file
  EXPECT_TRUE(Sound(b));
  PutLe32(b, 14, 47);
  EXPECT_FALSE(Sound(b));
  // A 12-byte core header has no width check of its own.
  PutLe32(b, 14, 12);
  PutLe32(b, 18, 0);
  EXPECT_TRUE(Sound(b));
}

TEST(BmpHeader, MarkOffsetAndSizesOutOfRangeAreRefused) {
  EXPECT_FALSE(BmpHeadersSound(nullptr, 70));
  std::vector<uint8_t> b = Picture();
  EXPECT_FALSE(BmpHeadersSound(b.data(), 25));
  b[1] = 'A';
  EXPECT_FALSE(Sound(b));

  for (uint32_t offset : {0u, 14u, 70u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    b = Picture();
    PutLe32(b, 10, offset);
    EXPECT_FALSE(Sound(b)) << offset;
  }
  for (uint32_t header : {0u, 11u, 0x80000000u, 0xFFFFFFFFu}) {
    b = Picture();
    PutLe32(b, 14, header);
    EXPECT_FALSE(Sound(b)) << header;
  }
  for (auto [w, h] : {std::pair{0, 4}, {-1, 4}, {kBmpMaxSide + 1, 4}, {INT32_MIN, 4}, {4, 0},
                      {4, kBmpMaxSide + 1}, {4, -kBmpMaxSide - 1}, {4, INT32_MIN}})
    EXPECT_FALSE(Sound(Picture(70, w, h))) << w << "x" << h;
}

} // namespace
