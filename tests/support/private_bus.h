// Private D-Bus buses and python3-dbusmock services for tests: a bus is a
// dbus-daemon of its own, started by the test and stopped after it, so no
// test reaches the machine's system or session bus.
#pragma once

#include <systemd/sd-bus.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace testbus {

struct Daemon {
  pid_t pid = -1;
  std::string address; // empty when the daemon did not start
};

// True when /usr/bin/python3 can import dbusmock (the mocks need it).
bool DbusmockAvailable();
// Starts dbus-daemon with a private bus and reads its address.
Daemon StartBus();
// Starts `python3 -m dbusmock ARGS...`; its pid, or -1.
pid_t StartMock(const std::vector<std::string> &args);
// Starts `/usr/bin/python3 ARGS...` (a stand-in script); its pid, or -1.
pid_t StartPython(const std::vector<std::string> &args);
// Ends a process started above (SIGTERM) and reaps it. -1 is ignored.
void Stop(pid_t pid);
// A client connection to `address`, closed by the caller
// (sd_bus_flush_close_unref); nullptr when it cannot connect.
sd_bus *Connect(const std::string &address);
// Waits up to 6 s for `name` to have an owner on the bus.
bool WaitForName(sd_bus *bus, const char *name);

} // namespace testbus
