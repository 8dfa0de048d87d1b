// Typing through the desktop's RemoteDesktop portal
// (org.freedesktop.portal.RemoteDesktop on the session bus): a session with
// a keyboard, asked for when the link connects and closed when it ends, and
// the evdev key events sent into it with NotifyKeyboardKeycode.
//
// The desktop asks the person before it lets a program type, and the answer
// may take as long as the person likes: one thread of the portal's own owns
// the bus connection and walks the portal's requests (CreateSession,
// SelectDevices, Start), each answered by its Request object's Response
// signal, subscribed before the call. The injecting thread never waits:
// key events typed while the answer is pending are held (in order, at most
// kPortalHeldEvents) and sent once the desktop agrees; refused, they are
// dropped and the person is told (InjectTell). A session the desktop closes
// is told too, and asked for again only at the next connection, so that a
// closed session never brings a stream of consent dialogs.
//
// Keys pressed and not yet released are released before the session is
// closed, so a disconnection leaves no modifier held on the desktop.
#pragma once

#include "platform/inject.h"
#include "platform/keymaps/key_events.h"

#include <systemd/sd-bus.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

// The portal's bus name, object and interface.
inline constexpr char kPortal[] = "org.freedesktop.portal.Desktop";
inline constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
inline constexpr char kRemoteDesktop[] = "org.freedesktop.portal.RemoteDesktop";
#include <thread>
#include <vector>

// Key events held at most while the desktop's answer is pending (a few
// hundred characters), or while the portal is slow to take them; later
// ones are dropped, with a trace line.
constexpr size_t kPortalHeldEvents = 4096;
// Key calls sent and not yet answered, at most: the bus limits the replies
// a connection may await (a few hundred on some buses), so the rest wait
// in order for answers to come in.
constexpr unsigned kPortalKeysInFlight = 32;

enum class PortalState {
  kIdle,    // no session: the link is down, or this connection was refused
  kAsking,  // the session is being set up; the person may be asked
  kGranted, // keys are sent
};

class PortalKeyboard {
public:
  PortalKeyboard() = default;
  ~PortalKeyboard();
  PortalKeyboard(const PortalKeyboard &) = delete;
  PortalKeyboard &operator=(const PortalKeyboard &) = delete;

  // Starts the portal's thread on bus (taken: closed when the thread ends).
  // version is the portal's interface version (2 and above: the desktop may
  // keep the person's consent with a restore token); portalOwner the unique
  // name owning the portal, the only sender whose Response and Closed
  // signals are believed (any program of the session may send a signal).
  // Returns false, with why set, when the thread cannot start (bus is then
  // closed).
  bool Start(sd_bus *bus, unsigned version, const std::string &portalOwner, std::string &why);
  // The link connected: a session is asked for (once per connection).
  void LinkUp();
  // The link ended: keys held down are released and the session closed;
  // events still held are dropped.
  void LinkDown();
  // Sends, holds or drops the EV_KEY events of events (others are passed
  // over) as the session's state allows; never waits for the bus.
  void Send(const std::vector<KeyInputEvent> &events);
  // Ends the thread (as LinkDown, then joins). Safe to call again.
  void Stop();

  // The session's state now; the key events waiting to go out.
  PortalState State();
  size_t HeldEvents();

private:
  struct Event {
    uint16_t key;
    bool down;
    uint64_t gen; // the connection it was typed in
  };
  enum class Step { kNone, kCreate, kSelect, kStart };

  void Serve();
  void Wake();
  // On the thread.
  void Open();
  void CloseSession(bool releaseKeys);
  bool Ask(Step step);
  void SendQueued();
  // Whether keys of the session's connection still wait to go out.
  bool KeysLeft();
  void SendKey(uint16_t key, bool down);
  // The session cannot be had: told to the person as notice.
  void Failed(const char *what, InjectNotice notice);
  void OnResponse(sd_bus_message *m);
  void OnClosed();
  static int ResponseThunk(sd_bus_message *m, void *self, sd_bus_error *);
  static int ReplyThunk(sd_bus_message *m, void *self, sd_bus_error *);
  static int ClosedThunk(sd_bus_message *m, void *self, sd_bus_error *);
  static int KeyReplyThunk(sd_bus_message *m, void *self, sd_bus_error *);

  // Shared with the injecting thread, under mu_.
  std::mutex mu_;
  std::deque<Event> queue_;
  bool linkUp_ = false;
  uint64_t linkGen_ = 0;   // connections seen
  bool stopping_ = false;
  bool ended_ = false;
  bool dropTraced_ = false;
  PortalState state_ = PortalState::kIdle;

  // The thread's own.
  std::thread thread_;
  sd_bus *bus_ = nullptr;
  int wake_ = -1;
  unsigned version_ = 1;
  std::string sender_;     // our unique name as request paths carry it
  std::string owner_;      // the portal's unique name
  // Whether m comes from the portal; traces it when not.
  bool FromPortal(sd_bus_message *m);
  uint64_t askedGen_ = 0;  // the connection a session was asked for
  uint64_t tokens_ = 0;
  Step step_ = Step::kNone;
  std::string requestPath_;
  std::string sessionPath_;
  sd_bus_slot *responseSlot_ = nullptr;
  sd_bus_slot *callSlot_ = nullptr;
  sd_bus_slot *closedSlot_ = nullptr;
  std::vector<bool> down_;  // keys sent pressed and not released
  bool keyErrorTraced_ = false;
  unsigned inFlight_ = 0;   // key calls awaiting their answer
};
