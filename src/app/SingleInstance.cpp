#include "SingleInstance.h"

#include "platform/NativeName.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QTimer>
#include <unistd.h>

namespace {
// A running program answers at once; a stale socket refuses at once. The bound only matters
// for a program that hangs.
constexpr int answerMs = 150;
// How long a later start tries to get its paths through a crowded socket.
constexpr int retryMs = 2000;
// What Qt holds for a connection before we take it.
constexpr qint64 readChunk = 64 * 1024;

// One connection being read: the bytes so far, bounded, and the time it may take.
class Handover final : public QObject
{
public:
    Handover(QLocalSocket *socket, std::function<void(const QStringList &)> done)
        : QObject(socket), m_socket(socket), m_done(std::move(done))
    {
        m_idle.setSingleShot(true);
        m_idle.setInterval(SingleInstance::idleMs);
        connect(&m_idle, &QTimer::timeout, this, &Handover::drop);
        socket->setReadBufferSize(readChunk);
        connect(socket, &QLocalSocket::readyRead, this, &Handover::read);
        m_idle.start();
    }

private:
    void read()
    {
        const qint64 room = SingleInstance::maxBytes - m_data.size();
        const QByteArray more = m_socket->read(room + 1);
        // Counting as it comes: a path list is only ever looked at once it is whole.
        m_nuls += more.count('\0');
        m_data += more;
        if (m_data.size() > SingleInstance::maxBytes || m_nuls > SingleInstance::maxPaths + 1)
            return drop();
        const QByteArray mark = SingleInstance::mark();
        if (!mark.startsWith(m_data.left(mark.size())))
            return drop(); // not one of ours: no need to wait for the rest
        if (m_data.size() < mark.size() + 1 || !m_data.endsWith(QByteArray(2, '\0')))
            return;
        m_idle.stop();
        QStringList paths;
        const QList<QByteArray> parts = m_data.mid(mark.size()).split('\0');
        for (const QByteArray &path : parts)
            if (!path.isEmpty())
                paths.append(pathFromNative(path));
        // The answer tells the later start that its paths arrived, and it may end.
        m_socket->write("\n");
        m_socket->flush(); // now: whoever handles the paths may hold the loop a while
        m_socket->disconnectFromServer();
        m_done(paths);
    }
    void drop() { m_socket->abort(); }

    QLocalSocket *m_socket;
    std::function<void(const QStringList &)> m_done;
    QByteArray m_data;
    qsizetype m_nuls = 0;
    QTimer m_idle;
};
} // namespace

SingleInstance::SingleInstance(QObject *parent, QString socketPath)
    : QObject(parent), m_socketPath(std::move(socketPath)), m_server(this), m_guard(this)
{
    m_server.setMaxPendingConnections(maxConnections);
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::accept);
    connect(&m_guard, &QFileSystemWatcher::directoryChanged, this,
            &SingleInstance::listenAgainIfStopped);
}

QByteArray SingleInstance::mark()
{
    return QByteArrayLiteral("quillon-sonoret open 1\n");
}

void SingleInstance::accept()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // Each connection holds a descriptor: a flood must not use them all up. The oldest
        // makes room, so a real start is heard even while idle connections pile up.
        if (m_open.size() >= maxConnections) {
            if (QLocalSocket *oldest = m_open.takeFirst())
                oldest->abort();
        }
        m_open.append(socket);
        connect(socket, &QObject::destroyed, this, [this, socket] { m_open.removeOne(socket); });
        new Handover(socket, [this](const QStringList &paths) { emit pathsReceived(paths); });
    }
}

void SingleInstance::listenAgainIfStopped()
{
    // Qt's server closes itself and removes its socket when accepting fails (no descriptor
    // left, for one); someone may have removed the socket too. The runtime folder is a
    // memory file system: the look cannot stall.
    if (!m_wanted)
        return;
    if (m_server.isListening() && QFileInfo::exists(m_socketPath))
        return;
    m_server.close();
    listen();
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
    // Each path ends in a NUL (a name may hold a new line); one more NUL ends the message.
    QByteArray message = mark();
    for (const QString &path : paths)
        message += nativePath(path) + '\0';
    message += '\0';
    QElapsedTimer clock;
    clock.start();
    do {
        QLocalSocket socket;
        socket.connectToServer(socketPath);
        if (!socket.waitForConnected(answerMs))
            return false; // nobody listens
        socket.write(message);
        socket.waitForBytesWritten(answerMs);
        // The program answers once it has the paths. Connections that flood the socket may
        // push ours out: then try again, a while.
        if (socket.bytesAvailable() == 0)
            socket.waitForReadyRead(answerMs);
        if (socket.read(1) == "\n")
            return true;
    } while (clock.elapsed() < retryMs);
    return false;
}

bool SingleInstance::listen()
{
    m_wanted = true;
    // The socket's folder changes when the socket goes, whoever removed it.
    const QString folder = QFileInfo(m_socketPath).absolutePath();
    if (!m_guard.directories().contains(folder))
        m_guard.addPath(folder);
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
