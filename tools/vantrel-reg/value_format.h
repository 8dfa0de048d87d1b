// How vantrel-reg writes names and values on its output.
#pragma once

#include "platform/wintypes.h"

#include <string>
#include <vector>

// A name or text in UTF-8 with every control character (tab, line end, ...)
// written as \xNN, so that one value stays on one line.
std::string PrintableText(const std::u16string &text);
// "REG_SZ", "REG_DWORD", ...; "REG_TYPE_<n>" for a type without a name.
std::string TypeName(DWORD type);
// The third column of a value line: a REG_DWORD of 4 bytes in decimal
// (unsigned), a REG_SZ or REG_EXPAND_SZ as its text up to the first zero,
// anything else as hex bytes separated by spaces.
std::string ValueText(DWORD type, const std::vector<BYTE> &data);
