// Private buses and dbusmock services for tests.
#include "tests/support/private_bus.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testbus {

namespace {

// Starts argv[0] (looked up on PATH) with stdout on `out` (-1: unchanged).
// The process gets SIGTERM when the test process ends, also when it dies
// without tearing down, so no bus or service outlives a failed test.
pid_t Spawn(std::vector<std::string> args, int out, int closeInChild) {
  std::vector<char *> argv;
  for (std::string &a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid != 0)
    return pid;
  // Only async-signal-safe calls until exec: the test process has threads.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent)
    _exit(127);
  if (out >= 0)
    dup2(out, 1);
  if (closeInChild >= 0)
    close(closeInChild);
  execvp(argv[0], argv.data());
  _exit(127);
}

} // namespace

bool DbusmockAvailable() {
  return access("/usr/bin/python3", X_OK) == 0 &&
         system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") == 0;
}

Daemon StartBus() {
  Daemon d;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0)
    return d;
  d.pid = Spawn({"dbus-daemon", "--session", "--nofork", "--print-address"}, fds[1], fds[0]);
  close(fds[1]);
  FILE *out = fdopen(fds[0], "r");
  char line[512] = {};
  if (d.pid > 0 && out && fgets(line, sizeof line, out)) {
    d.address = line;
    while (!d.address.empty() && (d.address.back() == '\n' || d.address.back() == '\r'))
      d.address.pop_back();
  }
  if (out)
    fclose(out);
  else
    close(fds[0]);
  return d;
}

pid_t StartMock(const std::vector<std::string> &args) {
  std::vector<std::string> all = {"/usr/bin/python3", "-m", "dbusmock"};
  all.insert(all.end(), args.begin(), args.end());
  return Spawn(all, -1, -1);
}

pid_t StartPython(const std::vector<std::string> &args) {
  std::vector<std::string> all = {"/usr/bin/python3"};
  all.insert(all.end(), args.begin(), args.end());
  return Spawn(all, -1, -1);
}

void Stop(pid_t pid) {
  if (pid > 0) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
}

sd_bus *Connect(const std::string &address) {
  sd_bus *bus = nullptr;
  sd_bus_new(&bus);
  sd_bus_set_address(bus, address.c_str());
  sd_bus_set_bus_client(bus, 1);
  if (sd_bus_start(bus) < 0) {
    sd_bus_unref(bus);
    return nullptr;
  }
  return bus;
}

bool WaitForName(sd_bus *bus, const char *name) {
  for (int i = 0; i < 300; ++i) {
    sd_bus_message *reply = nullptr;
    int has = 0;
    if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "NameHasOwner", nullptr, &reply, "s", name) >= 0)
      sd_bus_message_read(reply, "b", &has);
    sd_bus_message_unref(reply);
    if (has)
      return true;
    usleep(20000);
  }
  return false;
}

} // namespace testbus
