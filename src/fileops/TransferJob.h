#pragma once

#include "FileTransfers.h"

#include <QElapsedTimer>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QSemaphore>
#include <QWaitCondition>
#include <functional>
#include <memory>

class FileOperations;

// A copy or a delete run by the scheduler. It tells the window by signals: its progress, its
// first failure and its end. At the failure it pauses until the window has told the user and
// says resume(), so no message is ever waited for from the worker; asked to stop, it stops
// between two files, or inside a copy without leaving a trace.
class TransferJob final : public QObject
{
    Q_OBJECT
public:
    enum class Kind
    {
        Copy,
        Delete
    };
    // The work: the loop over the files with the state to report in and the failure to
    // call; it returns the rows done.
    using Work = std::function<QList<int>(TransferState &, const std::function<void()> &)>;
    TransferJob(Kind kind, QString failureText, Work work);

    // Deletes the named files of a folder, in list order ("Cant delete file !").
    static std::unique_ptr<TransferJob> deleting(FileOperations &files, const QString &folder,
                                                 const QStringList &names);
    // Copies or moves the sources at the indices into the folder ("Error while copying ...").
    static std::unique_ptr<TransferJob> copying(FileOperations &files, const QStringList &sources,
                                                const QList<int> &indices, const QString &folder,
                                                bool deleteOrigin);

    Kind kind() const { return m_kind; }
    // What the progress window shows; the worker writes it.
    const TransferState &state() const { return m_state; }

    void requestInterruption();
    bool isInterruptionRequested() const { return m_state.cancel; }
    // After failed(): the user has been told, the work goes on.
    void resume();
    // Once finished() has come: returns when the worker has left the job, at once.
    void waitForExit() { m_exited.acquire(); }

    // On the worker.
    void run();

signals:
    // Often enough for the window to follow, never more than twenty times a second.
    void progress();
    // The first failure; the job waits for resume() (or an interruption).
    void failed(const QString &text);
    void finished(const QList<int> &done);

private:
    void pauseOnFailure();
    void report();

    Kind m_kind;
    QString m_failureText;
    Work m_work;
    TransferState m_state;
    QMutex m_mutex;
    QWaitCondition m_wake;
    bool m_paused = false;
    QElapsedTimer m_sinceReport;
    QSemaphore m_exited;
};
