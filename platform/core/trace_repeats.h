// Keeps a flood of alike trace lines from growing the trace without bound
// (internal to the platform layer). A stray byte that the link traces each
// time it comes can arrive thousands of times a second; the trace then keeps
// the first lines of each second and says how many more there were.
//
// Lines are alike when they differ only in their numbers (runs of decimal
// digits, and hex digits after "0x"), so "byte 0x0A at 12" and "byte 0xFC
// at 13" count as one kind. Of each kind at most kTraceRepeatsPerSecond
// lines are written in any one second (counted from the kind's first line of
// that second); the rest are counted and reported in one summary line:
//   (repeated 1234 more times, not written) <the last of them>
// A summary is written before the kind's next line once its second is over,
// before any other line once its second is over, and before the first line
// of another kind that follows it directly, so that a flood that ends is
// summed up at once (this at most kTraceRepeatsPerSecond times a second:
// two floods taking turns stay bounded too). Up to kTraceRepeatKinds kinds
// are followed at a time; the one unused longest makes room (its count is
// written first). A count still held when the process ends is lost.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int kTraceRepeatsPerSecond = 20;
constexpr int kTraceRepeatKinds = 8;

class TraceRepeats {
public:
  // The lines to write for `line` traced at `nowUs` (a monotonic clock in
  // microseconds), in order: summaries due, then the line itself unless it
  // is held back. Not thread-safe: the trace calls it under its own lock.
  std::vector<std::string> Admit(const std::string &line, int64_t nowUs);

private:
  struct Kind {
    std::string shape;      // the line with its numbers blotted out
    int64_t windowStartUs = 0;
    int64_t lastUseUs = 0;
    int written = 0;        // lines written in the current second
    uint64_t held = 0;      // lines held back since the last summary
    std::string lastHeld;   // the last line held back
    int summaries = 0;      // summaries written in the current second
  };
  static void Summarise(Kind &kind, std::vector<std::string> &out);
  std::vector<Kind> kinds_;
  int lastKind_ = -1; // the kind of the previous line (index into kinds_)
};
