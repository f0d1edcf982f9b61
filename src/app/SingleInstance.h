#pragma once

#include <QFileSystemWatcher>
#include <QLocalServer>
#include <QObject>
#include <QStringList>

// One window for "Open with": the first program listens on a socket in the user's runtime
// folder; a later start with paths hands them over there and ends, and the running program
// acts on them. A socket left by a program that crashed is replaced.
//
// Any local program of the user's can connect, so the server trusts nothing it is sent: a
// handover is bounded in size and number of paths, must come within a few seconds, and must
// begin with our own mark; anything else is dropped without a word. Too many connections at
// once are refused, and a server that stopped listening (out of descriptors, say) listens
// again.
class SingleInstance final : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstance(QObject *parent, QString socketPath = defaultSocketPath());

    // Sends the paths to a running program; false when none answers.
    static bool handOver(const QStringList &paths, const QString &socketPath = defaultSocketPath());
    // Starts listening, unless a running program already does. True when listening.
    bool listen();
    bool isListening() const { return m_server.isListening(); }

    static QString defaultSocketPath();

    // The limits of one handover: past them the connection is dropped.
    static constexpr qint64 maxBytes = 1024 * 1024;
    static constexpr int maxPaths = 4096;
    static constexpr int idleMs = 3000;
    static constexpr int maxConnections = 8;
    // What every handover begins with.
    static QByteArray mark();

signals:
    void pathsReceived(const QStringList &paths);

private:
    void accept();
    void listenAgainIfStopped();
    QString m_socketPath;
    // Before the server: its connections tell this list when they go, up to its own end.
    QList<class QLocalSocket *> m_open;
    QLocalServer m_server;
    QFileSystemWatcher m_guard;
    bool m_wanted = false;
};
