// Serial ports: a COMn: handle is a tty (an RFCOMM device or a
// pseudo-terminal) in raw mode, opened exclusively, non-blocking, or a
// stream socket to a Bluetooth device that BlueZ connected (its virtual
// port, COM10 and up; no termios there). Every read and write waits with
// ppoll() for exactly the time its COMMTIMEOUTS allow. A byte that arrives
// wakes the waiting read at once; a port whose other side went away
// (hang-up, EIO) makes reads and writes fail instead of blocking or
// spinning; closing the handle wakes any call still waiting.
// The device is read a buffer at a time, whatever a call asks for: the
// bytes beyond what it asked for wait in the port's own input buffer for the
// next call (as they would have waited in the device), so a caller reading
// one byte at a time makes one system call per burst, not one per byte.
// A read or WaitCommEvent about to wait first sends the injected keys the
// injection backend holds back (InjectFlush): the thread that reads the
// keyboard is the one that types, and nothing it typed waits with it.
#include "platform/serial.h"

#include "platform/bluetooth/bluez.h"
#include "platform/core/host_path.h"
#include "platform/core/kernel_object.h"
#include "platform/files.h"
#include "platform/inject.h"
#include "platform/text.h"
#include "platform/serial/com_devices.h"
#include "platform/serial/com_wait.h"
#include "platform/trace.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kLastComPort = 9999;

// Why the last open on this thread failed, in words for a person.
thread_local std::string tComPortProblem;

void SetComPortProblem(const std::string &words) { tComPortProblem = words; }

// What this process has open, guarded by gClaimMutex: devices by device
// number (a tty opened with TIOCEXCL still lets root open it again, so the
// process keeps its own list), and virtual ports by number (one stream per
// device).
std::mutex gClaimMutex;
std::set<dev_t> gClaimed;
std::set<int> gClaimedVirtual;

// Notes key as open in claimed: false when it is open already.
template <typename Key> bool Claim(std::set<Key> &claimed, Key key) {
  std::lock_guard<std::mutex> lock(gClaimMutex);
  return claimed.insert(key).second;
}

template <typename Key> void Unclaim(std::set<Key> &claimed, Key key) {
  std::lock_guard<std::mutex> lock(gClaimMutex);
  claimed.erase(key);
}

class SerialPort : public KernelObject {
public:
  // stream: fd is a socket from BlueZ (dev unused), else a tty.
  SerialPort(int index, int fd, int wakeFd, dev_t dev, bool canRead, bool canWrite, bool stream = false)
      : index_(index), fd_(fd), wakeFd_(wakeFd), dev_(dev), canRead_(canRead), canWrite_(canWrite),
        stream_(stream), eventFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

  ~SerialPort() override { Shut(); }

  BOOL Read(void *buffer, DWORD n, DWORD *read) override {
    std::shared_lock<std::shared_mutex> use(useMutex_);
    *read = 0;
    if (fd_ < 0 || !canRead_)
      return Fail(ERROR_INVALID_HANDLE);
    ComReadPlan plan = PlanRead(Timeouts(), n);
    uint8_t *out = static_cast<uint8_t *>(buffer);
    DWORD got = 0;
    ComClock::time_point lastByte{};
    bool hungUp = false;
    while (got < n) {
      if (DWORD taken = TakeBuffered(out + got, n - got)) {
        got += taken;
        lastByte = ComClock::now();
        if (plan.returnOnFirstData)
          break;
        continue;
      }
      // As much as the device holds, straight into the caller's buffer
      // when it asked for as much; the rest waits for the next call.
      uint8_t chunk[sizeof input_];
      const bool direct = n - got >= sizeof chunk;
      ssize_t r = direct ? ::read(fd_, out + got, n - got) : ::read(fd_, chunk, sizeof chunk);
      if (r > 0 && direct) {
        got += static_cast<DWORD>(r);
        lastByte = ComClock::now();
        if (plan.returnOnFirstData)
          break;
        continue;
      }
      if (r > 0) {
        std::lock_guard<std::mutex> lock(inputMutex_);
        memcpy(input_, chunk, static_cast<size_t>(r));
        inputStart_ = 0;
        inputEnd_ = static_cast<size_t>(r);
        continue;
      }
      if (r < 0 && errno == EINTR)
        continue;
      if (r == 0 || (r < 0 && errno != EAGAIN) || hungUp)
        return EndRead(got, read, "port hung up");
      // Nothing buffered: wait for the next byte within the time-outs.
      InjectFlush();
      ComClock::time_point deadline = plan.DeadlineAfter(got, lastByte);
      ComWaitResult w = WaitForFd(fd_, POLLIN, wakeFd_, deadline, plan.HasDeadline(got), &hungUp);
      if (w == ComWaitResult::TimedOut)
        break;
      if (w != ComWaitResult::Ready)
        return EndRead(got, read, w == ComWaitResult::Closed ? nullptr : "port hung up");
    }
    *read = got;
    return TRUE;
  }

