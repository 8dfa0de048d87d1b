// Parsing the scripted session's steps.
#include "session.h"

#include <cerrno>
#include <cstdlib>

namespace {

struct StepName {
  const char *name;
  SessionStep::Kind kind;
  bool hasValue;
  unsigned long max;
};

constexpr StepName kSteps[] = {
    {"type", SessionStep::Type, true, 100000000ul},
    {"wait", SessionStep::Wait, true, 3600000ul},
    {"status", SessionStep::Status, true, 255ul},
    {"silence", SessionStep::Silence, false, 0},
    {"hangup", SessionStep::Hangup, false, 0},
};

bool ParseStep(const std::string &item, SessionStep &step, std::string &error) {
  size_t colon = item.find(':');
  std::string name = item.substr(0, colon);
  for (const StepName &s : kSteps) {
    if (name != s.name)
      continue;
    if (!s.hasValue) {
      if (colon != std::string::npos) {
        error = "'" + item + "': " + name + " takes no value";
        return false;
      }
      step = {s.kind, 0};
      return true;
    }
    std::string text = colon == std::string::npos ? "" : item.substr(colon + 1);
    char *end = nullptr;
    errno = 0;
    unsigned long v = text.empty() || text[0] == '-' ? 0 : strtoul(text.c_str(), &end, 0);
    if (text.empty() || text[0] == '-' || *end || errno || v > s.max ||
        (s.kind == SessionStep::Type && v == 0)) {
      error = "'" + item + "': " + name + " needs a number from " +
              (s.kind == SessionStep::Type ? "1" : "0") + " to " + std::to_string(s.max);
      return false;
    }
    step = {s.kind, static_cast<uint32_t>(v)};
    return true;
  }
  error = "'" + item + "' is not a step (type:N, wait:MS, status:CODE, silence, hangup)";
  return false;
}

} // namespace

bool ParseSession(const std::string &text, std::vector<SessionStep> &steps, std::string &error) {
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ',' || text[i] == ' ') {
      ++i;
      continue;
    }
    size_t end = text.find_first_of(", ", i);
    std::string item = text.substr(i, end == std::string::npos ? std::string::npos : end - i);
    SessionStep step{};
    if (!ParseStep(item, step, error))
      return false;
    steps.push_back(step);
    i = end == std::string::npos ? text.size() : end;
  }
  if (steps.empty()) {
    error = "no steps given";
    return false;
  }
  return true;
}

std::string StepText(const SessionStep &step) {
  for (const StepName &s : kSteps)
    if (s.kind == step.kind)
      return s.hasValue ? std::string(s.name) + ":" + std::to_string(step.value) : s.name;
  return "?";
}
