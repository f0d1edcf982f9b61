#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (a session logging out, kill, Ctrl+C) into the same
// orderly closing as the window's close box: the handler only writes a byte to a pipe,
// and the event loop does the rest.
class SignalCloser final : public QObject
{
    Q_OBJECT
public:
    explicit SignalCloser(QObject *parent);
    ~SignalCloser() override;

signals:
    void closeRequested();

private:
    static void handle(int signal);
    QSocketNotifier *m_notifier = nullptr;
};