  BOOL Write(const void *buffer, DWORD n, DWORD *written) override {
    std::shared_lock<std::shared_mutex> use(useMutex_);
    *written = 0;
    if (fd_ < 0 || !canWrite_)
      return Fail(ERROR_INVALID_HANDLE);
    COMMTIMEOUTS t = Timeouts();
    uint64_t totalMs = uint64_t(t.WriteTotalTimeoutMultiplier) * n + t.WriteTotalTimeoutConstant;
    ComClock::time_point deadline = ComClock::now() + std::chrono::milliseconds(totalMs);
    const uint8_t *in = static_cast<const uint8_t *>(buffer);
    DWORD put = 0;
    while (put < n) {
      // A socket whose far side has gone must fail the write, not raise
      // SIGPIPE in the program.
      ssize_t w = stream_ ? ::send(fd_, in + put, n - put, MSG_NOSIGNAL | MSG_DONTWAIT)
                          : ::write(fd_, in + put, n - put);
      if (w > 0) {
        put += static_cast<DWORD>(w);
        continue;
      }
      if (w < 0 && errno == EINTR)
        continue;
      if (w == 0 || errno != EAGAIN) {
        *written = put;
        PlatformTrace("serial: COM%d: write failed: %s", index_, strerror(errno));
        return Fail(ERROR_WRITE_FAULT);
      }
      ComWaitResult r = WaitForFd(fd_, POLLOUT, wakeFd_, deadline, totalMs != 0);
      if (r != ComWaitResult::Ready) {
        *written = put;
        return Fail(r == ComWaitResult::TimedOut ? ERROR_TIMEOUT : ERROR_WRITE_FAULT);
      }
    }
    *written = put;
    return TRUE;
  }

  // Wakes every call waiting on the port, waits for them to leave, then
  // releases the device so that it can be opened again at once.
  void HandleClosed() override {
    uint64_t one = 1;
    if (wakeFd_ >= 0 && ::write(wakeFd_, &one, sizeof one) < 0) {
      // An eventfd write only fails on counter overflow; the waiters are awake.
    }
    closing_.store(true);
    if (eventFd_ >= 0 && ::write(eventFd_, &one, sizeof one) < 0) {
      // As above: a wake is pending already.
    }
    std::unique_lock<std::shared_mutex> exclusive(useMutex_);
    Shut();
  }

  // PurgeComm's PURGE_RXCLEAR (see serial.h).
  BOOL DiscardInput() {
    std::shared_lock<std::shared_mutex> use(useMutex_);
    if (fd_ < 0 || !canRead_)
      return Fail(ERROR_INVALID_HANDLE);
    if (stream_)
      return TRUE; // a stream BlueZ connected holds only this connection's bytes
    int pending = 0;
    if (ioctl(fd_, FIONREAD, &pending) != 0)
      pending = 0;
    {
      std::lock_guard<std::mutex> lock(inputMutex_);
      pending += static_cast<int>(inputEnd_ - inputStart_);
      inputStart_ = inputEnd_ = 0;
    }
    if (tcflush(fd_, TCIFLUSH) != 0) {
      if (errno != EIO) // a tty that hung up has dropped its input itself
        PlatformTrace("serial: COM%d: pending input not discarded: %s", index_, strerror(errno));
      return Fail(ERROR_GEN_FAILURE);
    }
    if (pending > 0)
      PlatformTrace("serial: COM%d: discarded %d bytes of input", index_, pending);
    return TRUE;
  }

