// The keyboard of a RemoteDesktop portal session (see portal_keyboard.h).
#include "platform/portal/portal_keyboard.h"

#include "platform/core/counted_thread.h"
#include "platform/dbus/desktop_bus.h"
#include "platform/inject.h"
#include "platform/trace.h"

#include <cerrno>
#include <cstring>
#include <linux/input.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

constexpr char kRequest[] = "org.freedesktop.portal.Request";
constexpr char kSession[] = "org.freedesktop.portal.Session";
constexpr uint32_t kKeyboardDevice = 1;
// Kept by the desktop until the person revokes it (interface version 2).
constexpr uint32_t kPersistUntilRevoked = 2;

// The portal's answer codes in a Response signal.
constexpr uint32_t kResponseOk = 0;
constexpr uint32_t kResponseCancelled = 1;

const char *StepMethod(int step) {
  switch (step) {
  case 1:
    return "CreateSession";
  case 2:
    return "SelectDevices";
  default:
    return "Start";
  }
}

// What a Response carries that the session needs.
struct Results {
  std::string sessionHandle;
  std::string restoreToken;
  uint32_t devices = 0;
};

// Reads the a{sv} of a Response; unknown entries are passed over.
int ReadResults(sd_bus_message *m, Results &out) {
  int r = sd_bus_message_enter_container(m, 'a', "{sv}");
  while (r > 0 && (r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
    const char *key = nullptr;
    r = sd_bus_message_read(m, "s", &key);
    if (r < 0)
      return r;
    char type = 0;
    const char *contents = nullptr;
    r = sd_bus_message_peek_type(m, &type, &contents);
    if (r < 0)
      return r;
    const std::string name = key ? key : "";
    const std::string sig = contents ? contents : "";
    if (name == "session_handle" && (sig == "s" || sig == "o")) {
      const char *text = nullptr;
      r = sd_bus_message_read(m, "v", sig.c_str(), &text);
      out.sessionHandle = text ? text : "";
    } else if (name == "restore_token" && sig == "s") {
      const char *text = nullptr;
      r = sd_bus_message_read(m, "v", "s", &text);
      out.restoreToken = text ? text : "";
    } else if (name == "devices" && sig == "u") {
      r = sd_bus_message_read(m, "v", "u", &out.devices);
    } else {
      r = sd_bus_message_skip(m, "v");
    }
    if (r < 0)
      return r;
    r = sd_bus_message_exit_container(m);
    if (r < 0)
      return r;
  }
  if (r < 0)
    return r;
  return sd_bus_message_exit_container(m);
}

} // namespace

PortalKeyboard::~PortalKeyboard() { Stop(); }

bool PortalKeyboard::Start(sd_bus *bus, unsigned version, const std::string &portalOwner,
                           std::string &why) {
  owner_ = portalOwner;
  const char *unique = nullptr;
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0 || sd_bus_get_unique_name(bus, &unique) < 0 || !unique) {
    why = wake_ < 0 ? std::string("no event descriptor: ") + strerror(errno)
                    : "the session bus gave no name";
    sd_bus_flush_close_unref(bus);
    return false;
  }
  // Request paths carry the caller's unique name without its colon, dots
  // made underscores: ":1.42" asks at .../request/1_42/TOKEN.
  sender_ = unique + 1;
  for (char &c : sender_)
    if (c == '.')
      c = '_';
  bus_ = bus;
  version_ = version;
  down_.assign(KEY_MAX + 1, false);
  thread_ = StartCountedThread([this] { Serve(); });
  return true;
}

void PortalKeyboard::Wake() {
  uint64_t one = 1;
  if (wake_ >= 0 && write(wake_, &one, sizeof one) < 0) {
    // Only fails when the counter is full: the thread is awake already.
  }
}

void PortalKeyboard::LinkUp() {
  std::lock_guard<std::mutex> lock(mu_);
  if (ended_ || stopping_)
    return;
  linkUp_ = true;
  ++linkGen_;
  // From now on keys are held: the thread asks for the session next.
  state_ = PortalState::kAsking;
  queue_.clear();
  dropTraced_ = false;
  Wake();
}

