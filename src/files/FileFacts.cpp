#include "FileFacts.h"

#include "LoudnessFacts.h"
#include "platform/NativeName.h"
#include "platform/WorkPool.h"

#include <QCache>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QThreadPool>
#include <QWaitCondition>

namespace {
// Details are a few hundred bytes; pictures a few kilobytes.
constexpr int knownFiles = 20000;
constexpr int keptPictures = 256;
// At the end, a file being read on a disk that answers at all is done by then.
constexpr int endWaitMs = 1000;
} // namespace

FileStamp stampOf(const QString &path)
{
    const std::optional<struct stat> status = statPath(path);
    if (!status)
        return {};
    return {qint64(status->st_size),
            qint64(status->st_mtim.tv_sec) * 1000 + status->st_mtim.tv_nsec / 1000000};
}

struct FileFacts::Shared
{
    FileFacts::InfoReader readInfo;
    FileFacts::PeaksReader readPeaks;
    FileFacts::StampReader readStamp;

    // Under the mutex: the caches, which task each waiting path is for, and the owner the
    // signals go to (none once it is gone).
    mutable QMutex mutex;
    QCache<QString, Facts> known{knownFiles};
    struct Picture
    {
        FileStamp stamp;
        WavePeaks peaks;
    };
    QCache<QString, Picture> pictures{keptPictures};
    // Path to the number of the request that wants it: a task of an older request passes.
    QHash<QString, quint64> infoWanted;
    QHash<QString, quint64> detailsWanted;
    quint64 requests = 0;
    int running = 0;
    QWaitCondition allDone;
    FileFacts *owner = nullptr;

    // Under the mutex: the task for path of request `number` is still wanted, and runs now.
    bool begin(QHash<QString, quint64> &wanted, const QString &path, quint64 number)
    {
        const auto at = wanted.constFind(path);
        if (!owner || at == wanted.constEnd() || at.value() != number)
            return false;
        wanted.erase(at);
        ++running;
        return true;
    }
    void end()
    {
        QMutexLocker lock(&mutex);
        if (--running == 0)
            allDone.wakeAll();
    }

    // In a task: reads path again unless its stamp still matches what is known.
    void refresh(const QString &path)
    {
        const FileStamp stamp = readStamp(path);
        {
            QMutexLocker lock(&mutex);
            if (const Facts *facts = known.object(path); facts && facts->stamp == stamp)
                return;
        }
        WaveInfo info = readInfo(path);
        QMutexLocker lock(&mutex);
        known.insert(path, new Facts{stamp, std::move(info)});
        post(&FileFacts::infoReady, path);
    }

    void makePicture(const QString &path)
    {
        FileStamp stamp;
        {
            QMutexLocker lock(&mutex);
            const Facts *facts = known.object(path);
            if (!facts || !facts->info.playable())
                return;
            const Picture *picture = pictures.object(path);
            if (picture && picture->stamp == facts->stamp)
                return;
            stamp = facts->stamp;
        }
        WavePeaks peaks = readPeaks(path, pictureColumns);
        QMutexLocker lock(&mutex);
        pictures.insert(path, new Picture{stamp, std::move(peaks)});
        post(&FileFacts::peaksReady, path);
    }

    // Under the mutex, so that the owner cannot go meanwhile; queued to it, so a signal that
    // arrives after it has gone is dropped with it.
    void post(void (FileFacts::*signal)(const QString &), const QString &path)
    {
        if (FileFacts *to = owner)
            QMetaObject::invokeMethod(
                to, [to, signal, path] { emit(to->*signal)(path); }, Qt::QueuedConnection);
    }
};

FileFacts::FileFacts(QObject *parent, InfoReader readInfo, PeaksReader readPeaks,
                     StampReader readStamp, LoudnessMeasure measure)
    : QObject(parent), m_shared(std::make_shared<Shared>()),
      m_loudness(new LoudnessFacts(this, std::move(measure)))
{
    m_shared->readInfo = std::move(readInfo);
    m_shared->readPeaks = std::move(readPeaks);
    m_shared->readStamp = std::move(readStamp);
    m_shared->owner = this;
}

FileFacts::~FileFacts()
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->owner = nullptr;
    m_shared->infoWanted.clear();
    m_shared->detailsWanted.clear();
    if (m_shared->running > 0)
        m_shared->allDone.wait(&m_shared->mutex, endWaitMs);
}

std::optional<FileFacts::Facts> FileFacts::known(const QString &path) const
{
    QMutexLocker lock(&m_shared->mutex);
    if (const Facts *facts = m_shared->known.object(path))
        return *facts;
    return std::nullopt;
}

std::optional<WavePeaks> FileFacts::peaks(const QString &path) const
{
    QMutexLocker lock(&m_shared->mutex);
    const Facts *facts = m_shared->known.object(path);
    const Shared::Picture *picture = m_shared->pictures.object(path);
    if (facts && picture && picture->stamp == facts->stamp)
        return picture->peaks;
    return std::nullopt;
}

void FileFacts::requestInfo(const QStringList &paths)
{
    quint64 number = 0;
    {
        QMutexLocker lock(&m_shared->mutex);
        number = ++m_shared->requests;
        m_shared->infoWanted.clear();
        for (const QString &path : paths)
            m_shared->infoWanted.insert(path, number);
    }
    // In the order given: the pool takes tasks of one priority first in, first out. A path
    // being read stays welcome: the file may have changed since the read began.
    for (const QString &path : paths) {
        workPool().start([shared = m_shared, path, number] {
            {
                QMutexLocker lock(&shared->mutex);
                if (!shared->begin(shared->infoWanted, path, number))
                    return;
            }
            shared->refresh(path);
            shared->end();
        });
    }
}

void FileFacts::requestDetails(const QString &path)
{
    quint64 number = 0;
    {
        QMutexLocker lock(&m_shared->mutex);
        number = ++m_shared->requests;
        m_shared->detailsWanted.insert(path, number);
    }
    // Before the marks, and the newest first: a later request has a higher priority.
    const int priority = 1 + int(number % (1u << 30));
    workPool().start(QRunnable::create([shared = m_shared, path, number] {
                         {
                             QMutexLocker lock(&shared->mutex);
                             if (!shared->begin(shared->detailsWanted, path, number))
                                 return;
                         }
                         shared->refresh(path);
                         shared->makePicture(path);
                         shared->end();
                     }),
                     priority);
}
