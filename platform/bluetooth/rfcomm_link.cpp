// The raw RFCOMM stream: a service discovery query on L2CAP channel 1 for
// the serial port's RFCOMM channel, then an RFCOMM socket to it. The kernel's
// Bluetooth socket addresses are declared here, so no Bluetooth library or
// header is needed.
#include "platform/bluetooth/rfcomm_link.h"

#include "platform/bluetooth/bluez.h"
#include "platform/bluetooth/sdp_packets.h"
#include "platform/trace.h"

#include <cerrno>
#include <cstring>
#include <endian.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kAfBluetooth = 31;
constexpr int kProtoL2cap = 0;
constexpr int kProtoRfcomm = 3;
constexpr uint16_t kSdpPsm = 1;
constexpr int kConnectTimeoutMs = 10000;
constexpr int kAnswerTimeoutMs = 5000;
// An answer comes in at most this many parts and lists at most this many
// bytes; a device that sends more is not believed.
constexpr int kMaxParts = 32;
constexpr size_t kMaxListBytes = 64 * 1024;

// A device address as the kernel takes it: least significant byte first.
struct BluetoothAddress {
  uint8_t b[6];
};
struct L2capAddress {
  sa_family_t family;
  uint16_t psm; // little-endian
  BluetoothAddress address;
  uint16_t cid;
  uint8_t addressType; // 0: BR/EDR
};
struct RfcommAddress {
  sa_family_t family;
  BluetoothAddress address;
  uint8_t channel;
};
static_assert(sizeof(L2capAddress) == 14, "the kernel's sockaddr_l2");
static_assert(sizeof(RfcommAddress) == 10, "the kernel's sockaddr_rc");

// "02a5f300002a" -> bytes 2a 00 00 f3 a5 02. False when it is not 12 digits.
bool ParseAddress(const std::string &digits, BluetoothAddress *out) {
  if (digits.size() != 12)
    return false;
  for (int i = 0; i < 6; ++i) {
    unsigned value = 0;
    for (int k = 0; k < 2; ++k) {
      char c = digits[static_cast<size_t>(2 * i + k)];
      int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (d < 0)
        return false;
      value = value * 16 + static_cast<unsigned>(d);
    }
    out->b[5 - i] = static_cast<uint8_t>(value);
  }
  return true;
}

// A socket connected within kConnectTimeoutMs, or -1 with *why set.
int ConnectSocket(int type, int protocol, const sockaddr *address, socklen_t length,
                  const char *what, std::string *why) {
  int fd = socket(kAfBluetooth, type | SOCK_CLOEXEC | SOCK_NONBLOCK, protocol);
  if (fd < 0) {
    *why = errno == EAFNOSUPPORT || errno == EPROTONOSUPPORT
               ? std::string("this system offers no Bluetooth sockets (") + strerror(errno) + ")"
               : std::string("no ") + what + " socket (" + strerror(errno) + ")";
    return -1;
  }
  int r = connect(fd, address, length);
  if (r < 0 && errno == EINPROGRESS) {
    pollfd p = {fd, POLLOUT, 0};
    r = poll(&p, 1, kConnectTimeoutMs);
    int err = 0;
    socklen_t len = sizeof err;
    if (r == 0)
      err = ETIMEDOUT;
    else if (r < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0)
      err = errno;
    errno = err;
    r = err == 0 ? 0 : -1;
  }
  if (r < 0) {
    *why = std::string(what) + " connection failed (" + strerror(errno) + ")";
    close(fd);
    return -1;
  }
  return fd;
}

// One request and its answer on the SDP socket. The answer's length, or -1.
ssize_t Exchange(int fd, const std::vector<uint8_t> &request, uint8_t *answer, size_t size) {
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
    return -1;
  pollfd p = {fd, POLLIN, 0};
  if (poll(&p, 1, kAnswerTimeoutMs) <= 0)
    return -1;
  return recv(fd, answer, size, 0);
}

// The serial port's RFCOMM channel, or -1 with *why set.
int FindChannel(const BluetoothAddress &address, std::string *why) {
  L2capAddress l2{};
  l2.family = kAfBluetooth;
  l2.psm = htole16(kSdpPsm);
  l2.address = address;
  int fd = ConnectSocket(SOCK_SEQPACKET, kProtoL2cap, reinterpret_cast<const sockaddr *>(&l2),
                         sizeof l2, "service discovery", why);
  if (fd < 0)
    return -1;
  std::vector<uint8_t> lists, continuation, request;
  uint8_t answer[2048];
  int channel = -1;
  for (uint16_t tid = 1; tid <= kMaxParts; ++tid) {
    BuildSdpAttributeSearch(tid, kSerialPortServiceClass, continuation, &request);
    ssize_t n = Exchange(fd, request, answer, sizeof answer);
    if (n < 0) {
      *why = "the device did not answer the service discovery";
      break;
    }
    uint16_t code = 0;
    SdpReply reply = ParseSdpAttributeSearchReply(answer, static_cast<size_t>(n), tid, &lists,
                                                  &continuation, &code);
    if (reply == SdpReply::Error) {
      *why = "the device refused the service discovery (error " + std::to_string(code) + ")";
      break;
    }
    if (reply == SdpReply::Malformed || lists.size() > kMaxListBytes) {
      *why = "the device's service discovery answer was malformed";
      break;
    }
    if (continuation.empty()) {
      channel = RfcommChannelFromAttributeLists(lists.data(), lists.size());
      if (channel < 0)
        *why = "the device offers no serial port channel";
      break;
    }
    if (tid == kMaxParts)
      *why = "the device's service discovery answer did not end";
  }
  close(fd);
  return channel;
}

} // namespace

int RfcommConnect(const BluezDevice &device, std::string *why) {
  BluetoothAddress address;
  if (!ParseAddress(device.address, &address)) {
    *why = "not a device address: " + device.address;
    return -1;
  }
  int channel = FindChannel(address, why);
  if (channel < 0)
    return -1;
  PlatformTrace("bluetooth: %s: serial port on RFCOMM channel %d", device.address.c_str(), channel);
  RfcommAddress rc{};
  rc.family = kAfBluetooth;
  rc.address = address;
  rc.channel = static_cast<uint8_t>(channel);
  return ConnectSocket(SOCK_STREAM, kProtoRfcomm, reinterpret_cast<const sockaddr *>(&rc), sizeof rc,
                       "RFCOMM", why);
}
