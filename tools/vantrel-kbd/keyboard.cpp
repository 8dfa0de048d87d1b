// The keyboard's behaviour, written from the wire format: 12-byte packets in
// (kind at byte 4, parameter id and value at 5 and 6, XOR checksum at 11),
// markers and frames out.
#include "keyboard.h"

#include <algorithm>
#include <cstdarg>

namespace {

enum : uint8_t {
  kSetParameter = 1,
  kCalibrationMode = 2,
  kTypingMode = 3,
  kHandshakeRequest = 5,
  kRequestSystemData = 10,
  kDisconnect = 11,
};
constexpr uint8_t kParamCalibration = 14;
constexpr uint8_t kCalibrationOff = 23;
constexpr size_t kPacketSize = 12;
constexpr auto kExitGrace = std::chrono::milliseconds(500);
// Time between the host opening the port and the keyboard's first byte.
constexpr auto kLinkSetup = std::chrono::milliseconds(10);
// Bytes of history kept to tell which unread bytes were keys: more than a
// pseudo-terminal's buffers hold.
constexpr size_t kSentHistory = 65536;
// A type step that fell behind (the emulator was not scheduled) sends at
// most this much of its backlog at once, then keeps its rate from now.
constexpr auto kMaxBacklog = std::chrono::milliseconds(100);

const char *KindName(uint8_t kind) {
  switch (kind) {
  case kSetParameter:
    return "SET_PARAMETER";
  case kCalibrationMode:
    return "CALIBRATION_MODE";
  case kTypingMode:
    return "TYPING_MODE";
  case kHandshakeRequest:
    return "HANDSHAKE_REQUEST";
  case kRequestSystemData:
    return "REQUEST_SYSTEM_DATA";
  case kDisconnect:
    return "DISCONNECT";
  default:
    return "UNKNOWN";
  }
}

std::string Hex(const uint8_t *p, size_t n) {
  std::string s;
  char b[4];
  for (size_t i = 0; i < n; ++i) {
    snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
    s += b;
  }
  return s;
}

void PutBigEndian(std::vector<uint8_t> &out, uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i)
    out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

} // namespace

Keyboard::Keyboard(const Options &opt, FILE *log, std::function<bool(const uint8_t *, size_t)> write)
    : opt_(opt), log_(log), write_(std::move(write)), start_(KbdClock::now()) {}

double Keyboard::Ms(KbdClock::time_point t) const {
  return std::chrono::duration<double, std::milli>(t - start_).count();
}

void Keyboard::Log(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  fprintf(log_, "{\"t_ms\":%.3f,", Ms(KbdClock::now()));
  vfprintf(log_, fmt, ap);
  fputs("}\n", log_);
  fflush(log_);
  va_end(ap);
}

void Keyboard::Plan(KbdClock::time_point due, std::vector<uint8_t> bytes, const std::string &what,
                    bool calibration) {
  Output out{due, std::move(bytes), what, calibration};
  auto at = std::upper_bound(planned_.begin(), planned_.end(), due,
                             [](KbdClock::time_point t, const Output &o) { return t < o.due; });
  planned_.insert(at, std::move(out));
}

void Keyboard::PlanFrame(KbdClock::time_point due, const std::vector<uint8_t> &frame,
                         const std::string &what, bool calibration) {
  if (opt_.splitFramesMs < 0) {
    Plan(due, frame, what, calibration);
    return;
  }
  for (size_t i = 0; i < frame.size(); ++i)
    Plan(due + std::chrono::milliseconds(opt_.splitFramesMs) * i, {frame[i]},
         what + " byte " + std::to_string(i), calibration);
}

bool Keyboard::Put(const uint8_t *p, size_t n, bool key) {
  bool ok = write_(p, n);
  if (ok) {
    sentKinds_.insert(sentKinds_.end(), n, key);
    if (sentKinds_.size() > kSentHistory)
      sentKinds_.erase(sentKinds_.begin(),
                       sentKinds_.begin() + static_cast<long>(sentKinds_.size() - kSentHistory));
  }
  return ok;
}

void Keyboard::PortOpened(KbdClock::time_point now) {
  open_ = true;
  everOpened_ = true;
  answeredStatus_ = false;
  silent_ = false;
  sentKinds_.clear();
  rx_.clear();
  Log("\"event\":\"open\"");
  // A real keyboard answers an opened link after the radio has set it up,
  // not in the same instant the host's open returns.
  if (opt_.sendSync)
    Plan(now + kLinkSetup, {0xA5, 0x5A}, "sync");
  // The first heartbeat never comes before the sync pattern: a keyboard
  // announces itself before it beats.
  const auto first = opt_.firstHeartbeatMs >= 0 ? std::chrono::milliseconds(opt_.firstHeartbeatMs)
                                                : std::chrono::milliseconds(opt_.heartbeatMs);
  nextHeartbeat_ = now + std::max<KbdClock::duration>(first, kLinkSetup + std::chrono::milliseconds(1));
}

