// The RemoteDesktop portal stand-in (tests/support/portal_stand_in.py) on a
// private session bus: started by a test, torn down when the object goes.
// While it runs, DBUS_SESSION_BUS_ADDRESS names its bus (put back after).
#pragma once

#include "tests/support/private_bus.h"

#include <string>
#include <utility>
#include <vector>

namespace testbus {

class PortalStandIn {
public:
  // version: the interface version the portal offers (1: Debian 12's).
  // forwardMutter: keys also go to org.gnome.Mutter.RemoteDesktop on the
  // bus at busAddress (empty: a new private bus is started).
  explicit PortalStandIn(unsigned version = 1, bool forwardMutter = false,
                         const std::string &busAddress = "");
  ~PortalStandIn();
  PortalStandIn(const PortalStandIn &) = delete;
  PortalStandIn &operator=(const PortalStandIn &) = delete;

  bool Ready() const { return ready_; }
  const std::string &Problem() const { return problem_; }

  // The person's answer to the next requests: 0 allowed, 1 refused, 2 the
  // desktop failed; after delayMs.
  bool SetAnswer(unsigned code, unsigned delayMs);
  // The desktop closes every session.
  bool CloseSessions();
  // Key calls are answered only after delayMs (a slow desktop).
  bool SetKeyDelay(unsigned delayMs);
  // While held, reads of the portal's properties get their answer only
  // when released (a portal that is slow to start).
  bool HoldProperties(bool hold);
  // Property reads waiting for the release.
  unsigned HeldReads();
  // The most key calls that awaited their answer at once.
  unsigned MaxPendingKeys();
  // Another program of the session sends a Response signal with code on the
  // request the last caller of CreateSession predicts for token.
  bool ForgeResponse(const std::string &token, unsigned code);
  // The key codes typed so far: (evdev code, 1 pressed / 0 released).
  std::vector<std::pair<int, unsigned>> Keys();
  // How many times the person was asked; sessions open now.
  unsigned Dialogs();
  unsigned OpenSessions();

private:
  unsigned Count(const char *method);

  Daemon daemon_;
  pid_t portal_ = -1;
  sd_bus *bus_ = nullptr;
  bool ready_ = false;
  std::string problem_;
  std::string oldAddress_;
  bool hadAddress_ = false;
};

} // namespace testbus
