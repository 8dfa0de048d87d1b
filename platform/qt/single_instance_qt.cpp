// One instance per user: a local (AF_UNIX) socket named after the user, in
// the user's private runtime folder, served by the toolkit's event loop. The
// first instance holds a lock on a file beside the socket (flock, released by
// the kernel when the process ends, however it ends) and listens; a later
// launch connects, sends its request as one line, waits for the answer and
// ends. A socket file whose lock nobody holds was left by a crashed instance
// and is replaced. Both sides check who is at the other end (SO_PEERCRED): a
// launch hands its request only to an instance of its own user, and an
// instance takes requests only from its own user. Plain sockets rather than
// the toolkit's network module, which would map its network and
// authentication libraries into every run for this one socket.
#include "platform/core/private_paths.h"
#include "platform/qt/qt_internal.h"
#include "platform/single_instance.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A request line is short ("show", "connect", "quit"): a longer one is not a
// request, and the client sending it is dropped.
constexpr size_t kMaxLine = 256;
// At most this many launches talk to the instance at once; a client that
// has not sent its line within kClientMs is dropped.
constexpr int kMaxClients = 8;
constexpr int kClientMs = 2000;
// How long a launch waits for the connection, for the answer, and for a
// starting instance (it holds the lock but is not listening yet).
constexpr int kConnectMs = 1000;
constexpr int kAnswerMs = 2000;
constexpr int kStartingMs = 2000;

struct Listener {
  int socketFd = -1;
  int lockFd = -1;
  std::string path;
  QSocketNotifier *notifier = nullptr;
  int clients = 0;
};

Listener *gListener = nullptr;
SingleInstanceHandler gHandler = nullptr;
void *gHandlerContext = nullptr;

enum class HandOverResult { NoAnswer, Handed, OtherUser };

// The user at the other end of a connected local socket; -1 when unknown.
long PeerUid(int fd) {
  ucred cred{};
  socklen_t size = sizeof cred;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0)
    return -1;
  return static_cast<long>(cred.uid);
}

bool PeerIsThisUser(int fd, long *uid) {
  *uid = PeerUid(fd);
  return *uid == static_cast<long>(geteuid());
}

// The socket's path: a name holding a slash is a path as it stands, any other
// name lives in the user's runtime folder. Either way its folder must be the
// user's and private, so that no other user can put a socket there first.
// Returns "" with the reason in *why when it is not.
std::string SocketPath(const std::string &name, std::string *why) {
  const size_t slash = name.rfind('/');
  if (slash == std::string::npos) {
    const std::string folder = UserRuntimeFolder(why);
    return folder.empty() ? "" : folder + "/" + name;
  }
  const std::string folder = slash == 0 ? "/" : name.substr(0, slash);
  struct stat st;
  std::string reason;
  if (stat(folder.c_str(), &st) != 0)
    reason = strerror(errno);
  else if (FolderIsSafe(st, FolderNeed::Private, &reason))
    return name;
  *why = folder + " " + reason;
  return "";
}

// The socket address of `path`; false when the path does not fit.
bool AddressOf(const std::string &path, sockaddr_un *addr) {
  *addr = sockaddr_un{};
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof addr->sun_path)
    return false;
  memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

void RunAlone(const std::string &why) {
  ReportRefusal("single instance: " + why + "; running without the single-instance check");
}

// Milliseconds left until `deadline` (0 when it has passed).
int MsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// A socket connected to `path` within kConnectMs, or -1 (nobody listens,
// no such socket, or no answer in time).
int ConnectTo(const sockaddr_un &addr) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return -1;
  if (connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0)
    return fd;
  if (errno == EAGAIN || errno == EINPROGRESS) {
    // The listener's queue is full: wait for room.
    pollfd p{fd, POLLOUT, 0};
    int error = 0;
    socklen_t size = sizeof error;
    if (poll(&p, 1, kConnectMs) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 &&
        error == 0)
      return fd;
  }
  close(fd);
  return -1;
}