void Keyboard::PortClosed() {
  Log("\"event\":\"close\"");
  LinkEnded();
}

void Keyboard::HungUp(size_t unread) {
  size_t keys = 0;
  size_t n = std::min(unread, sentKinds_.size());
  for (auto it = sentKinds_.end() - static_cast<long>(n); it != sentKinds_.end(); ++it)
    keys += *it;
  Log("\"event\":\"hangup\",\"unread\":%zu,\"keys_unread\":%zu", unread, keys);
  LinkEnded();
}

void Keyboard::LinkEnded() {
  open_ = false;
  // A real keyboard's link is gone: nothing planned for it is sent later.
  planned_.clear();
  StopSessionForConnection();
  silent_ = false;
  hangupWanted_ = false;
  if (opt_.exitOnClose && everOpened_)
    finished_ = true;
}

void Keyboard::Received(const uint8_t *data, size_t n, KbdClock::time_point now) {
  rx_.insert(rx_.end(), data, data + n);
  size_t used = 0;
  while (rx_.size() - used >= kPacketSize) {
    HandlePacket(rx_.data() + used, now);
    used += kPacketSize;
  }
  rx_.erase(rx_.begin(), rx_.begin() + static_cast<long>(used));
}

void Keyboard::HandlePacket(const uint8_t *p, KbdClock::time_point now) {
  uint8_t sum = 0;
  for (size_t i = 0; i < kPacketSize; ++i)
    sum ^= p[i];
  uint8_t kind = p[4];
  Log("\"event\":\"packet\",\"bytes\":\"%s\",\"kind\":%u,\"name\":\"%s\",\"id\":%u,\"value\":%u,"
      "\"checksum_ok\":%s",
      Hex(p, kPacketSize).c_str(), kind, KindName(kind), p[5], p[6], sum == 0 ? "true" : "false");

  auto step = std::chrono::milliseconds(opt_.calibrationStepMs);
  if (silent_)
    return; // gone quiet: the program's packets go unanswered
  switch (kind) {
  case kHandshakeRequest:
    if (opt_.answer) {
      std::vector<uint8_t> f{0xF9};
      PutBigEndian(f, opt_.serial, 4);
      PutBigEndian(f, opt_.features, 2);
      PutBigEndian(f, opt_.build, 2);
      PutBigEndian(f, opt_.configTable, 2);
      f.push_back(0);
      PlanFrame(now, f, "identity");
    }
    break;
  case kRequestSystemData:
    if (opt_.answer) {
      ++statusFrames_;
      uint8_t code = opt_.statusCodeSet && statusFrames_ == opt_.statusAfter ? opt_.statusCode : 0;
      if (pendingCode_ >= 0) {
        code = static_cast<uint8_t>(pendingCode_);
        pendingCode_ = -1;
      }
      PlanFrame(now, {0x0A, opt_.battery, code, opt_.reference, 0, 0}, "status");
      answeredStatus_ = true;
      // The keyboard has asked to end the connection: its keys stop here,
      // so that every key sent before the frame is one the program reads.
      if (StatusCodeEndsLink(code))
        StopSessionForConnection();
    }
    break;
  case kSetParameter:
    if (p[5] == kParamCalibration && p[6] == kCalibrationOff) {
      // Calibration ended on the program's side: the keyboard stops asking.
      planned_.erase(std::remove_if(planned_.begin(), planned_.end(),
                                    [](const Output &o) { return o.calibration; }),
                     planned_.end());
    }
    break;
  case kCalibrationMode:
    for (int i = 1; i <= 3; ++i)
      Plan(now + step * i, {0xFB}, "calibration point", true);
    if (opt_.calibrationOk) {
      std::vector<uint8_t> f{0xFC};
      f.insert(f.end(), opt_.calibrationValues, opt_.calibrationValues + 6);
      f.push_back(0);
      PlanFrame(now + step * 4, f, "calibration values", true);
    } else {
      Plan(now + step * 4, {0xFE}, "calibration failed", true);
    }
    break;
  case kTypingMode:
    if (!opt_.session.empty()) {
      // Also sent when calibration ends: a session already running goes on.
      if (answeredStatus_ && !sessionLive_ && !sessionDone_) {
        if (!sessionStarted_) {
          sessionStarted_ = true;
          sessionStart_ = now;
        }
        sessionLive_ = true;
        stepDue_ = now + std::chrono::milliseconds(opt_.typeDelayMs);
      }
    } else if (answeredStatus_ && !typingStarted_ && !opt_.keys.empty()) {
      typingStarted_ = true;
      auto at = now + std::chrono::milliseconds(opt_.typeDelayMs);
      for (uint8_t key : opt_.keys) {
        Plan(at, {key}, "key");
        at += std::chrono::milliseconds(opt_.keyIntervalMs);
      }
      if (opt_.exitAfterTyping)
        Plan(at + kExitGrace, {}, "exit");
    }
    break;
  default:
    break;
  }
}

