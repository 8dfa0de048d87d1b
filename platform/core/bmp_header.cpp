#include "platform/core/bmp_header.h"

namespace {

constexpr size_t kFileHeaderBytes = 14;
// The file header and the width and height of an info header.
constexpr size_t kShortestFile = 26;
constexpr int64_t kInfoHeaderWithSize = 40;
constexpr int64_t kSmallestInfoHeader = 12;

int32_t ReadLe32(const uint8_t *p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                              static_cast<uint32_t>(p[2]) << 16 |
                              static_cast<uint32_t>(p[3]) << 24);
}

} // namespace

bool BmpHeadersSound(const uint8_t *bytes, size_t size) {
  if (!bytes || size < kShortestFile || bytes[0] != 'B' || bytes[1] != 'M')
    return false;
  const int64_t fileSize = static_cast<int64_t>(size);
  const int64_t dataOffset = ReadLe32(bytes + 10);
  const int64_t headerSize = ReadLe32(bytes + 14);
  if (dataOffset <= static_cast<int64_t>(kFileHeaderBytes) || dataOffset >= fileSize)
    return false;
  if (headerSize < kSmallestInfoHeader ||
      static_cast<int64_t>(kFileHeaderBytes) + headerSize > fileSize)
    return false;
  if (headerSize >= kInfoHeaderWithSize) {
    const int32_t width = ReadLe32(bytes + 18);
    const int32_t height = ReadLe32(bytes + 22);
    if (width <= 0 || width > kBmpMaxSide || height == 0 || height < -kBmpMaxSide ||
        height > kBmpMaxSide)
      return false;
  }
  return true;
}
