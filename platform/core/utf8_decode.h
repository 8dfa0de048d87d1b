// Decoding of 8-bit text shared by mbstowcs and the UTF-8 conversions: a
// valid UTF-8 sequence gives its code point; any byte that does not start a
// valid, shortest-form sequence (surrogates and values above U+10FFFF are not
// valid) is read alone as a Windows-1252 character.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantrel_text {

// Decodes the character at s[0] (s[0] != 0; the text ends at a zero byte or
// at `end` when not null). Sets *length to the bytes taken (1..4) and returns
// the code point.
uint32_t DecodeChar(const unsigned char *s, const unsigned char *end, size_t *length);

// Windows-1252 meaning of a byte 0x80..0xFF. The five bytes that code page
// leaves undefined keep their own value, as the handheld's conversion does.
uint32_t Cp1252ToUnicode(unsigned char byte);

} // namespace vantrel_text
