// The tokenizer of the keyboard's data files (the layout file and the key
// test list): the text is split at commas and line feeds, a run of them
// counting as one separator, so empty tokens never occur. Carriage returns,
// blanks and everything else belong to the tokens. Reading never goes past
// the end of the data.
#pragma once

#include <cstddef>
#include <cstdint>

class DataTokens {
public:
  // Walks text[0..len); the text is not owned and must outlive the walk.
  DataTokens(const char *text, size_t len) : pos_(text), end_(text + len) {}

  // The next token as [*start, *stop); false once the text has ended.
  bool next(const char **start, const char **stop);

  // A token read as a number the way atoi reads it: leading blanks, an
  // optional sign, decimal digits up to the first other character. A value
  // outside 32 bits is held at the nearest limit instead of wrapping.
  static int32_t number(const char *start, const char *stop);

private:
  const char *pos_;
  const char *end_;
};
