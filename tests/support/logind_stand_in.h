// A logind stand-in (python3-dbusmock's logind template) on a bus the test
// already runs, announcing the machine's sleep and resume on demand.
#pragma once

#include "tests/support/private_bus.h"

#include <string>

namespace testbus {

class LogindStandIn {
public:
  // Starts the stand-in on the bus at `address` and waits for its name.
  explicit LogindStandIn(const std::string &address);
  ~LogindStandIn();
  LogindStandIn(const LogindStandIn &) = delete;
  LogindStandIn &operator=(const LogindStandIn &) = delete;

  bool Ready() const { return ready_; }
  // logind's PrepareForSleep signal: true before a sleep, false after the
  // resume. True when the stand-in has sent it.
  bool PrepareForSleep(bool sleeping);

private:
  pid_t mock_ = -1;
  sd_bus *bus_ = nullptr;
  bool ready_ = false;
};

} // namespace testbus