  // WaitCommEvent (see serial.h).
  BOOL WaitEvent(DWORD *mask) {
    std::shared_lock<std::shared_mutex> use(useMutex_);
    *mask = 0;
    if (fd_ < 0 || !canRead_)
      return Fail(ERROR_INVALID_HANDLE);
    if (eventFd_ < 0)
      return Fail(ERROR_GEN_FAILURE);
    if ((mask_.load() & EV_RXCHAR) == 0)
      return Fail(ERROR_INVALID_PARAMETER);
    if (HasBuffered()) {
      *mask = EV_RXCHAR; // read in by an earlier call: nothing to wait for
      return TRUE;
    }
    InjectFlush();
    for (;;) {
      // The close and SetCommMask both signal eventFd_; closing_ tells
      // them apart.
      pollfd fds[2] = {{fd_, POLLIN, 0}, {eventFd_, POLLIN, 0}};
      int r = ppoll(fds, 2, nullptr, nullptr);
      if (r < 0) {
        if (errno == EINTR)
          continue;
        return Fail(ERROR_GEN_FAILURE);
      }
      if (fds[1].revents) {
        if (closing_.load())
          return Fail(ERROR_INVALID_HANDLE); // the handle is being closed
        uint64_t count;
        if (::read(eventFd_, &count, sizeof count) < 0) {
          // Another wait took the wake first: this one ends all the same.
        }
        return TRUE; // SetCommMask: *mask stays 0
      }
      if (fds[0].revents & POLLIN) {
        *mask = EV_RXCHAR;
        return TRUE;
      }
      if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        *mask = EV_ERR; // the next read reports the hang-up
        return TRUE;
      }
    }
  }

  // SetCommMask (see serial.h).
  void SetMask(DWORD mask) {
    // Shared, as a read or wait: the close cannot shut the descriptor
    // meanwhile.
    std::shared_lock<std::shared_mutex> use(useMutex_);
    mask_.store(mask);
    uint64_t one = 1;
    if (eventFd_ >= 0 && ::write(eventFd_, &one, sizeof one) < 0) {
      // Only fails on counter overflow: a wake is pending already.
    }
  }

  COMMTIMEOUTS Timeouts() {
    std::lock_guard<std::mutex> lock(timeoutMutex_);
    return timeouts_;
  }
  void SetTimeouts(const COMMTIMEOUTS &t) {
    std::lock_guard<std::mutex> lock(timeoutMutex_);
    timeouts_ = t;
  }

private:
  // Moves up to n bytes of the input read in earlier into out; returns how
  // many.
  DWORD TakeBuffered(uint8_t *out, DWORD n) {
    std::lock_guard<std::mutex> lock(inputMutex_);
    size_t take = std::min<size_t>(n, inputEnd_ - inputStart_);
    memcpy(out, input_ + inputStart_, take);
    inputStart_ += take;
    return static_cast<DWORD>(take);
  }
  bool HasBuffered() {
    std::lock_guard<std::mutex> lock(inputMutex_);
    return inputEnd_ > inputStart_;
  }

  static BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
  }

  // A port that went away: bytes already read in this call are still
  // delivered (the next call reports the failure), so nothing is lost.
  BOOL EndRead(DWORD got, DWORD *read, const char *why) {
    *read = got;
    if (got > 0)
      return TRUE;
    if (why)
      PlatformTrace("serial: COM%d: %s", index_, why);
    return Fail(ERROR_READ_FAULT);
  }

  void Shut() {
    if (fd_ >= 0) {
      if (stream_) {
        BluezSerialClosed(fd_);
        ::close(fd_);
        Unclaim(gClaimedVirtual, index_);
      } else {
        ::close(fd_);
        Unclaim(gClaimed, dev_);
      }
      fd_ = -1;
    }
    if (wakeFd_ >= 0) {
      ::close(wakeFd_);
      wakeFd_ = -1;
    }
    if (eventFd_ >= 0) {
      ::close(eventFd_);
      eventFd_ = -1;
    }
  }

  int index_;
  int fd_;
  int wakeFd_;
  dev_t dev_;
  bool canRead_, canWrite_;
  bool stream_;
  // Ends a WaitCommEvent (SetCommMask, and the close with closing_ set):
  // unlike wakeFd_, it leaves reads be.
  int eventFd_;
  std::atomic<bool> closing_{false};
  std::atomic<DWORD> mask_{0};
  // What the device gave beyond what a read asked for, in
  // input_[inputStart_, inputEnd_); handed out before the device is read
  // again.
  std::mutex inputMutex_;
  uint8_t input_[256];
  size_t inputStart_ = 0, inputEnd_ = 0;
  std::shared_mutex useMutex_;
  std::mutex timeoutMutex_;
  COMMTIMEOUTS timeouts_{}; // all zero: reads and writes wait without limit
};