HandOverResult HandOver(const sockaddr_un &addr, const char *request, long *peer) {
  const int fd = ConnectTo(addr);
  if (fd < 0)
    return HandOverResult::NoAnswer;
  if (!PeerIsThisUser(fd, peer)) {
    close(fd); // nothing is said to another user's listener
    return HandOverResult::OtherUser;
  }
  std::string line = std::string(request) + '\n';
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerMs);
  size_t sent = 0;
  while (sent < line.size()) {
    ssize_t n = send(fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    pollfd p{fd, POLLOUT, 0};
    if (n < 0 && (errno == EAGAIN || errno == EINTR) && poll(&p, 1, MsLeft(deadline)) >= 0 &&
        MsLeft(deadline) > 0)
      continue;
    break;
  }
  // The first instance answers once it has read the request (or closes).
  char answer[8];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    int ready = poll(&p, 1, MsLeft(deadline));
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready == 1 && read(fd, answer, sizeof answer) < 0 && errno == EINTR)
      continue;
    break;
  }
  close(fd);
  return HandOverResult::Handed;
}

// Hands the request over when this user's instance answers at `addr`.
// Returns true when it did; false when nobody answers (*alone stays false)
// or when another user's listener answers (*alone = true: said, and this
// launch runs without the check).
bool HandedOver(const std::string &path, const sockaddr_un &addr, const char *request, bool *alone) {
  long peer = -1;
  switch (HandOver(addr, request, &peer)) {
  case HandOverResult::Handed:
    return true;
  case HandOverResult::OtherUser:
    RunAlone(path + " is served by another user (uid " + std::to_string(peer) + ")");
    *alone = true;
    return false;
  case HandOverResult::NoAnswer:
    break;
  }
  return false;
}

// The lock that marks the running instance: the file `path`.lock, opened
// (created mode 0600) without following a symbolic link. Returns its
// descriptor, with *held true when this process now holds the lock and
// false when another process does; -1 when the file cannot be used.
int TakeLock(const std::string &path, bool *held) {
  *held = false;
  const std::string lockPath = path + ".lock";
  int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0)
    return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    close(fd);
    return -1;
  }
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR)
      continue;
    if (errno == EWOULDBLOCK)
      return fd;
    close(fd);
    return -1;
  }
  *held = true;
  return fd;
}

// Listens at `addr`, replacing a socket file left by a crashed instance
// (the caller holds the lock, so no running instance owns it). Returns the
// listening descriptor or -1.
int Listen(const std::string &path, const sockaddr_un &addr) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
    unlink(path.c_str());
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return -1;
  // Only this user may connect, whatever the folder's mode.
  if (bind(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0 ||
      chmod(path.c_str(), 0600) != 0 || listen(fd, kMaxClients) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void Deliver(const std::string &request) {
  if (request.empty())
    return;
  if (gHandler) {
    gHandler(request.c_str(), gHandlerContext);
    return;
  }
  if (request == SINGLE_INSTANCE_SHOW) {
    HWND main = vqt::MainWindow();
    if (main) {
      SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(main) | 1));
      ShowWindow(main, SW_SHOW);
    }
  }
}

// The request in a line, without surrounding white space.
std::string Trimmed(const std::string &line) {
  const char *space = " \t\r\n\f\v";
  const size_t first = line.find_first_not_of(space);
  if (first == std::string::npos)
    return "";
  return line.substr(first, line.find_last_not_of(space) - first + 1);
}

