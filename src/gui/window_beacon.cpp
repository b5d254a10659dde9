#include "gui/window_beacon.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

#include <unistd.h>

namespace pageloom {

namespace {

constexpr char kRequest[] = "show\n";
constexpr char kAnswer[] = "shown\n";
constexpr int kLineLimit = 16;
constexpr int kQuietLimitMs = 2000;

}  // namespace

QString WindowBeacon::SocketName(const std::filesystem::path& dataFolder) {
  std::error_code error;
  std::filesystem::path folder = std::filesystem::weakly_canonical(dataFolder, error);
  if (error) folder = dataFolder.lexically_normal();
  const std::string& text = folder.native();
  const QByteArray hash =
      QCryptographicHash::hash(QByteArray(text.data(), static_cast<qsizetype>(text.size())),
                               QCryptographicHash::Sha256)
          .toHex()
          .left(16);
  return QStringLiteral("pageLoom-%1-%2").arg(getuid()).arg(QString::fromLatin1(hash));
}

WindowBeacon::WindowBeacon(const QString& name, std::function<void()> show, QObject* parent)
    : QObject(parent), m_server(this), m_show(std::move(show)) {
  m_server.setSocketOptions(QLocalServer::UserAccessOption);
  QLocalServer::removeServer(name);
  if (!m_server.listen(name)) return;
  connect(&m_server, &QLocalServer::newConnection, this, &WindowBeacon::OnConnection);
}

void WindowBeacon::OnConnection() {
  while (QLocalSocket* socket = m_server.nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kQuietLimitMs, socket, [socket] { socket->abort(); });
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      if (!socket->canReadLine() && socket->bytesAvailable() < kLineLimit) return;
      const QByteArray line = socket->readLine(kLineLimit);
      if (line != kRequest) {
        socket->abort();
        return;
      }
      QPointer<QLocalSocket> alive(socket);
      if (m_show) m_show();
      if (alive.isNull()) return;
      socket->write(kAnswer);
      socket->flush();
      socket->disconnectFromServer();
    });
  }
}

bool WindowBeacon::AskToShow(const QString& name, std::chrono::milliseconds timeout) {
  const QDeadlineTimer deadline(timeout);
  QLocalSocket socket;
  socket.connectToServer(name);
  if (!socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) return false;
  socket.write(kRequest);
  if (socket.bytesToWrite() > 0 &&
      !socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
    return false;
  QByteArray answer;
  while (!answer.endsWith('\n') && answer.size() < kLineLimit) {
    if (socket.bytesAvailable() == 0 &&
        !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
      break;
    answer += socket.read(kLineLimit - answer.size());
  }
  return answer == kAnswer;
}

}  // namespace pageloom
