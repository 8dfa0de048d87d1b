// Listening on a Unix stream socket for the link's connections.
#include "socket_link.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

int ListenAt(const std::string &path, std::string &error) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    error = "--listen: the path is too long for a socket";
    return -1;
  }
  memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      error = "--listen: " + path + " exists and is not a socket";
      return -1;
    }
    unlink(path.c_str()); // left by an emulator that was killed
  }
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
      listen(fd, 4) != 0) {
    error = "--listen: " + path + ": " + strerror(errno);
    if (fd >= 0)
      close(fd);
    return -1;
  }
  return fd;
}
