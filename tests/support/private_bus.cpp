// Private buses and dbusmock services for tests.
#include "tests/support/private_bus.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace testbus {

bool DbusmockAvailable() {
  return access("/usr/bin/python3", X_OK) == 0 &&
         system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") == 0;
}

Daemon StartBus() {
  Daemon d;
  int fds[2];
  if (pipe(fds) != 0)
    return d;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  const char *argv[] = {"dbus-daemon", "--session", "--nofork", "--print-address", nullptr};
  if (posix_spawnp(&d.pid, "dbus-daemon", &actions, nullptr, const_cast<char **>(argv), environ) != 0)
    d.pid = -1;
  posix_spawn_file_actions_destroy(&actions);
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
  std::vector<char *> argv;
  for (std::string &a : all)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
    return -1;
  return pid;
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
