// One instance per user: a local socket named after the user. The first
// instance listens; a later one connects, sends its request as one line and
// ends. A socket file left by a crashed instance refuses connections and is
// removed before listening again.
#include "platform/qt/qt_internal.h"
#include "platform/single_instance.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

QLocalServer *gServer = nullptr;
SingleInstanceHandler gHandler = nullptr;
void *gHandlerContext = nullptr;

QString DefaultName() {
  // In the user's private runtime folder when there is one, so no other
  // user can take the name first.
  const char *runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime)
    return QString::fromLocal8Bit(runtime) + QStringLiteral("/vantrel-instance");
  return QStringLiteral("vantrel-instance-%1").arg(getuid());
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

bool HandOver(const QString &name, const char *request) {
  QLocalSocket socket;
  socket.connectToServer(name);
  if (!socket.waitForConnected(1000))
    return false;
  socket.write(QByteArray(request) + '\n');
  socket.flush();
  socket.waitForBytesWritten(1000);
  // The first instance answers once it has read the request.
  socket.waitForReadyRead(2000);
  socket.disconnectFromServer();
  return true;
}

} // namespace

bool SingleInstanceClaimNamed(const char *name, const char *request) {
  if (!QCoreApplication::instance() || gServer)
    return true;
  QString socketName = QString::fromUtf8(name);
  if (HandOver(socketName, request ? request : SINGLE_INSTANCE_SHOW))
    return false;
  auto *server = new QLocalServer;
  server->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server->listen(socketName)) {
    // Either a crashed instance left its socket file or another launch just
    // won the race: ask again before taking the name over.
    if (HandOver(socketName, request ? request : SINGLE_INSTANCE_SHOW)) {
      delete server;
      return false;
    }
    QLocalServer::removeServer(socketName);
    if (!server->listen(socketName)) {
      delete server; // cannot claim nor reach: run alone
      return true;
    }
  }
  QObject::connect(server, &QLocalServer::newConnection, server, [server] {
    while (QLocalSocket *client = server->nextPendingConnection()) {
      QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
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
  return SingleInstanceClaimNamed(DefaultName().toUtf8().constData(), request);
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