void PortalKeyboard::LinkDown() {
  std::lock_guard<std::mutex> lock(mu_);
  linkUp_ = false;
  // Keys already granted still go out before the session closes; keys
  // waiting for an answer that will never matter are dropped.
  if (state_ != PortalState::kGranted)
    queue_.clear();
  state_ = PortalState::kIdle;
  Wake();
}

void PortalKeyboard::Send(const std::vector<KeyInputEvent> &events) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!linkUp_ || state_ == PortalState::kIdle) {
    if (!dropTraced_)
      PlatformTrace("inject: portal: no leave to type; keys are dropped");
    dropTraced_ = true;
    return;
  }
  for (const KeyInputEvent &e : events) {
    if (e.type != EV_KEY || e.code > KEY_MAX)
      continue;
    if (queue_.size() >= kPortalHeldEvents) {
      if (!dropTraced_)
        PlatformTrace("inject: portal: %zu key events wait for the desktop; later ones are "
                      "dropped",
                      queue_.size());
      dropTraced_ = true;
      break;
    }
    queue_.push_back(Event{e.code, e.value != 0, linkGen_});
  }
  Wake();
}

void PortalKeyboard::Stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
    linkUp_ = false;
    Wake();
  }
  if (thread_.joinable())
    thread_.join();
  if (wake_ >= 0)
    close(wake_);
  wake_ = -1;
}

PortalState PortalKeyboard::State() {
  std::lock_guard<std::mutex> lock(mu_);
  return state_;
}

size_t PortalKeyboard::HeldEvents() {
  std::lock_guard<std::mutex> lock(mu_);
  return queue_.size();
}

void PortalKeyboard::Serve() {
  for (;;) {
    while (sd_bus_process(bus_, nullptr) > 0) {
    }
    bool up, stop;
    uint64_t gen;
    {
      std::lock_guard<std::mutex> lock(mu_);
      up = linkUp_;
      gen = linkGen_;
      stop = stopping_;
    }
    if (stop)
      break;
    const bool open = step_ != Step::kNone || !sessionPath_.empty();
    // The link ended, or connected anew while the last connection's session
    // is still open: that session ends first, once the keys typed before
    // the end have gone out (as answers to earlier keys let them).
    bool closing = open && (!up || gen != askedGen_);
    if (closing) {
      SendQueued();
      if (!KeysLeft()) {
        CloseSession(true);
        closing = false;
      }
    }
    if (!closing && up && gen != askedGen_) {
      askedGen_ = gen;
      Open();
    }
    SendQueued();
    pollfd fds[2] = {{sd_bus_get_fd(bus_), static_cast<short>(sd_bus_get_events(bus_)), 0},
                     {wake_, POLLIN, 0}};
    uint64_t usec = UINT64_MAX;
    sd_bus_get_timeout(bus_, &usec);
    int timeoutMs = -1;
    if (usec != UINT64_MAX) {
      timespec ts;
      clock_gettime(CLOCK_MONOTONIC, &ts);
      const uint64_t now = uint64_t(ts.tv_sec) * 1000000 + uint64_t(ts.tv_nsec) / 1000;
      timeoutMs = usec > now ? static_cast<int>((usec - now + 999) / 1000) : 0;
    }
    if (poll(fds, 2, timeoutMs) < 0 && errno != EINTR)
      break;
    if (fds[1].revents) {
      uint64_t n;
      if (read(wake_, &n, sizeof n) < 0) {
        // Nothing to read: woken by another path.
      }
    }
    if (fds[0].revents & (POLLHUP | POLLERR)) {
      PlatformTrace("inject: portal: the session bus connection ended; keys are dropped");
      break;
    }
  }
  // The program is ending (or the bus went): keys still down are released
  // and the session closed before the connection goes. Keys the portal has
  // not yet taken are dropped.
  SendQueued();
  if (KeysLeft())
    PlatformTrace("inject: portal: %zu key events not sent: the program is ending",
                  HeldEvents());
  CloseSession(true);
  sd_bus_flush(bus_);
  sd_bus_flush_close_unref(bus_);
  bus_ = nullptr;
  std::lock_guard<std::mutex> lock(mu_);
  ended_ = true;
  linkUp_ = false;
  state_ = PortalState::kIdle;
  queue_.clear();
}

