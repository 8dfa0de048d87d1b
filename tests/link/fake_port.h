// A pseudo-terminal offered as COMn in the devices folder: the program opens
// "COMn:" as usual, the test reads the packets and writes the keyboard's
// bytes on the other side.
#pragma once

#include <cstdint>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace linktest {

class FakePort {
public:
  FakePort(const std::string &devices, int index) {
    termios raw{};
    cfmakeraw(&raw);
    char name[128] = {};
    if (openpty(&master_, &slave_, name, &raw, nullptr) != 0)
      return;
    link_ = devices + "/COM" + std::to_string(index);
    unlink(link_.c_str());
    if (symlink(name, link_.c_str()) != 0)
      link_.clear();
    // The slave stays open here too, so the program's close is no hang-up.
  }
  ~FakePort() {
    if (!link_.empty())
      unlink(link_.c_str());
    if (master_ >= 0)
      close(master_);
    if (slave_ >= 0)
      close(slave_);
  }
  bool ok() const { return master_ >= 0 && !link_.empty(); }
  void Write(const std::vector<uint8_t> &bytes) {
    if (::write(master_, bytes.data(), bytes.size()) < 0)
      return;
  }
  // Everything the program wrote so far.
  std::vector<uint8_t> Read() {
    std::vector<uint8_t> out;
    uint8_t buf[256];
    for (;;) {
      fd_set set;
      FD_ZERO(&set);
      FD_SET(master_, &set);
      timeval tv{0, 20000};
      if (select(master_ + 1, &set, nullptr, nullptr, &tv) <= 0)
        break;
      ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0)
        break;
      out.insert(out.end(), buf, buf + n);
    }
    return out;
  }
  // Kinds (byte 4) of the 12-byte packets written so far.
  std::vector<int> PacketKinds() {
    std::vector<uint8_t> bytes = Read();
    std::vector<int> kinds;
    for (size_t i = 0; i + 12 <= bytes.size(); i += 12)
      kinds.push_back(bytes[i + 4] == 1 ? 100 + bytes[i + 5] : bytes[i + 4]);
    return kinds;
  }

private:
  int master_ = -1, slave_ = -1;
  std::string link_;
};

} // namespace linktest