bool MakeRaw(int fd) {
  termios tio;
  if (tcgetattr(fd, &tio) != 0)
    return false;
  cfmakeraw(&tio);
  tio.c_cflag |= CREAD;
  // Modem control stays on, so an RFCOMM link that drops hangs the tty up.
  tio.c_cflag &= ~CLOCAL;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

HANDLE RefuseOpen(int index, const std::string &path, DWORD error, const char *why) {
  PlatformTrace("serial: COM%d: cannot open %s: %s", index, path.c_str(), why);
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

// A virtual port of a device BlueZ has paired: true when `index` is one
// (then *handle is the open stream, or INVALID_HANDLE_VALUE with the reason
// in GetLastError); false when BlueZ does not know it.
bool OpenBluezPort(int index, bool wantRead, bool wantWrite, HANDLE *handle) {
  std::vector<BluezDevice> devices;
  std::string why;
  if (BluezPairedDevices(&devices, &why) != BluezAnswer::Served)
    return false;
  const BluezDevice *device = nullptr;
  for (const BluezDevice &d : devices)
    if (d.portNumber == index)
      device = &d;
  if (!device)
    return false;
  *handle = INVALID_HANDLE_VALUE;
  if (!Claim(gClaimedVirtual, index)) {
    PlatformTrace("serial: COM%d: already open in this process", index);
    SetLastError(ERROR_SHARING_VIOLATION);
    return true;
  }
  PlatformTrace("serial: COM%d: connecting %s (%s) through BlueZ", index, device->address.c_str(),
                device->name.c_str());
  DWORD error = ERROR_SUCCESS;
  int fd = BluezConnectSerial(*device, &error, &why);
  int wakeFd = fd >= 0 ? eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK) : -1;
  if (fd >= 0 && (wakeFd < 0 || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) != 0)) {
    why = strerror(errno);
    error = ERROR_NOT_ENOUGH_MEMORY;
    BluezSerialClosed(fd);
    ::close(fd);
    if (wakeFd >= 0)
      ::close(wakeFd);
    fd = -1;
  }
  if (fd < 0) {
    Unclaim(gClaimedVirtual, index);
    PlatformTrace("serial: COM%d: cannot open: %s", index, why.c_str());
    SetComPortProblem(why);
    SetLastError(error);
    return true;
  }
  *handle = RegisterHandle(
      std::make_shared<SerialPort>(index, fd, wakeFd, 0, wantRead, wantWrite, true));
  PlatformTrace("serial: COM%d: opened the serial stream of %s", index, device->address.c_str());
  return true;
}

} // namespace