KbdClock::time_point Keyboard::RunDue(KbdClock::time_point now) {
  while (!planned_.empty() && planned_.front().due <= now) {
    Output out = std::move(planned_.front());
    planned_.erase(planned_.begin());
    if (out.what == "exit") {
      finished_ = true;
      break;
    }
    if (!open_ || silent_)
      continue;
    bool ok = Put(out.bytes.data(), out.bytes.size(), out.what == "key");
    Log("\"event\":\"sent\",\"what\":\"%s\",\"bytes\":\"%s\"%s", out.what.c_str(),
        Hex(out.bytes.data(), out.bytes.size()).c_str(), ok ? "" : ",\"failed\":true");
  }
  if (sessionLive_ && open_)
    RunSession(now);
  if (open_ && !silent_ && opt_.heartbeatMs > 0 && now >= nextHeartbeat_) {
    uint8_t beat = 0xFA;
    Put(&beat, 1, false);
    nextHeartbeat_ += std::chrono::milliseconds(opt_.heartbeatMs);
    if (nextHeartbeat_ <= now) // fell behind (a stall): keep the rhythm from now
      nextHeartbeat_ = now + std::chrono::milliseconds(opt_.heartbeatMs);
  }
  KbdClock::time_point next = now + std::chrono::hours(1);
  if (!planned_.empty())
    next = std::min(next, planned_.front().due);
  if (open_ && !silent_ && opt_.heartbeatMs > 0)
    next = std::min(next, nextHeartbeat_);
  if (sessionLive_ && open_)
    next = std::min(next, stepDue_);
  return next;
}

void Keyboard::StopSessionForConnection() {
  if (stepRunning_) {
    Log("\"event\":\"step_dropped\",\"step\":\"%s\"", StepText(opt_.session[step_]).c_str());
    EndStep();
  }
  sessionLive_ = false;
}

void Keyboard::EndStep() {
  stepRunning_ = false;
  ++step_;
}

bool Keyboard::StartStep(KbdClock::time_point now) {
  const bool timeUp = now - sessionStart_ >= std::chrono::seconds(opt_.sessionForSeconds);
  if (step_ == opt_.session.size() && !timeUp) {
    // Start over on the next pass, so that steps that take no time
    // (status codes alone) cannot keep this loop from returning.
    step_ = 0;
    stepDue_ = now + std::chrono::milliseconds(1);
    return true;
  }
  if (step_ == opt_.session.size() || (opt_.sessionForSeconds > 0 && timeUp)) {
    sessionDone_ = true;
    sessionLive_ = false;
    pendingCode_ = -1; // an ended session ends no connection
    Log("\"event\":\"session_end\",\"keys_sent\":%llu", static_cast<unsigned long long>(sessionKeys_));
    if (opt_.exitAfterTyping)
      Plan(now + kExitGrace, {}, "exit");
    return false;
  }
  const SessionStep &s = opt_.session[step_];
  Log("\"event\":\"step\",\"step\":\"%s\"", StepText(s).c_str());
  switch (s.kind) {
  case SessionStep::Type:
    keysLeft_ = s.value;
    stepRunning_ = true;
    stepDue_ = now;
    break;
  case SessionStep::Wait:
    stepRunning_ = true;
    stepDue_ = now + std::chrono::milliseconds(s.value);
    break;
  case SessionStep::Status:
    pendingCode_ = static_cast<int>(s.value);
    EndStep();
    break;
  case SessionStep::Silence:
    EndStep();
    silent_ = true;
    sessionLive_ = false;
    planned_.clear();
    break;
  case SessionStep::Hangup:
    EndStep();
    hangupWanted_ = true;
    sessionLive_ = false;
    break;
  }
  return true;
}

void Keyboard::RunSession(KbdClock::time_point now) {
  while (sessionLive_ && stepDue_ <= now) {
    if (!stepRunning_) {
      if (!StartStep(now))
        return;
      continue;
    }
    const SessionStep &s = opt_.session[step_];
    if (s.kind == SessionStep::Wait) {
      EndStep();
      continue;
    }
    uint8_t key = opt_.keys[keyCursor_];
    keyCursor_ = (keyCursor_ + 1) % opt_.keys.size();
    // The time of the write on the system's monotonic clock, which other
    // processes share: a benchmark times the key's way from here.
    const double monoMs =
        std::chrono::duration<double, std::milli>(KbdClock::now().time_since_epoch()).count();
    bool ok = Put(&key, 1, true);
    sessionKeys_ += ok;
    Log("\"event\":\"sent\",\"what\":\"key\",\"bytes\":\"%s\",\"mono_ms\":%.3f%s",
        Hex(&key, 1).c_str(), monoMs, ok ? "" : ",\"failed\":true");
    stepDue_ += std::chrono::milliseconds(opt_.keyIntervalMs);
    if (stepDue_ < now - kMaxBacklog)
      stepDue_ = now;
    if (--keysLeft_ == 0)
      EndStep();
  }
}
