#include "TransferJob.h"

#include <QMutexLocker>

namespace {
constexpr qint64 reportEveryMs = 50;
} // namespace

TransferJob::TransferJob(Kind kind, QString failureText, Work work)
    : m_kind(kind), m_failureText(std::move(failureText)), m_work(std::move(work))
{
    // The window owns the job and waits for its end before letting it go.
    m_state.report = [this] { report(); };
}

std::unique_ptr<TransferJob> TransferJob::deleting(FileOperations &files, const QString &folder,
                                                   const QStringList &names)
{
    return std::make_unique<TransferJob>(
        Kind::Delete, QStringLiteral("Cant delete file !"),
        [&files, folder, names](TransferState &state, const std::function<void()> &failed) {
            deleteFiles(files, folder, names, failed, &state);
            return QList<int>();
        });
}

std::unique_ptr<TransferJob> TransferJob::copying(FileOperations &files, const QStringList &sources,
                                                  const QList<int> &indices, const QString &folder,
                                                  bool deleteOrigin)
{
    return std::make_unique<TransferJob>(
        Kind::Copy, QStringLiteral("Error while copying ..."),
        [&files, sources, indices, folder, deleteOrigin](TransferState &state,
                                                         const std::function<void()> &failed) {
            return copyFiles(files, sources, indices, folder, deleteOrigin, failed, &state);
        });
}

void TransferJob::run()
{
    m_sinceReport.start();
    const QList<int> done = m_work(m_state, [this] { pauseOnFailure(); });
    emit progress();
    emit finished(done);
    m_exited.release();
}

void TransferJob::report()
{
    if (m_sinceReport.elapsed() < reportEveryMs)
        return;
    m_sinceReport.restart();
    emit progress();
}

void TransferJob::pauseOnFailure()
{
    // Stopping already: the message would only hold the stop up.
    if (m_state.cancel)
        return;
    QMutexLocker lock(&m_mutex);
    m_paused = true;
    emit failed(m_failureText);
    while (m_paused && !m_state.cancel)
        m_wake.wait(&m_mutex);
}

void TransferJob::resume()
{
    QMutexLocker lock(&m_mutex);
    m_paused = false;
    m_wake.wakeAll();
}

void TransferJob::requestInterruption()
{
    QMutexLocker lock(&m_mutex);
    m_state.cancel = true;
    m_wake.wakeAll();
}
