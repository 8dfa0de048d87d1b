// The keyboard's side of the protocol: what it sends when the port opens,
// how it answers each 12-byte packet, and what it sends on its own
// (heartbeats, calibration points, key presses), as timed outputs.
#pragma once

#include "options.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
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

  // A hangup step is due: the caller waits until the program has read what
  // was sent, hangs up the line and calls HungUp with the bytes still unread.
  bool HangupWanted() const { return hangupWanted_; }
  void HungUp(size_t unread);

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
  // Writes bytes to the wire and remembers which of them were keys.
  bool Put(const uint8_t *p, size_t n, bool key);
  // The link went away (closed by the program or hung up).
  void LinkEnded();

  // The scripted session (--session).
  void RunSession(KbdClock::time_point now);
  // Begins the next step; false when the session has ended.
  bool StartStep(KbdClock::time_point now);
  void EndStep();
  // No more keys on this connection; a step under way is dropped.
  void StopSessionForConnection();

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

  // Which of the bytes sent on this connection were keys, the latest last
  // (bounded: more than a pseudo-terminal holds).
  std::deque<bool> sentKinds_;
  bool silent_ = false;       // a silence step: nothing goes out
  bool hangupWanted_ = false;
  // Session state.
  bool sessionLive_ = false;  // this connection may run steps
  bool sessionStarted_ = false;
  bool sessionDone_ = false;
  bool stepRunning_ = false;
  size_t step_ = 0;           // the step under way or next
  uint32_t keysLeft_ = 0;     // of a type step
  size_t keyCursor_ = 0;      // next of opt_.keys
  uint64_t sessionKeys_ = 0;  // keys the session sent
  int pendingCode_ = -1;      // for the next status frame
  KbdClock::time_point sessionStart_{};
  KbdClock::time_point stepDue_{};
};
