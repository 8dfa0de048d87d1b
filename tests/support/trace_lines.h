// Trace lines collected while a test runs. The platform calls the sink from
// whichever thread traces (the reader thread, the sound and power threads
// too), so the lines are kept under a lock and handed out as copies.
// Collecting starts with the object and ends with it (one at a time: end
// the old one before making a new one).
#pragma once

#include "platform/trace.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace testtrace {

class TraceLines {
public:
  TraceLines() { SetTraceSink(&Add, this); }
  ~TraceLines() { SetTraceSink(nullptr, nullptr); }
  TraceLines(const TraceLines &) = delete;
  TraceLines &operator=(const TraceLines &) = delete;

  std::vector<std::string> Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  // How many lines equal `line`.
  int Count(const std::string &line) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count(lines_.begin(), lines_.end(), line));
  }
  // How many lines contain `part`.
  int CountContaining(const std::string &part) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count_if(lines_.begin(), lines_.end(), [&](const std::string &l) {
      return l.find(part) != std::string::npos;
    }));
  }
  // Forgets the lines so far.
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
  }

private:
  static void Add(const char *line, void *self) {
    auto *t = static_cast<TraceLines *>(self);
    std::lock_guard<std::mutex> lock(t->mutex_);
    t->lines_.push_back(line);
  }
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

} // namespace testtrace