void PortalKeyboard::Open() {
  PlatformTrace("inject: portal: asking the desktop for leave to type (interface version %u)",
                version_);
  sessionPath_.clear();
  if (!Ask(Step::kCreate))
    Failed("CreateSession could not be sent", InjectNotice::kPortalFailed);
}

bool PortalKeyboard::Ask(Step step) {
  const std::string token = "vantrel" + std::to_string(++tokens_);
  requestPath_ = std::string(kPortalPath) + "/request/" + sender_ + "/" + token;
  step_ = step;
  // The answer comes as the Response signal of the request object: the
  // match is in place before the call, so that a quick answer is not lost.
  responseSlot_ = sd_bus_slot_unref(responseSlot_);
  int r = sd_bus_match_signal_async(bus_, &responseSlot_, nullptr, requestPath_.c_str(), kRequest,
                                    "Response", ResponseThunk, nullptr, this);
  sd_bus_message *m = nullptr;
  const char *method = StepMethod(static_cast<int>(step));
  if (r >= 0)
    r = sd_bus_message_new_method_call(bus_, &m, kPortal, kPortalPath, kRemoteDesktop, method);
  if (r >= 0 && step != Step::kCreate)
    r = sd_bus_message_append(m, "o", sessionPath_.c_str());
  if (r >= 0 && step == Step::kStart)
    r = sd_bus_message_append(m, "s", ""); // no parent window
  if (r >= 0)
    r = sd_bus_message_open_container(m, 'a', "{sv}");
  if (r >= 0)
    r = sd_bus_message_append(m, "{sv}", "handle_token", "s", token.c_str());
  if (r >= 0 && step == Step::kCreate)
    r = sd_bus_message_append(m, "{sv}", "session_handle_token", "s", token.c_str());
  if (r >= 0 && step == Step::kSelect) {
    r = sd_bus_message_append(m, "{sv}", "types", "u", kKeyboardDevice);
    if (r >= 0 && version_ >= 2) {
      const InjectHost host = InjectGetHost();
      const std::string restore = host.loadToken ? host.loadToken() : "";
      r = sd_bus_message_append(m, "{sv}", "persist_mode", "u", kPersistUntilRevoked);
      if (r >= 0 && !restore.empty())
        r = sd_bus_message_append(m, "{sv}", "restore_token", "s", restore.c_str());
      PlatformTrace("inject: portal: asking the desktop to keep the leave%s",
                    restore.empty() ? "" : " (restoring the one kept)");
    }
  }
  if (r >= 0)
    r = sd_bus_message_close_container(m);
  callSlot_ = sd_bus_slot_unref(callSlot_);
  if (r >= 0)
    r = sd_bus_call_async(bus_, &callSlot_, m, ReplyThunk, this, 0);
  sd_bus_message_unref(m);
  if (r < 0) {
    PlatformTrace("inject: portal: %s failed: %s", method, strerror(-r));
    return false;
  }
  PlatformTrace("inject: portal: %s sent, answer awaited at %s", method, requestPath_.c_str());
  return true;
}

int PortalKeyboard::ReplyThunk(sd_bus_message *m, void *self, sd_bus_error *) {
  auto *kbd = static_cast<PortalKeyboard *>(self);
  kbd->callSlot_ = sd_bus_slot_unref(kbd->callSlot_);
  const char *method = StepMethod(static_cast<int>(kbd->step_));
  if (sd_bus_message_is_method_error(m, nullptr)) {
    const sd_bus_error *e = sd_bus_message_get_error(m);
    PlatformTrace("inject: portal: %s failed: %s", method,
                  BusErrorText(*e, sd_bus_message_get_errno(m)).c_str());
    kbd->Failed("the portal refused the call", InjectNotice::kPortalFailed);
    return 0;
  }
  const char *handle = nullptr;
  if (sd_bus_message_read(m, "o", &handle) >= 0 && handle && kbd->requestPath_ != handle) {
    // A portal older than handle_token names its own request path: the
    // answer is awaited there instead.
    PlatformTrace("inject: portal: the request is %s, not the one predicted", handle);
    kbd->requestPath_ = handle;
    kbd->responseSlot_ = sd_bus_slot_unref(kbd->responseSlot_);
    sd_bus_match_signal_async(kbd->bus_, &kbd->responseSlot_, nullptr, handle, kRequest,
                              "Response", ResponseThunk, nullptr, kbd);
  }
  return 0;
}

