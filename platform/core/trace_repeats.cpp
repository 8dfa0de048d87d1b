#include "platform/core/trace_repeats.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr int64_t kSecondUs = 1000000;

bool IsHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The line with every number replaced by '#'.
std::string ShapeOf(const std::string &line) {
  std::string shape;
  shape.reserve(line.size());
  for (size_t i = 0; i < line.size();) {
    if (line[i] == '0' && i + 2 < line.size() && (line[i + 1] == 'x' || line[i + 1] == 'X') &&
        IsHex(line[i + 2])) {
      shape += "0x#";
      i += 2;
      while (i < line.size() && IsHex(line[i]))
        ++i;
    } else if (IsDigit(line[i])) {
      shape += '#';
      while (i < line.size() && IsDigit(line[i]))
        ++i;
    } else {
      shape += line[i++];
    }
  }
  return shape;
}

} // namespace

void TraceRepeats::Summarise(Kind &kind, std::vector<std::string> &out) {
  if (kind.held == 0)
    return;
  out.push_back("(repeated " + std::to_string(kind.held) + " more times, not written) " +
                kind.lastHeld);
  kind.held = 0;
  kind.lastHeld.clear();
  ++kind.summaries;
}

std::vector<std::string> TraceRepeats::Admit(const std::string &line, int64_t nowUs) {
  std::vector<std::string> out;
  const std::string shape = ShapeOf(line);
  int index = -1;
  for (size_t i = 0; i < kinds_.size(); ++i)
    if (kinds_[i].shape == shape)
      index = static_cast<int>(i);

  // Counts of other kinds that are due: their second is over, or their run
  // of lines has just been broken by this one (once a second).
  for (size_t i = 0; i < kinds_.size(); ++i) {
    Kind &other = kinds_[i];
    if (static_cast<int>(i) == index || other.held == 0)
      continue;
    const bool secondOver = nowUs - other.windowStartUs >= kSecondUs;
    const bool runBroken =
        static_cast<int>(i) == lastKind_ && other.summaries < kTraceRepeatsPerSecond;
    if (secondOver || runBroken)
      Summarise(other, out);
  }

  if (index < 0) {
    if (static_cast<int>(kinds_.size()) < kTraceRepeatKinds) {
      kinds_.emplace_back();
      index = static_cast<int>(kinds_.size()) - 1;
    } else {
      auto oldest = std::min_element(kinds_.begin(), kinds_.end(), [](const Kind &a, const Kind &b) {
        return a.lastUseUs < b.lastUseUs;
      });
      Summarise(*oldest, out);
      index = static_cast<int>(oldest - kinds_.begin());
      *oldest = Kind{};
    }
    kinds_[index].shape = shape;
    kinds_[index].windowStartUs = nowUs;
  }

  Kind &kind = kinds_[index];
  if (nowUs - kind.windowStartUs >= kSecondUs) {
    Summarise(kind, out);
    kind.windowStartUs = nowUs;
    kind.written = 0;
    kind.summaries = 0;
  }
  kind.lastUseUs = nowUs;
  lastKind_ = index;
  if (kind.written < kTraceRepeatsPerSecond) {
    ++kind.written;
    out.push_back(line);
  } else {
    ++kind.held;
    kind.lastHeld = line;
  }
  return out;
}
