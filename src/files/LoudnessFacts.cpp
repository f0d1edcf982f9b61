#include "LoudnessFacts.h"

#include <QCache>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QRunnable>
#include <QSet>
#include <QThread>
#include <QThreadPool>
#include <deque>
#include <sys/resource.h>
#include <unistd.h>

namespace {
constexpr int keptFiles = 20000;

// Threads of their own: a measurement takes seconds of a core, and must not hold up the
// details and waveforms of the work pool. Left to the end of the process, as that pool is.
QThreadPool &measurePool()
{
    static QThreadPool *const pool = [] {
        auto *made = new QThreadPool;
        made->setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
        return made;
    }();
    return *pool;
}

// Below the window and the sound's worker: the window repaints and a play starts at once
// while a folder is measured. Linux gives each thread a nice value of its own.
void lowerThisThread()
{
    setpriority(PRIO_PROCESS, id_t(gettid()), 10);
}
} // namespace

struct LoudnessFacts::Shared
{
    Measure measure;
    FileFacts::StampReader readStamp;
    mutable QMutex mutex;
    struct Entry
    {
        FileStamp stamp;
        std::optional<Loudness> loudness;
    };
    QCache<QString, Entry> known{keptFiles};
    std::deque<QString> first;
    QSet<QString> firstWaiting;
    // The folder's files, shared with the list that gave them, and how far the workers got.
    QStringList rest;
    qsizetype restAt = 0;
    // Being measured now: asked for again meanwhile, it is not measured twice at once.
    QSet<QString> running;
    // What runs now, and the folder it belongs to (0 for the ones asked for first).
    quint64 folder = 0;
    int workers = 0;
    LoudnessFacts *owner = nullptr;

    // Under the mutex: the next path to measure, and the folder it was asked with.
    std::optional<std::pair<QString, quint64>> next()
    {
        while (!first.empty()) {
            QString path = first.front();
            first.pop_front();
            if (!running.contains(path))
                return std::pair{path, quint64(0)};
        }
        while (restAt < rest.size()) {
            const QString &path = rest[restAt++];
            if (!running.contains(path))
                return std::pair{path, folder};
        }
        return std::nullopt;
    }

    bool isWaiting(const QString &path) const
    {
        return firstWaiting.contains(path) || rest.indexOf(path, restAt) >= 0;
    }

    // A file of the folder that could not be measured changes nothing anyone shows; one
    // asked for first is no longer "measuring…".
    void done(const QString &path, bool measured)
    {
        if (firstWaiting.remove(path) || measured)
            post(path);
    }

    void work()
    {
        lowerThisThread();
        QMutexLocker lock(&mutex);
        while (owner) {
            const std::optional<std::pair<QString, quint64>> task = next();
            if (!task)
                break;
            const auto &[path, from] = *task;
            running.insert(path);
            lock.unlock();
            const FileStamp stamp = readStamp(path);
            lock.relock();
            if (const Entry *entry = known.object(path); entry && entry->stamp == stamp) {
                running.remove(path);
                done(path, false);
                continue;
            }
            lock.unlock();
            // Another folder shown meanwhile stops a measurement of the folder before.
            const std::optional<Loudness> loudness = measure(path, [this, from = from] {
                QMutexLocker check(&mutex);
                return !owner || (from != 0 && from != folder);
            });
            lock.relock();
            running.remove(path);
            if (!owner || (from != 0 && from != folder && !loudness))
                continue;
            known.insert(path, new Entry{stamp, loudness});
            done(path, loudness.has_value());
        }
        --workers;
    }

    // Under the mutex: enough workers for what waits.
    void startWorkers(const std::shared_ptr<Shared> &self)
    {
        const int wanted = std::min<qsizetype>(measurePool().maxThreadCount(),
                                               qsizetype(first.size()) + rest.size() - restAt);
        for (; workers < wanted; ++workers)
            measurePool().start(QRunnable::create([self] { self->work(); }));
    }

    void post(const QString &path)
    {
        if (LoudnessFacts *to = owner)
            QMetaObject::invokeMethod(
                to, [to, path] { emit to->measured(path); }, Qt::QueuedConnection);
    }
};

LoudnessFacts::LoudnessFacts(QObject *parent, Measure measure, FileFacts::StampReader readStamp)
    : QObject(parent), m_shared(std::make_shared<Shared>())
{
    m_shared->measure = std::move(measure);
    m_shared->readStamp = std::move(readStamp);
    m_shared->owner = this;
}

LoudnessFacts::~LoudnessFacts()
{
    // A measurement that runs sees the owner gone at its next chunk and ends by itself.
    QMutexLocker lock(&m_shared->mutex);
    m_shared->owner = nullptr;
    m_shared->first.clear();
    m_shared->rest.clear();
    m_shared->restAt = 0;
}

std::optional<Loudness> LoudnessFacts::known(const QString &path) const
{
    QMutexLocker lock(&m_shared->mutex);
    if (const Shared::Entry *entry = m_shared->known.object(path))
        return entry->loudness;
    return std::nullopt;
}

bool LoudnessFacts::waiting(const QString &path) const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->isWaiting(path);
}

void LoudnessFacts::requestFirst(const QStringList &paths)
{
    QMutexLocker lock(&m_shared->mutex);
    // Each is looked at again: the file may have changed since it was measured.
    for (auto it = paths.rbegin(); it != paths.rend(); ++it) {
        m_shared->first.push_front(*it);
        m_shared->firstWaiting.insert(*it);
    }
    m_shared->startWorkers(m_shared);
}

void LoudnessFacts::requestFolder(const QStringList &paths)
{
    QMutexLocker lock(&m_shared->mutex);
    ++m_shared->folder;
    m_shared->rest = paths;
    m_shared->restAt = 0;
    m_shared->startWorkers(m_shared);
}
