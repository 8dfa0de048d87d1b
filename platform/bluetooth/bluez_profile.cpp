// The serial stream to a BlueZ device through BlueZ's profile interface.
//
// One thread of the process owns a system bus connection on which the
// serial port profile is registered (once, role client) and the profile's
// object (org.bluez.Profile1) is served. A connection request is handed to
// that thread, which calls Device1.ConnectProfile asynchronously: bluetoothd
// answers it only after it has handed us the socket through
// Profile1.NewConnection and we have answered that, so the thread must keep
// serving while the call is pending. The caller waits for the outcome with a
// time-out of its own.
//
// The profile object is on the bus for anyone to call: a stream is taken
// only from the connection that owns org.bluez (the one the profile is
// registered with), and only when it is a Bluetooth stream socket, since
// whatever it delivers is typed into the person's session. Other calls of
// the profile's methods are refused the same way, with a trace.
//
// The thread keeps a duplicate of every stream it handed out, so that
// RequestDisconnection and Release can end the stream (shutdown: the port
// sees the far side hang up) without closing a descriptor the port owns;
// BluezSerialClosed drops the duplicate when the port closes.
#include "platform/bluetooth/bluez.h"

#include "platform/bluetooth/rfcomm_link.h"
#include "platform/core/counted_thread.h"
#include "platform/dbus/desktop_bus.h"
#include "platform/trace.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr char kProfilePath[] = "/org/vantrel/serial";
constexpr uint64_t kRegisterTimeoutUs = 5'000'000;
constexpr uint64_t kConnectTimeoutUs = 20'000'000;
constexpr uint64_t kUnregisterTimeoutUs = 1'000'000;
// The caller waits a little longer than the bus call may take.
constexpr auto kCallerWait = std::chrono::seconds(25);

struct Request {
  std::string device;  // object path
  std::string address; // for traces
  bool started = false;
  bool done = false;
  bool abandoned = false; // the caller stopped waiting
  int fd = -1;
  DWORD error = ERROR_SUCCESS;
  std::string why;
  sd_bus_slot *call = nullptr;
};

struct Link {
  std::mutex mu;
  std::condition_variable cv;
  std::deque<std::shared_ptr<Request>> queue; // not yet started
  std::vector<std::shared_ptr<Request>> pending; // ConnectProfile sent
  std::multimap<std::string, int> streams; // device path -> our duplicate
  std::map<int, int> byPortFd;             // the caller's fd -> our duplicate
  int wake = -1;
  sd_bus *bus = nullptr;
  bool registered = false;
  std::string bluez; // unique name of org.bluez's owner, the profile's registrar
  // Local (AF_UNIX) stream sockets count as streams too: the system bus is
  // one DBUS_SYSTEM_BUS_ADDRESS names, where a BlueZ stand-in may serve
  // without a radio. The real bluetoothd hands over Bluetooth sockets only.
  bool localStreams = false;
  bool stopping = false; // the program is ending: the thread leaves
  bool ended = false;    // the thread has left
  std::thread thread;
  std::string problem; // set when the thread cannot serve at all
};

Link &L() {
  static Link *link = new Link;
  return *link;
}

void Wake() {
  uint64_t one = 1;
  if (write(L().wake, &one, sizeof one) < 0) {
    // Only fails when the counter is full: the thread is awake already.
  }
}

// With mu held: ends a request and tells its caller.
void Finish(const std::shared_ptr<Request> &req, DWORD error, const std::string &why) {
  Link &l = L();
  req->done = true;
  req->error = error;
  req->why = why;
  if (error != ERROR_SUCCESS && req->fd >= 0) {
    close(req->fd);
    req->fd = -1;
  }
  if (req->abandoned && req->fd >= 0) {
    PlatformTrace("bluetooth: %s: the stream came after its caller gave up; closed",
                  req->address.c_str());
    close(req->fd);
    req->fd = -1;
  }
  for (auto it = l.pending.begin(); it != l.pending.end(); ++it)
    if (*it == req) {
      l.pending.erase(it);
      break;
    }
  l.cv.notify_all();
}