int PortalKeyboard::ResponseThunk(sd_bus_message *m, void *self, sd_bus_error *) {
  static_cast<PortalKeyboard *>(self)->OnResponse(m);
  return 0;
}

bool PortalKeyboard::FromPortal(sd_bus_message *m) {
  const char *sender = sd_bus_message_get_sender(m);
  if (sender && owner_ == sender)
    return true;
  PlatformTrace("inject: portal: a %s signal from %s, not the portal, is ignored",
                sd_bus_message_get_member(m), sender ? sender : "nobody");
  return false;
}

void PortalKeyboard::OnResponse(sd_bus_message *m) {
  if (!FromPortal(m))
    return;
  responseSlot_ = sd_bus_slot_unref(responseSlot_);
  const Step step = step_;
  const char *method = StepMethod(static_cast<int>(step));
  uint32_t code = 2;
  Results results;
  if (sd_bus_message_read(m, "u", &code) < 0 || ReadResults(m, results) < 0) {
    PlatformTrace("inject: portal: the answer to %s cannot be read", method);
    Failed("its answer cannot be read", InjectNotice::kPortalFailed);
    return;
  }
  PlatformTrace("inject: portal: %s answered %u", method, code);
  if (code == kResponseCancelled) {
    Failed("the person or the desktop declined", InjectNotice::kConsentRefused);
    return;
  }
  if (code != kResponseOk) {
    Failed("the desktop ended the request", InjectNotice::kPortalFailed);
    return;
  }
  switch (step) {
  case Step::kCreate:
    if (results.sessionHandle.empty()) {
      Failed("CreateSession gave no session", InjectNotice::kPortalFailed);
      return;
    }
    sessionPath_ = results.sessionHandle;
    closedSlot_ = sd_bus_slot_unref(closedSlot_);
    sd_bus_match_signal_async(bus_, &closedSlot_, nullptr, sessionPath_.c_str(), kSession,
                              "Closed", ClosedThunk, nullptr, this);
    if (!Ask(Step::kSelect))
      Failed("SelectDevices could not be sent", InjectNotice::kPortalFailed);
    return;
  case Step::kSelect:
    if (!Ask(Step::kStart))
      Failed("Start could not be sent", InjectNotice::kPortalFailed);
    return;
  case Step::kStart:
    break;
  case Step::kNone:
    return;
  }
  step_ = Step::kNone;
  if (!(results.devices & kKeyboardDevice)) {
    Failed("the desktop gave no keyboard", InjectNotice::kConsentRefused);
    return;
  }
  if (!results.restoreToken.empty()) {
    const InjectHost host = InjectGetHost();
    if (host.saveToken)
      host.saveToken(results.restoreToken);
    PlatformTrace("inject: portal: the desktop keeps the leave; its token is kept");
  }
  PlatformTrace("inject: portal: the desktop allows typing (session %s)", sessionPath_.c_str());
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (linkUp_ && linkGen_ == askedGen_)
      state_ = PortalState::kGranted;
  }
  // A desktop without a physical keyboard loses the first key of a new
  // virtual keyboard: a lone Shift, which types nothing, goes first.
  SendKey(KEY_LEFTSHIFT, true);
  SendKey(KEY_LEFTSHIFT, false);
  SendQueued();
}

int PortalKeyboard::ClosedThunk(sd_bus_message *m, void *self, sd_bus_error *) {
  auto *kbd = static_cast<PortalKeyboard *>(self);
  if (kbd->FromPortal(m))
    kbd->OnClosed();
  return 0;
}

void PortalKeyboard::OnClosed() {
  PlatformTrace("inject: portal: the desktop closed the session %s", sessionPath_.c_str());
  // The session is gone: nothing can be released through it, and closing
  // it again is pointless.
  sessionPath_.clear();
  for (size_t k = 0; k < down_.size(); ++k)
    down_[k] = false;
  Failed("the desktop closed the session", InjectNotice::kSessionClosed);
}

