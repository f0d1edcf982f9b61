#include "SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <unistd.h>

namespace {
// A running program answers at once; a stale socket refuses at once. The bound only matters
// for a program that hangs.
constexpr int answerMs = 150;
} // namespace

SingleInstance::SingleInstance(QObject *parent, QString socketPath)
    : QObject(parent), m_socketPath(std::move(socketPath)), m_server(this)
{
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                // Each path ends in a NUL (a name may hold a new line); one more NUL ends the
                // message.
                const QByteArray data =
                    socket->property("received").toByteArray() + socket->readAll();
                socket->setProperty("received", data);
                if (data != QByteArray(1, '\0') && !data.endsWith(QByteArray(2, '\0')))
                    return;
                QStringList paths;
                for (const QByteArray &path : data.split('\0'))
                    if (!path.isEmpty())
                        paths.append(QFile::decodeName(path));
                socket->disconnectFromServer();
                emit pathsReceived(paths);
            });
        }
    });
}

QString SingleInstance::defaultSocketPath()
{
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QDir(folder).exists())
        return QDir::tempPath() + QStringLiteral("/quillon-sonoret-%1.socket").arg(::getuid());
    return folder + QStringLiteral("/quillon-sonoret.socket");
}

bool SingleInstance::handOver(const QStringList &paths, const QString &socketPath)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(answerMs))
        return false;
    QByteArray message;
    for (const QString &path : paths)
        message += QFile::encodeName(path) + '\0';
    message += '\0';
    socket.write(message);
    if (!socket.waitForBytesWritten(answerMs))
        return false;
    // The program closes the connection once it has the message.
    socket.waitForDisconnected(answerMs);
    return true;
}

bool SingleInstance::listen()
{
    {
        QLocalSocket probe;
        probe.connectToServer(m_socketPath);
        if (probe.waitForConnected(answerMs))
            return false; // another window takes "Open with"
    }
    // Nobody answers: what is there is left from a program that ended without tidying up.
    QLocalServer::removeServer(m_socketPath);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    return m_server.listen(m_socketPath);
}
