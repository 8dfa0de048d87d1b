// The header check a BMP picture passes before it is decoded: a damaged or
// hostile file is refused here rather than handed to the decoder. Pure byte
// work, no toolkit, so that it can be tested and fuzzed on its own.
#pragma once

#include <cstddef>
#include <cstdint>

// Largest BMP picture file that is read at all; the program's own are small.
constexpr size_t kBmpMaxFileBytes = 64u << 20;
// Widest and tallest picture accepted.
constexpr int32_t kBmpMaxSide = 16384;

// Checks the file header and the info header of a BMP file held in
// bytes[0..size): the "BM" mark; a pixel data offset past the 14-byte file
// header and inside the file; an info header of at least 12 bytes that ends
// inside the file; and, for an info header of 40 bytes or more, a width of 1
// to kBmpMaxSide and a height of 1 to kBmpMaxSide either way up. Sizes are
// compared in 64 bits, so no field value can overflow the check. Returns
// true when the headers are sound; the bytes are only read.
bool BmpHeadersSound(const uint8_t *bytes, size_t size);
