#pragma once

#include <QLocalServer>
#include <QObject>
#include <QStringList>

// One window for "Open with": the first program listens on a socket in the user's runtime
// folder; a later start with paths hands them over there and ends, and the running program
// acts on them. A socket left by a program that crashed is replaced.
class SingleInstance final : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstance(QObject *parent, QString socketPath = defaultSocketPath());

    // Sends the paths to a running program; false when none answers.
    static bool handOver(const QStringList &paths, const QString &socketPath = defaultSocketPath());
    // Starts listening, unless a running program already does. True when listening.
    bool listen();

    static QString defaultSocketPath();

signals:
    void pathsReceived(const QStringList &paths);

private:
    QString m_socketPath;
    QLocalServer m_server;
};
