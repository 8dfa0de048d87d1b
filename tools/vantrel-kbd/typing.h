// What a person presses on the keyboard to type a text (the keyboard's own
// scancodes; Shift is a sticky mode key pressed before the key it shifts).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr uint8_t kKeyShift = 2;

// Appends the key presses for text (ASCII) to keys. A capital is Shift and
// the letter; a shifted symbol is Shift and its key on a US arrangement.
// Returns false, naming the first character no key types, in error.
bool TextToScancodes(const std::string &text, std::vector<uint8_t> &keys, std::string &error);
// Parses a list of byte values ("65,66 0x5A"): decimal or 0x hex, 0..255,
// separated by commas or blanks. Returns false with the reason in error.
bool ParseByteList(const std::string &list, std::vector<uint8_t> &bytes, std::string &error);