int PortalKeyboard::KeyReplyThunk(sd_bus_message *m, void *self, sd_bus_error *) {
  auto *kbd = static_cast<PortalKeyboard *>(self);
  if (kbd->inFlight_ > 0)
    --kbd->inFlight_;
  if (sd_bus_message_is_method_error(m, nullptr) && !kbd->keyErrorTraced_) {
    kbd->keyErrorTraced_ = true;
    PlatformTrace("inject: portal: NotifyKeyboardKeycode failed: %s",
                  BusErrorText(*sd_bus_message_get_error(m), sd_bus_message_get_errno(m)).c_str());
  }
  return 0;
}

void PortalKeyboard::SendKey(uint16_t key, bool down) {
  if (sessionPath_.empty() || key > KEY_MAX)
    return;
  // Sent in order on the one connection; the answers are only traced.
  int r = sd_bus_call_method_async(bus_, nullptr, kPortal, kPortalPath, kRemoteDesktop,
                                   "NotifyKeyboardKeycode", KeyReplyThunk, this, "oa{sv}iu",
                                   sessionPath_.c_str(), 0, static_cast<int32_t>(key),
                                   static_cast<uint32_t>(down ? 1 : 0));
  if (r < 0) {
    if (!keyErrorTraced_)
      PlatformTrace("inject: portal: NotifyKeyboardKeycode not sent: %s", strerror(-r));
    keyErrorTraced_ = true;
    return;
  }
  ++inFlight_;
  down_[key] = down;
}

bool PortalKeyboard::KeysLeft() {
  if (step_ != Step::kNone || sessionPath_.empty())
    return false; // nothing can go out through this session
  std::lock_guard<std::mutex> lock(mu_);
  return !queue_.empty() && queue_.front().gen == askedGen_;
}

void PortalKeyboard::SendQueued() {
  std::deque<Event> batch;
  {
    std::lock_guard<std::mutex> lock(mu_);
    // Granted for this connection, or the connection just ended with keys
    // granted still to go out.
    if (step_ != Step::kNone || sessionPath_.empty())
      return;
    // Keys of a newer connection wait for that connection's session; past
    // kPortalKeysInFlight unanswered calls, keys wait for answers.
    while (!queue_.empty() && queue_.front().gen == askedGen_ &&
           inFlight_ + batch.size() < kPortalKeysInFlight) {
      batch.push_back(queue_.front());
      queue_.pop_front();
    }
  }
  for (const Event &e : batch)
    SendKey(e.key, e.down);
}

void PortalKeyboard::CloseSession(bool releaseKeys) {
  if (releaseKeys && step_ == Step::kNone && !sessionPath_.empty()) {
    for (size_t k = 0; k < down_.size(); ++k)
      if (down_[k]) {
        PlatformTrace("inject: portal: key %zu released before the session closes", k);
        SendKey(static_cast<uint16_t>(k), false);
      }
  }
  if (step_ != Step::kNone && !requestPath_.empty())
    sd_bus_call_method_async(bus_, nullptr, kPortal, requestPath_.c_str(), kRequest, "Close",
                             nullptr, nullptr, "");
  if (!sessionPath_.empty()) {
    sd_bus_call_method_async(bus_, nullptr, kPortal, sessionPath_.c_str(), kSession, "Close",
                             nullptr, nullptr, "");
    PlatformTrace("inject: portal: session %s closed", sessionPath_.c_str());
  }
  responseSlot_ = sd_bus_slot_unref(responseSlot_);
  callSlot_ = sd_bus_slot_unref(callSlot_);
  closedSlot_ = sd_bus_slot_unref(closedSlot_);
  sessionPath_.clear();
  requestPath_.clear();
  step_ = Step::kNone;
  for (size_t k = 0; k < down_.size(); ++k)
    down_[k] = false;
}

void PortalKeyboard::Failed(const char *what, InjectNotice notice) {
  PlatformTrace("inject: portal: no leave to type: %s; keys typed are dropped until the next "
                "connection",
                what);
  // Nothing was typed through a session that was not granted; one the
  // desktop closed can no longer take a release.
  CloseSession(false);
  bool current;
  {
    std::lock_guard<std::mutex> lock(mu_);
    // A newer connection's keys and state are its own.
    current = linkUp_ && linkGen_ == askedGen_;
    if (current) {
      state_ = PortalState::kIdle;
      queue_.clear();
    }
  }
  if (current)
    InjectTell(notice);
}