// Ends the streams of one device (every device when path is empty).
void ShutStreams(const std::string &path, const char *why) {
  Link &l = L();
  std::lock_guard<std::mutex> lock(l.mu);
  for (auto &[device, fd] : l.streams)
    if (path.empty() || device == path) {
      PlatformTrace("bluetooth: %s: stream ended (%s)", device.c_str(), why);
      shutdown(fd, SHUT_RDWR);
    }
}

// With mu held: whether the call comes from the owner of org.bluez that the
// profile is registered with. Refused calls are traced.
bool FromBluez(sd_bus_message *m) {
  const char *sender = sd_bus_message_get_sender(m);
  if (sender && !L().bluez.empty() && L().bluez == sender)
    return true;
  PlatformTrace("bluetooth: %s on the serial profile from %s, not BlueZ (%s): refused",
                sd_bus_message_get_member(m), sender ? sender : "(no sender)",
                L().bluez.empty() ? "not known" : L().bluez.c_str());
  return false;
}

int RejectCall(sd_bus_error *error) {
  return sd_bus_error_set(error, "org.bluez.Error.Rejected", "Not accepted from this caller");
}

// Whether fd is a stream socket of a kind BlueZ hands over: Bluetooth, or
// local when `local` allows it. Else false with what it is in *what.
bool IsBluetoothStream(int fd, bool local, std::string *what) {
  int domain = -1, type = -1;
  socklen_t size = sizeof domain;
  if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &size) != 0) {
    *what = errno == ENOTSOCK ? "not a socket" : strerror(errno);
    return false;
  }
  size = sizeof type;
  if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0) {
    *what = strerror(errno);
    return false;
  }
  if (type == SOCK_STREAM && (domain == AF_BLUETOOTH || (local && domain == AF_UNIX)))
    return true;
  *what = "a socket of family " + std::to_string(domain) + " and type " + std::to_string(type) +
          ", not a Bluetooth stream";
  return false;
}

int OnNewConnection(sd_bus_message *m, void *, sd_bus_error *error) {
  const char *device = nullptr;
  int fd = -1;
  int r = sd_bus_message_read(m, "oh", &device, &fd);
  if (r < 0)
    return r;
  Link &l = L();
  std::lock_guard<std::mutex> lock(l.mu);
  // A stranger's stream is refused before anything else: the connection
  // asked for goes on waiting for BlueZ's.
  if (!FromBluez(m))
    return RejectCall(error);
  std::string what;
  if (!IsBluetoothStream(fd, l.localStreams, &what)) {
    PlatformTrace("bluetooth: the stream BlueZ handed over for %s is %s: refused", device,
                  what.c_str());
    return RejectCall(error);
  }
  for (auto &req : l.pending)
    if (req->device == device && req->fd < 0 && !req->done) {
      req->fd = fcntl(fd, F_DUPFD_CLOEXEC, 3); // the message owns fd
      if (req->fd < 0)
        return sd_bus_error_set_errno(error, errno);
      PlatformTrace("bluetooth: %s: stream received", req->address.c_str());
      return sd_bus_reply_method_return(m, "");
    }
  PlatformTrace("bluetooth: a stream from %s that nobody asked for was refused", device);
  return sd_bus_error_set(error, "org.bluez.Error.Rejected", "No connection was asked for");
}

int OnRequestDisconnection(sd_bus_message *m, void *, sd_bus_error *error) {
  const char *device = nullptr;
  int r = sd_bus_message_read(m, "o", &device);
  if (r < 0)
    return r;
  {
    std::lock_guard<std::mutex> lock(L().mu);
    if (!FromBluez(m))
      return RejectCall(error);
  }
  ShutStreams(device, "BlueZ asked to disconnect");
  return sd_bus_reply_method_return(m, "");
}

