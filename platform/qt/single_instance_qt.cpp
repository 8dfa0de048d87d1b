// One instance per user: a local socket named after the user, in the user's
// private runtime folder. The first instance listens; a later one connects,
// sends its request as one line and ends. Both sides check who is at the
// other end (SO_PEERCRED): a launch hands its request only to an instance of
// its own user, and an instance takes requests only from its own user. A
// socket file left by a crashed instance refuses connections and is removed
// before listening again.
#include "platform/core/private_paths.h"
#include "platform/qt/qt_internal.h"
#include "platform/single_instance.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QLocalServer *gServer = nullptr;
SingleInstanceHandler gHandler = nullptr;
void *gHandlerContext = nullptr;

enum class HandOverResult { NoAnswer, Handed, OtherUser };

// The user at the other end of a connected local socket; -1 when unknown.
long PeerUid(const QLocalSocket &socket) {
  ucred cred{};
  socklen_t size = sizeof cred;
  int fd = static_cast<int>(socket.socketDescriptor());
  if (fd < 0 || getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0)
    return -1;
  return static_cast<long>(cred.uid);
}

bool PeerIsThisUser(const QLocalSocket &socket, long *uid) {
  *uid = PeerUid(socket);
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

void RunAlone(const std::string &why) {
  ReportRefusal("single instance: " + why + "; running without the single-instance check");
}

void Deliver(const QByteArray &line) {
  std::string request = line.trimmed().toStdString();
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

HandOverResult HandOver(const QString &name, const char *request, long *peer) {
  QLocalSocket socket;
  socket.connectToServer(name);
  if (!socket.waitForConnected(1000))
    return HandOverResult::NoAnswer;
  if (!PeerIsThisUser(socket, peer)) {
    socket.abort(); // nothing is said to another user's listener
    return HandOverResult::OtherUser;
  }
  socket.write(QByteArray(request) + '\n');
  socket.flush();
  socket.waitForBytesWritten(1000);
  // The first instance answers once it has read the request.
  socket.waitForReadyRead(2000);
  socket.disconnectFromServer();
  return HandOverResult::Handed;
}

// Hands the request over when this user's instance answers on `name`.
// Returns true when it did; false when nobody answers (*alone stays false)
// or when another user's listener answers (*alone = true: said, and this
// launch runs without the check).
bool HandedOver(const QString &name, const char *request, bool *alone) {
  long peer = -1;
  switch (HandOver(name, request, &peer)) {
  case HandOverResult::Handed:
    return true;
  case HandOverResult::OtherUser:
    RunAlone(name.toStdString() + " is served by another user (uid " + std::to_string(peer) + ")");
    *alone = true;
    return false;
  case HandOverResult::NoAnswer:
    break;
  }
  return false;
}

} // namespace

bool SingleInstanceClaimNamed(const char *name, const char *request) {
  if (!QCoreApplication::instance() || gServer)
    return true;
  if (!request)
    request = SINGLE_INSTANCE_SHOW;
  std::string why;
  const std::string path = SocketPath(name, &why);
  if (path.empty()) {
    RunAlone("the instance socket's folder " + why);
    return true;
  }
  const QString socketName = QString::fromStdString(path);
  bool alone = false;
  if (HandedOver(socketName, request, &alone))
    return false;
  if (alone)
    return true;
  auto *server = new QLocalServer;
  server->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server->listen(socketName)) {
    // Either a crashed instance left its socket file or another launch just
    // won the race: ask again before taking the name over.
    if (HandedOver(socketName, request, &alone)) {
      delete server;
      return false;
    }
    if (!alone)
      QLocalServer::removeServer(socketName);
    if (alone || !server->listen(socketName)) {
      delete server; // cannot claim nor reach: run alone
      return true;
    }
  }
  QObject::connect(server, &QLocalServer::newConnection, server, [server] {
    while (QLocalSocket *client = server->nextPendingConnection()) {
      QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
      long peer = -1;
      if (!PeerIsThisUser(*client, &peer)) {
        ReportRefusal("single instance: refused a request from another user (uid " +
                      std::to_string(peer) + ")");
        client->abort();
        client->deleteLater();
        continue;
      }
      QObject::connect(client, &QLocalSocket::readyRead, client, [client] {
        while (client->canReadLine()) {
          QByteArray line = client->readLine(256);
          client->write("ok\n");
          client->flush();
          Deliver(line);
        }
      });
    }
  });
  gServer = server;
  return true;
}

bool SingleInstanceClaim(const char *request) {
  return SingleInstanceClaimNamed("vantrel-instance", request);
}

void SingleInstanceRelease() {
  if (!gServer)
    return;
  gServer->close();
  delete gServer;
  gServer = nullptr;
}

void SetSingleInstanceHandler(SingleInstanceHandler handler, void *context) {
  gHandler = handler;
  gHandlerContext = context;
}
