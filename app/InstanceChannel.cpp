#include "app/InstanceChannel.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>

#include <utility>

#include "engine/platform/Platform.h"

namespace quorvex::gui {

namespace {

constexpr char kTaken = '1';
constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_6_0;

}  // namespace

QString InstanceChannel::serverName(const QProcessEnvironment& environment,
                                    const QString& platform) {
    QString display = environment.value(QStringLiteral("WAYLAND_DISPLAY"));
    if (display.isEmpty()) {
        display = environment.value(QStringLiteral("DISPLAY"));
    }
    // Display names may hold characters a socket name should not; a hash
    // keeps them apart all the same.
    const QByteArray where = (platform + QLatin1Char('|') + display).toUtf8();
    const QString key = QString::fromLatin1(
        QCryptographicHash::hash(where, QCryptographicHash::Sha1).toHex().left(16));
    const QString user = QString::fromStdString(quorvex::platform::userKey());
    const QString name = QStringLiteral("quorvex-tiff2pdf-%1-%2").arg(user, key);
    // The user's runtime folder is private to the user; without one, Qt puts
    // the socket in the temporary folder.
    const QString runtime = environment.value(QStringLiteral("XDG_RUNTIME_DIR"));
    return runtime.isEmpty() ? name : QDir(runtime).filePath(name);
}

InstanceChannel::InstanceChannel(QString name, QObject* parent)
    : QObject(parent), m_name(std::move(name)) {
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this,
                    [this, socket] { readHandOver(socket); });
        }
    });
}

bool InstanceChannel::handOver(const QStringList& files, const QString& activationToken,
                               int timeoutMs) const {
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
        return false;
    }
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out.setVersion(kStreamVersion);
    // The token follows the files, so a window of an earlier version, which
    // reads only the files, still takes them.
    out << files << activationToken;
    socket.write(message);
    if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) {
        return false;
    }
    // A window that hangs accepts the connection but never answers.
    while (socket.bytesAvailable() < 1) {
        if (deadline.hasExpired() ||
            !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            return false;
        }
    }
    char answer = 0;
    return socket.getChar(&answer) && answer == kTaken;
}

bool InstanceChannel::listen() {
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (m_server.listen(m_name)) {
        return true;
    }
    // The name is left over from a window that is gone or did not answer.
    QLocalServer::removeServer(m_name);
    return m_server.listen(m_name);
}

void InstanceChannel::readHandOver(QLocalSocket* socket) {
    QDataStream in(socket);
    in.setVersion(kStreamVersion);
    in.startTransaction();
    QStringList files;
    QString activationToken;
    in >> files >> activationToken;
    if (!in.commitTransaction()) {
        return;  // more is on its way
    }
    socket->putChar(kTaken);
    socket->flush();
    emit filesHandedOver(files, activationToken);
}

}  // namespace quorvex::gui