int OnRelease(sd_bus_message *m, void *, sd_bus_error *error) {
  {
    std::lock_guard<std::mutex> lock(L().mu);
    if (!FromBluez(m))
      return RejectCall(error);
  }
  ShutStreams("", "BlueZ released the profile");
  {
    std::lock_guard<std::mutex> lock(L().mu);
    L().registered = false;
  }
  return sd_bus_reply_method_return(m, "");
}

const sd_bus_vtable kProfileVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("NewConnection", "oha{sv}", "", OnNewConnection, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("RequestDisconnection", "o", "", OnRequestDisconnection,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Release", "", "", OnRelease, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END};

// A person's words for a failed ConnectProfile.
std::string ConnectFailureText(const sd_bus_error &e, int r, const std::string &name) {
  std::string detail = BusErrorText(e, r);
  if (r == -ETIMEDOUT || sd_bus_error_has_names(&e, SD_BUS_ERROR_NO_REPLY, SD_BUS_ERROR_TIMEOUT))
    return "The keyboard " + name + " did not answer: it may be switched off or out of range";
  if (sd_bus_error_has_names(&e, "org.bluez.Error.Failed", "org.bluez.Error.NotReady",
                             "org.bluez.Error.NotAvailable") &&
      (detail.find("down") != std::string::npos || detail.find("timeout") != std::string::npos ||
       detail.find("unreachable") != std::string::npos ||
       detail.find("refused") != std::string::npos))
    return "The keyboard " + name + " cannot be reached: it may be switched off or out of range";
  return "The keyboard " + name + " could not be connected (" + detail + ")";
}

int OnConnectReply(sd_bus_message *m, void *userdata, sd_bus_error *) {
  auto *holder = static_cast<std::shared_ptr<Request> *>(userdata);
  std::shared_ptr<Request> req = *holder;
  Link &l = L();
  std::lock_guard<std::mutex> lock(l.mu);
  const sd_bus_error *e = sd_bus_message_get_error(m);
  if (e) {
    std::string text = ConnectFailureText(*e, -sd_bus_message_get_errno(m), req->address);
    PlatformWarning("bluetooth: ConnectProfile %s failed: %s", req->device.c_str(),
                    BusErrorText(*e, -sd_bus_message_get_errno(m)).c_str());
    Finish(req, ERROR_FILE_NOT_FOUND, text);
  } else if (req->fd < 0) {
    PlatformTrace("bluetooth: ConnectProfile %s answered without a stream", req->device.c_str());
    Finish(req, ERROR_GEN_FAILURE, "BlueZ connected " + req->address + " but handed over no stream");
  } else if (req->abandoned) {
    Finish(req, ERROR_TIMEOUT, "BlueZ did not answer in time"); // closes the stream
  } else {
    int dup = fcntl(req->fd, F_DUPFD_CLOEXEC, 3);
    if (dup < 0) {
      Finish(req, ERROR_NOT_ENOUGH_MEMORY, strerror(errno));
    } else {
      l.streams.emplace(req->device, dup);
      l.byPortFd[req->fd] = dup;
      PlatformTrace("bluetooth: %s: connected", req->address.c_str());
      Finish(req, ERROR_SUCCESS, "");
    }
  }
  return 1;
}

void DropHolder(void *userdata) { delete static_cast<std::shared_ptr<Request> *>(userdata); }

// On the thread: the unique name of org.bluez's owner now. False, with
// *why for a person, when nobody owns it or the bus does not say.
bool BluezOwner(std::string *owner, std::string *why) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message *reply = nullptr;
  const char *name = nullptr;
  int r = sd_bus_call_method(L().bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                             "org.freedesktop.DBus", "GetNameOwner", &error, &reply, "s",
                             "org.bluez");
  if (r >= 0)
    r = sd_bus_message_read(reply, "s", &name);
  if (r >= 0 && name)
    *owner = name;
  else
    PlatformTrace("bluetooth: the owner of org.bluez is not known: %s",
                  BusErrorText(error, r).c_str());
  if (r < 0)
    *why = sd_bus_error_has_name(&error, SD_BUS_ERROR_NAME_HAS_NO_OWNER)
               ? "BlueZ does not run (no org.bluez on the system bus)"
               : "BlueZ cannot be found on the system bus (" + BusErrorText(error, r) + ")";
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  return r >= 0 && name;
}

// On the thread: registers the profile with org.bluez's owner `owner` when
// it is not registered with it (BlueZ started anew forgets the profile).
// ERROR_SUCCESS or the failure, with *why for a person.
DWORD RegisterProfile(const std::string &owner, std::string *why) {
  Link &l = L();
  {
    std::lock_guard<std::mutex> lock(l.mu);
    if (l.registered && l.bluez == owner)
      return ERROR_SUCCESS;
    if (l.registered)
      PlatformTrace("bluetooth: BlueZ has started anew (%s, was %s): the profile is "
                    "registered again",
                    owner.c_str(), l.bluez.c_str());
    l.registered = false;
    // Set before the call: BlueZ may call the profile while it registers.
    l.bluez = owner;
  }
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message *call = nullptr;
  int r = sd_bus_message_new_method_call(l.bus, &call, "org.bluez", "/org/bluez",
                                         "org.bluez.ProfileManager1", "RegisterProfile");
  if (r >= 0)
    r = sd_bus_message_append(call, "os", kProfilePath, kSerialPortUuid);
  if (r >= 0)
    r = sd_bus_message_append(call, "a{sv}", 3, "Name", "s", "Vantrel serial port", "Role", "s",
                              "client", "AutoConnect", "b", 0);
  if (r >= 0)
    r = sd_bus_call(l.bus, call, kRegisterTimeoutUs, &error, nullptr);
  DWORD result = ERROR_SUCCESS;
  if (r < 0 && sd_bus_error_has_name(&error, "org.bluez.Error.AlreadyExists")) {
    PlatformTrace("bluetooth: the serial port profile was registered already");
  } else if (r < 0 && sd_bus_error_has_name(&error, "org.bluez.Error.NotPermitted")) {
    PlatformWarning(
        "bluetooth: RegisterProfile refused (%s): another program holds the serial port "
        "profile",
        BusErrorText(error, r).c_str());
    *why = "Another program holds Bluetooth serial ports (BlueZ refused the serial port profile): "
           "close it and connect again";
    result = ERROR_ACCESS_DENIED;
  } else if (r < 0) {
    PlatformWarning("bluetooth: RegisterProfile failed: %s", BusErrorText(error, r).c_str());
    *why = "BlueZ did not take the serial port profile (" + BusErrorText(error, r) + ")";
    result = ERROR_GEN_FAILURE;
  } else {
    PlatformTrace("bluetooth: serial port profile registered at %s", kProfilePath);
  }
  {
    std::lock_guard<std::mutex> lock(l.mu);
    l.registered = result == ERROR_SUCCESS;
  }
  sd_bus_error_free(&error);
  sd_bus_message_unref(call);
  return result;
}

// On the thread: sends ConnectProfile for a request.
void Start(const std::shared_ptr<Request> &req) {
  Link &l = L();
  std::string why, owner;
  DWORD reg = BluezOwner(&owner, &why) ? RegisterProfile(owner, &why) : ERROR_GEN_FAILURE;
  std::lock_guard<std::mutex> lock(l.mu);
  if (reg != ERROR_SUCCESS) {
    Finish(req, reg, why);
    return;
  }
  l.pending.push_back(req);
  sd_bus_message *call = nullptr;
  int r = sd_bus_message_new_method_call(l.bus, &call, "org.bluez", req->device.c_str(),
                                         "org.bluez.Device1", "ConnectProfile");
  if (r >= 0)
    r = sd_bus_message_append(call, "s", kSerialPortUuid);
  auto *holder = new std::shared_ptr<Request>(req);
  if (r >= 0)
    r = sd_bus_call_async(l.bus, &req->call, call, OnConnectReply, holder, kConnectTimeoutUs);
  sd_bus_message_unref(call);
  if (r < 0) {
    delete holder;
    PlatformTrace("bluetooth: ConnectProfile %s not sent: %s", req->device.c_str(), strerror(-r));
    Finish(req, ERROR_GEN_FAILURE, "BlueZ could not be asked to connect " + req->address);
    return;
  }
  sd_bus_slot_set_destroy_callback(req->call, DropHolder);
  sd_bus_slot_set_floating(req->call, 1);
  PlatformTrace("bluetooth: ConnectProfile %s sent", req->device.c_str());
}

// On the thread, as the program ends: BlueZ is told the profile is gone.
void UnregisterProfile() {
  Link &l = L();
  {
    std::lock_guard<std::mutex> lock(l.mu);
    if (!l.registered)
      return;
    l.registered = false;
  }
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message *call = nullptr;
  int r = sd_bus_message_new_method_call(l.bus, &call, "org.bluez", "/org/bluez",
                                         "org.bluez.ProfileManager1", "UnregisterProfile");
  if (r >= 0)
    r = sd_bus_message_append(call, "o", kProfilePath);
  if (r >= 0)
    r = sd_bus_call(l.bus, call, kUnregisterTimeoutUs, &error, nullptr);
  if (r < 0)
    PlatformTrace("bluetooth: UnregisterProfile failed: %s", BusErrorText(error, r).c_str());
  else
    PlatformTrace("bluetooth: serial port profile unregistered");
  sd_bus_error_free(&error);
  sd_bus_message_unref(call);
}

void Serve() {
  Link &l = L();
  for (;;) {
    while (sd_bus_process(l.bus, nullptr) > 0) {
    }
    std::deque<std::shared_ptr<Request>> start;
    {
      std::lock_guard<std::mutex> lock(l.mu);
      if (l.stopping)
        break;
      start.swap(l.queue);
    }
    for (auto &req : start)
      Start(req);
    if (!start.empty())
      continue;
    pollfd fds[2] = {{sd_bus_get_fd(l.bus), static_cast<short>(sd_bus_get_events(l.bus)), 0},
                     {l.wake, POLLIN, 0}};
    uint64_t usec = UINT64_MAX;
    sd_bus_get_timeout(l.bus, &usec);
    int timeoutMs = -1;
    if (usec != UINT64_MAX) {
      timespec ts;
      clock_gettime(CLOCK_MONOTONIC, &ts);
      uint64_t now = uint64_t(ts.tv_sec) * 1000000 + uint64_t(ts.tv_nsec) / 1000;
      timeoutMs = usec > now ? static_cast<int>((usec - now + 999) / 1000) : 0;
    }
    if (poll(fds, 2, timeoutMs) < 0 && errno != EINTR)
      break;
    if (fds[1].revents) {
      uint64_t n;
      if (read(l.wake, &n, sizeof n) < 0) {
        // Nothing to read: woken by another path.
      }
    }
    if (fds[0].revents & (POLLHUP | POLLERR)) {
      PlatformTrace("bluetooth: the system bus connection of the serial profile ended");
      break;
    }
  }
  if (L().stopping)
    UnregisterProfile();
  // The bus is gone: every waiting request fails, later ones start anew.
  std::lock_guard<std::mutex> lock(l.mu);
  for (auto &req : std::vector<std::shared_ptr<Request>>(l.pending.begin(), l.pending.end()))
    Finish(req, ERROR_GEN_FAILURE, "The connection to BlueZ ended");
  for (auto &req : l.queue)
    Finish(req, ERROR_GEN_FAILURE, "The connection to BlueZ ended");
  l.queue.clear();
  l.registered = false;
  l.problem = l.stopping ? "the program is ending" : "the connection to BlueZ ended";
  l.ended = true;
  l.cv.notify_all();
}

// Starts the thread and its bus once. Empty when serving, else why not.
std::string EnsureThread() {
  static std::once_flag once;
  static std::string failed;
  std::call_once(once, [] {
    Link &l = L();
    std::string why;
    l.wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const char *address = getenv("DBUS_SYSTEM_BUS_ADDRESS");
    l.localStreams = address && *address;
    l.bus = l.wake >= 0 ? OpenDesktopBus(DesktopBus::System, &why) : nullptr;
    if (l.wake < 0)
      why = strerror(errno);
    int r = l.bus ? sd_bus_add_object_vtable(l.bus, nullptr, kProfilePath, "org.bluez.Profile1",
                                             kProfileVtable, nullptr)
                  : -EIO;
    if (!l.bus || r < 0) {
      failed = why.empty() ? std::string("the profile object could not be offered (") +
                                 strerror(-r) + ")"
                           : why;
      PlatformWarning("bluetooth: no serial streams through BlueZ: %s", failed.c_str());
      return;
    }
    std::lock_guard<std::mutex> lock(l.mu);
    if (l.stopping) {
      failed = "the program is ending";
      return;
    }
    l.thread = StartCountedThread(Serve);
  });
  std::lock_guard<std::mutex> lock(L().mu);
  return failed.empty() ? L().problem : failed;
}

} // namespace