// One launch talking to this instance: reads its lines (each at most
// kMaxLine bytes), answers each and delivers it; ends at the end of the
// connection, on a line too long, or after kClientMs.
class Client : public QObject {
public:
  // A child of the listener's notifier: releasing the socket ends it too.
  Client(int fd, Listener *listener) : QObject(listener->notifier), fd_(fd), listener_(listener) {
    ++listener_->clients;
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    QObject::connect(notifier_, &QSocketNotifier::activated, this, [this] { OnReadable(); });
    QTimer::singleShot(kClientMs, this, [this] { End(); });
  }
  ~Client() override {
    delete notifier_;
    close(fd_);
    --listener_->clients;
  }

private:
  void OnReadable() {
    char buf[kMaxLine];
    ssize_t n = read(fd_, buf, sizeof buf);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
      return;
    if (n <= 0) {
      End();
      return;
    }
    line_.append(buf, static_cast<size_t>(n));
    size_t newline;
    while ((newline = line_.find('\n')) != std::string::npos) {
      const std::string request = Trimmed(line_.substr(0, newline));
      line_.erase(0, newline + 1);
      (void)send(fd_, "ok\n", 3, MSG_NOSIGNAL | MSG_DONTWAIT);
      Deliver(request);
    }
    if (line_.size() >= kMaxLine) {
      ReportRefusal("single instance: dropped a launch whose request line is too long");
      End();
    }
  }
  void End() {
    notifier_->setEnabled(false);
    deleteLater();
  }

  int fd_;
  Listener *listener_;
  QSocketNotifier *notifier_ = nullptr;
  std::string line_;
};

void Accept(Listener *listener) {
  for (;;) {
    int fd = accept4(listener->socketFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED)
        continue;
      return; // EAGAIN: all taken; anything else: tried again at the next knock
    }
    long peer = -1;
    if (!PeerIsThisUser(fd, &peer)) {
      ReportRefusal("single instance: refused a request from another user (uid " +
                    std::to_string(peer) + ")");
      close(fd);
      continue;
    }
    if (listener->clients >= kMaxClients) {
      close(fd); // busy: that launch runs into its answer time-out
      continue;
    }
    new Client(fd, listener); // deletes itself at its end
  }
}

} // namespace

bool SingleInstanceClaimNamed(const char *name, const char *request) {
  if (!QCoreApplication::instance() || gListener)
    return true;
  if (!request)
    request = SINGLE_INSTANCE_SHOW;
  std::string why;
  const std::string path = SocketPath(name, &why);
  if (path.empty()) {
    RunAlone("the instance socket's folder " + why);
    return true;
  }
  sockaddr_un addr;
  if (!AddressOf(path, &addr)) {
    RunAlone(path + " is too long for a local socket");
    return true;
  }
  bool alone = false;
  if (HandedOver(path, addr, request, &alone))
    return false;
  if (alone)
    return true;
  // Nobody answered. The lock tells a crashed instance's socket file (lock
  // free) from an instance that is starting right now (lock held): the
  // latter is asked again until it listens.
  bool held = false;
  const int lockFd = TakeLock(path, &held);
  if (lockFd < 0) {
    RunAlone(path + ".lock cannot be used (" + strerror(errno) + ")");
    return true;
  }
  if (!held) {
    close(lockFd);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartingMs);
    do {
      usleep(20000);
      if (HandedOver(path, addr, request, &alone))
        return false;
    } while (!alone && MsLeft(deadline) > 0);
    if (!alone)
      RunAlone("the instance holding " + path + ".lock does not answer");
    return true;
  }
  const int fd = Listen(path, addr);
  if (fd < 0) {
    RunAlone(path + " cannot be listened on (" + strerror(errno) + ")");
    close(lockFd);
    return true;
  }
  auto *listener = new Listener;
  listener->socketFd = fd;
  listener->lockFd = lockFd;
  listener->path = path;
  listener->notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
  QObject::connect(listener->notifier, &QSocketNotifier::activated, listener->notifier,
                   [listener] { Accept(listener); });
  gListener = listener;
  return true;
}

bool SingleInstanceClaim(const char *request) {
  return SingleInstanceClaimNamed("vantrel-instance", request);
}

void SingleInstanceRelease() {
  if (!gListener)
    return;
  Listener *listener = gListener;
  gListener = nullptr;
  delete listener->notifier;
  // The socket file goes first, then the lock: a launch that finds the lock
  // free finds no socket of this instance to talk to.
  unlink(listener->path.c_str());
  close(listener->socketFd);
  close(listener->lockFd);
  delete listener;
}

void SetSingleInstanceHandler(SingleInstanceHandler handler, void *context) {
  gHandler = handler;
  gHandlerContext = context;
}
