// A scripted session: what the emulated keyboard does after each handshake,
// step by step, across connections (typing, pauses, status codes, going
// silent, hanging up the line), so that long runs can mix typing with the
// ways a connection ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SessionStep {
  enum Kind { Type, Wait, Status, Silence, Hangup };
  Kind kind;
  uint32_t value; // Type: keys; Wait: ms; Status: the code; else 0
};

// Parses "type:500,wait:200,status:8,silence,hangup" (commas or blanks
// between steps). Returns false with the reason in error; steps is then
// left partly filled.
bool ParseSession(const std::string &text, std::vector<SessionStep> &steps, std::string &error);

// The step as written on the command line, for the log.
std::string StepText(const SessionStep &step);

// True for the status codes after which the keyboard's connection ends.
inline bool StatusCodeEndsLink(uint8_t code) { return code == 1 || code == 2 || code == 8; }
