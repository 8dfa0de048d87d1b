// Restarts itself once through KernelIoControl(IOCTL_HAL_REBOOT) and notes
// each start in the file named by its first argument: the arguments it got,
// and whether a descriptor left open by the first start survived.
#include "platform/system.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc < 2)
    return 2;
  const char *leftOpen = getenv("PROBE_OPEN_FD");
  // Look at the descriptor before opening anything, or the log file itself
  // could take its number.
  const bool survived = leftOpen && fcntl(atoi(leftOpen), F_GETFD) != -1;
  std::string line = "start";
  for (int i = 1; i < argc; ++i)
    line += std::string(" ") + argv[i];
  if (leftOpen)
    line += survived ? " fd-open" : " fd-closed";
  FILE *log = fopen(argv[1], "a");
  if (!log)
    return 2;
  fprintf(log, "%s\n", line.c_str());
  fclose(log);
  if (leftOpen)
    return 0; // the second start
  int fd = open("/dev/null", O_RDONLY); // deliberately without O_CLOEXEC
  setenv("PROBE_OPEN_FD", std::to_string(fd).c_str(), 1);
  KernelIoControl(IOCTL_HAL_REBOOT, nullptr, 0, nullptr, 0, nullptr);
  return 3; // the restart did not happen
}
