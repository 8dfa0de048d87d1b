// The keyboard's side of the protocol: what it sends when the port opens,
// how it answers each 12-byte packet, and what it sends on its own
// (heartbeats, calibration points, key presses), as timed outputs.
#pragma once

#include "options.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using KbdClock = std::chrono::steady_clock;

class Keyboard {
public:
  // write: puts bytes on the wire; returns false when they could not be sent.
  Keyboard(const Options &opt, FILE *log, std::function<bool(const uint8_t *, size_t)> write);

  void PortOpened(KbdClock::time_point now);
  void PortClosed();
  // Bytes written by the program, in arrival order.
  void Received(const uint8_t *data, size_t n, KbdClock::time_point now);
  // Sends whatever is due. Returns the time of the next output (or a time
  // far ahead when nothing is planned).
  KbdClock::time_point RunDue(KbdClock::time_point now);
  bool Finished() const { return finished_; }

private:
  struct Output {
    KbdClock::time_point due;
    std::vector<uint8_t> bytes;
    std::string what; // for the log; empty for heartbeats
    bool calibration;
  };

  void HandlePacket(const uint8_t *p, KbdClock::time_point now);
  void Plan(KbdClock::time_point due, std::vector<uint8_t> bytes, const std::string &what,
            bool calibration = false);
  // A frame, split into single bytes when --split-frames asks for it.
  void PlanFrame(KbdClock::time_point due, const std::vector<uint8_t> &frame, const std::string &what,
                 bool calibration = false);
  void Log(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
  double Ms(KbdClock::time_point t) const;

  const Options &opt_;
  FILE *log_;
  std::function<bool(const uint8_t *, size_t)> write_;
  KbdClock::time_point start_;
  std::vector<Output> planned_;
  std::vector<uint8_t> rx_;
  bool open_ = false;
  bool answeredStatus_ = false; // this connection's handshake got its status frame
  bool typingStarted_ = false;  // once per run
  bool finished_ = false;
  bool everOpened_ = false;
  int statusFrames_ = 0;
  KbdClock::time_point nextHeartbeat_{};
};
