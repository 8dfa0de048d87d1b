#include "tests/support/pty_port.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace testsupport {

PtyPort::PtyPort(bool holdSlave) {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128];
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
      ptsname_r(master, name, sizeof name) != 0) {
    if (master >= 0)
      close(master);
    return;
  }
  // Raw before the program opens it; the settings stay with the terminal.
  int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio{};
  if (slave < 0 || tcgetattr(slave, &tio) != 0) {
    if (slave >= 0)
      close(slave);
    close(master);
    return;
  }
  cfmakeraw(&tio);
  tcsetattr(slave, TCSANOW, &tio);
  if (holdSlave)
    heldSlave_ = slave;
  else
    close(slave);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  master_ = master;
  slave_ = name;
}

PtyPort::~PtyPort() {
  if (!offered_.empty())
    unlink(offered_.c_str());
  HangUp();
}

bool PtyPort::OfferAs(const std::string &devicesDir, int index) {
  if (!ok())
    return false;
  std::error_code ignored;
  std::filesystem::create_directories(devicesDir, ignored);
  const std::string link = devicesDir + "/COM" + std::to_string(index);
  unlink(link.c_str());
  if (symlink(slave_.c_str(), link.c_str()) != 0)
    return false;
  if (!offered_.empty() && offered_ != link)
    unlink(offered_.c_str());
  offered_ = link;
  return true;
}

bool PtyPort::Send(const std::vector<uint8_t> &bytes) {
  size_t done = 0;
  while (master_ >= 0 && done < bytes.size()) {
    ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR)
      break;
    pollfd p{master_, POLLOUT, 0};
    poll(&p, 1, 100);
  }
  return done == bytes.size();
}

std::vector<uint8_t> PtyPort::Received(size_t atLeast, int waitMs) {
  std::vector<uint8_t> out;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (master_ >= 0) {
    uint8_t buf[512];
    ssize_t n;
    while ((n = read(master_, buf, sizeof buf)) > 0)
      out.insert(out.end(), buf, buf + n);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
    if (out.size() >= atLeast || left <= 0)
      break;
    pollfd p{master_, POLLIN, 0};
    poll(&p, 1, static_cast<int>(std::min<long long>(left, 20)));
  }
  return out;
}

std::vector<uint8_t> PtyPort::ReceivedUntilQuiet(int quietMs) {
  std::vector<uint8_t> out;
  while (master_ >= 0) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, quietMs) <= 0)
      break;
    uint8_t buf[512];
    ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0)
      break;
    out.insert(out.end(), buf, buf + n);
  }
  return out;
}

void PtyPort::HangUp() {
  if (master_ >= 0)
    close(master_);
  if (heldSlave_ >= 0)
    close(heldSlave_);
  master_ = heldSlave_ = -1;
}

} // namespace testsupport