int BluezConnectSerial(const BluezDevice &device, DWORD *error, std::string *why) {
  std::string problem = EnsureThread();
  if (!problem.empty()) {
    *error = ERROR_GEN_FAILURE;
    *why = "Bluetooth serial ports cannot be opened: " + problem;
    return -1;
  }
  auto req = std::make_shared<Request>();
  req->device = device.path;
  req->address = device.name.empty() ? device.address : device.name;
  Link &l = L();
  std::unique_lock<std::mutex> lock(l.mu);
  l.queue.push_back(req);
  Wake();
  if (!l.cv.wait_for(lock, kCallerWait, [&] { return req->done; })) {
    req->abandoned = true;
    *error = ERROR_TIMEOUT;
    *why = "BlueZ did not answer in time";
    PlatformWarning("bluetooth: %s: no answer from BlueZ in time", device.address.c_str());
    return -1;
  }
  *error = req->error;
  *why = req->why;
  const int fd = req->fd;
  lock.unlock();
  // ERROR_ACCESS_DENIED comes only from a refused registration: another
  // program holds the serial port profile. The device's serial port is then
  // connected directly, where the system offers Bluetooth sockets.
  if (fd < 0 && *error == ERROR_ACCESS_DENIED) {
    std::string fallback;
    const int raw = RfcommConnect(device, &fallback);
    if (raw >= 0) {
      PlatformTrace("bluetooth: %s: connected on a raw RFCOMM socket", device.address.c_str());
      *error = ERROR_SUCCESS;
      why->clear();
      return raw;
    }
    PlatformWarning("bluetooth: %s: no raw RFCOMM socket either: %s", device.address.c_str(),
                    fallback.c_str());
  }
  return fd;
}

void BluezSerialClosed(int fd) {
  Link &l = L();
  std::lock_guard<std::mutex> lock(l.mu);
  auto it = l.byPortFd.find(fd);
  if (it == l.byPortFd.end())
    return;
  int dup = it->second;
  l.byPortFd.erase(it);
  for (auto s = l.streams.begin(); s != l.streams.end(); ++s)
    if (s->second == dup) {
      l.streams.erase(s);
      break;
    }
  close(dup);
}

bool BluezStopStreams(DWORD timeoutMs) {
  Link &l = L();
  std::unique_lock<std::mutex> lock(l.mu);
  l.stopping = true;
  if (!l.thread.joinable())
    return true;
  if (l.wake >= 0)
    Wake();
  if (!l.cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return l.ended; })) {
    PlatformTrace("bluetooth: the thread of the serial streams did not end within %u ms",
                  static_cast<unsigned>(timeoutMs));
    return false;
  }
  lock.unlock();
  l.thread.join();
  return true;
}
