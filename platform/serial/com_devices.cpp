// Finding the device behind a port name: a link of that name in the devices
// folder (how the keyboard emulator and tests offer a pseudo-terminal), else
// the kernel's RFCOMM device of the same number.
#include "platform/serial/com_devices.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

std::string ComDevicesFolder() {
  if (const char *dir = getenv("VANTREL_DEVICES"); dir && *dir)
    return dir;
  if (const char *run = getenv("XDG_RUNTIME_DIR"); run && *run)
    return std::string(run) + "/vantrel/devices";
  return "/tmp/vantrel-" + std::to_string(getuid()) + "/devices";
}

std::string ComDevicePath(int index) {
  std::string link = ComDevicesFolder() + "/COM" + std::to_string(index);
  struct stat st;
  // lstat: a dangling link still means "this port is offered here", and
  // opening it then fails as a missing port instead of silently falling
  // through to a real RFCOMM device of the same number.
  if (lstat(link.c_str(), &st) == 0)
    return link;
  return "/dev/rfcomm" + std::to_string(index);
}