HANDLE OpenComPort(int index, DWORD access) {
  if (index < 0 || index > kLastComPort) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  bool wantRead = access & GENERIC_READ, wantWrite = access & GENERIC_WRITE;
  if (!wantRead && !wantWrite)
    wantRead = wantWrite = true;
  SetComPortProblem("");
  // A link in the devices folder comes first, then a BlueZ virtual port,
  // then the kernel's RFCOMM device.
  if (HANDLE h; !ComLinkOffered(index) && OpenBluezPort(index, wantRead, wantWrite, &h))
    return h;
  int flags = O_NOCTTY | O_NONBLOCK | O_CLOEXEC | (wantRead && wantWrite ? O_RDWR : wantWrite ? O_WRONLY : O_RDONLY);
  std::string path;
  int fd = OpenComDevice(index, flags, &path);
  if (fd < 0) {
    int err = errno;
    return RefuseOpen(index, path, err == EBUSY ? ERROR_SHARING_VIOLATION : ErrorFromErrno(err), strerror(err));
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !isatty(fd)) {
    ::close(fd);
    return RefuseOpen(index, path, ERROR_GEN_FAILURE, "not a serial device");
  }
  if (!Claim(gClaimed, st.st_rdev)) {
    ::close(fd);
    return RefuseOpen(index, path, ERROR_SHARING_VIOLATION, "already open in this process");
  }
  // Input already waiting is kept: the keyboard sees the port opened and
  // may send its first bytes before this call returns, and no discard here
  // could tell those from older ones (PurgeComm is the caller's choice).
  if (ioctl(fd, TIOCEXCL) != 0 || !MakeRaw(fd)) {
    int err = errno;
    ::close(fd);
    Unclaim(gClaimed, st.st_rdev);
    return RefuseOpen(index, path, ERROR_GEN_FAILURE, strerror(err));
  }
  int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) {
    int err = errno;
    ::close(fd);
    Unclaim(gClaimed, st.st_rdev);
    return RefuseOpen(index, path, ERROR_NOT_ENOUGH_MEMORY, strerror(err));
  }
  HANDLE h = RegisterHandle(std::make_shared<SerialPort>(index, fd, wakeFd, st.st_rdev, wantRead, wantWrite));
  PlatformTrace("serial: COM%d: opened %s", index, path.c_str());
  return h;
}

namespace {

// The port behind handle for a call on its time-outs: null, with the error
// set, for a handle that is no port (LookupHandleAs sets it) or no
// time-outs given (ERROR_INVALID_PARAMETER).
std::shared_ptr<SerialPort> PortForTimeouts(HANDLE handle, const COMMTIMEOUTS *timeouts) {
  auto p = LookupHandleAs<SerialPort>(handle);
  if (p && !timeouts) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return p;
}

} // namespace

BOOL GetCommTimeouts(HANDLE port, COMMTIMEOUTS *timeouts) {
  auto p = PortForTimeouts(port, timeouts);
  if (!p)
    return FALSE;
  *timeouts = p->Timeouts();
  return TRUE;
}

BOOL SetCommTimeouts(HANDLE port, const COMMTIMEOUTS *timeouts) {
  auto p = PortForTimeouts(port, timeouts);
  if (!p)
    return FALSE;
  p->SetTimeouts(*timeouts);
  return TRUE;
}

BOOL SetCommMask(HANDLE port, DWORD mask) {
  auto p = LookupHandleAs<SerialPort>(port);
  if (!p)
    return FALSE;
  p->SetMask(mask);
  return TRUE;
}

BOOL PurgeComm(HANDLE port, DWORD flags) {
  auto p = LookupHandleAs<SerialPort>(port);
  if (!p)
    return FALSE;
  return (flags & PURGE_RXCLEAR) ? p->DiscardInput() : TRUE;
}

BOOL WaitCommEvent(HANDLE port, DWORD *mask, void *overlapped) {
  if (!mask || overlapped) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto p = LookupHandleAs<SerialPort>(port);
  if (!p)
    return FALSE;
  return p->WaitEvent(mask);
}

int GetComPortProblem(WCHAR *text, int units) {
  if (!text || units <= 0)
    return 0;
  std::u16string words = Utf8ToUtf16(tComPortProblem);
  size_t n = std::min(words.size(), static_cast<size_t>(units - 1));
  words.copy(text, n);
  text[n] = 0;
  return static_cast<int>(n);
}

bool StopSerialStreams(DWORD timeoutMs) { return BluezStopStreams(timeoutMs); }
