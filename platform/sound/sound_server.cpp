// Trying the sound server's local sockets before the client library is
// loaded (see sound_server.h).
#include "platform/sound/sound_server.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

// A socket that accepts a connection, or whose queue is full for now: a
// server is there either way.
bool SocketAnswers(const std::string &path) {
  sockaddr_un address{};
  if (path.empty() || path.size() >= sizeof address.sun_path)
    return false;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0)
    return true; // cannot tell: the library decides
  address.sun_family = AF_UNIX;
  memcpy(address.sun_path, path.data(), path.size());
  int r = connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
  bool answers = r == 0 || errno == EAGAIN || errno == EINPROGRESS;
  close(fd);
  return answers;
}

std::string Environment(const char *name) {
  const char *value = getenv(name);
  return value ? value : "";
}

} // namespace

bool SoundServerMayAnswer(std::string *tried) {
  std::vector<std::string> sockets;
  const std::string servers = Environment("PULSE_SERVER");
  if (!servers.empty()) {
    // The addresses are separated by white space. Split by hand: a string
    // stream would set up the C++ library's whole locale and stream code
    // for this one look, and those pages would stay with the program.
    constexpr const char *kSpace = " \t\n\v\f\r";
    for (size_t at = servers.find_first_not_of(kSpace); at != std::string::npos;
         at = servers.find_first_not_of(kSpace, at)) {
      const size_t stop = std::min(servers.find_first_of(kSpace, at), servers.size());
      std::string entry = servers.substr(at, stop - at);
      at = stop;
      // "{machine}" limits an address to one machine; the address follows.
      if (entry[0] == '{') {
        size_t end = entry.find('}');
        entry = end == std::string::npos ? "" : entry.substr(end + 1);
      }
      if (entry.rfind("unix:", 0) == 0)
        sockets.push_back(entry.substr(5));
      else if (!entry.empty() && entry[0] == '/')
        sockets.push_back(entry);
      else if (!entry.empty())
        return true; // a network address: only the library can try it
    }
  } else {
    std::string runtime = Environment("PULSE_RUNTIME_PATH");
    if (runtime.empty()) {
      const std::string xdg = Environment("XDG_RUNTIME_DIR");
      if (xdg.empty())
        return true; // the library would look below the home folder
      runtime = xdg + "/pulse";
    }
    sockets.push_back(runtime + "/native");
    sockets.push_back("/var/run/pulse/native");
  }
  tried->clear();
  for (const std::string &path : sockets) {
    if (SocketAnswers(path))
      return true;
    *tried += (tried->empty() ? "" : ", ") + path;
  }
  return false;
}
