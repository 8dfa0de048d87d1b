#include "keys/data_tokens.h"

namespace {

bool isSeparator(char c) { return c == ',' || c == '\n'; }

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

bool DataTokens::next(const char **start, const char **stop) {
  while (pos_ < end_ && isSeparator(*pos_))
    ++pos_;
  if (pos_ == end_)
    return false;
  *start = pos_;
  while (pos_ < end_ && !isSeparator(*pos_))
    ++pos_;
  *stop = pos_;
  return true;
}

int32_t DataTokens::number(const char *p, const char *stop) {
  while (p < stop && isBlank(*p))
    ++p;
  bool negative = false;
  if (p < stop && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  int64_t value = 0;
  while (p < stop && *p >= '0' && *p <= '9') {
    if (value <= INT32_MAX)
      value = value * 10 + (*p - '0');
    ++p;
  }
  if (negative)
    value = -value;
  if (value > INT32_MAX)
    return INT32_MAX;
  if (value < INT32_MIN)
    return INT32_MIN;
  return static_cast<int32_t>(value);
}
