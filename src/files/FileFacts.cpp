#include "FileFacts.h"

#include "LoudnessFacts.h"
#include "Scheduler.h"
#include "platform/NativeName.h"

#include <QCache>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>

namespace {
// Pictures are a few kilobytes.
constexpr int keptPictures = 256;
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

    mutable QMutex mutex;
    QCache<QString, Facts> known{FileFacts::keptFiles};
    struct Picture
    {
        FileStamp stamp;
        WavePeaks peaks;
    };
    QCache<QString, Picture> pictures{keptPictures};
    FileFacts *owner = nullptr;
    std::shared_ptr<Asker::Link> asker;

    // In a task: reads path again unless its stamp still matches what is known.
    void refresh(const QString &path, const Generation::Ticket &ticket)
    {
        const FileStamp stamp = readStamp(path);
        {
            QMutexLocker lock(&mutex);
            if (const Facts *facts = known.object(path); facts && facts->stamp == stamp)
                return;
        }
        WaveInfo info = readInfo(path);
        {
            QMutexLocker lock(&mutex);
            known.insert(path, new Facts{stamp, std::move(info)});
        }
        post(&FileFacts::infoReady, path, ticket);
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
        {
            QMutexLocker lock(&mutex);
            pictures.insert(path, new Picture{stamp, std::move(peaks)});
        }
        post(&FileFacts::peaksReady, path, {});
    }

    // What was read is kept whatever happens; only the news of it is dropped once the owner
    // has gone, or the rows it was read for have scrolled away.
    void post(void (FileFacts::*signal)(const QString &), const QString &path,
              const Generation::Ticket &ticket)
    {
        Asker::answer(asker, ticket, [to = owner, signal, path] { emit(to->*signal)(path); });
    }
};

FileFacts::FileFacts(QObject *parent, InfoReader readInfo, PeaksReader readPeaks,
                     StampReader readStamp, LoudnessMeasure measure)
    : QObject(parent), m_shared(std::make_shared<Shared>()), m_asker(std::make_unique<Asker>(this)),
      m_loudness(new LoudnessFacts(this, std::move(measure)))
{
    m_shared->readInfo = std::move(readInfo);
    m_shared->readPeaks = std::move(readPeaks);
    m_shared->readStamp = std::move(readStamp);
    m_shared->owner = this;
    m_shared->asker = m_asker->link();
}

// The files still waiting are dropped with the asker; those being read end on their own.
FileFacts::~FileFacts() = default;

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

void FileFacts::requestInfo(Generation &rows, const QStringList &paths, Lane lane)
{
    // The rows scrolled past are read no more. In the order given; a path being read waits
    // for that read and looks again: the file may have changed since it began.
    rows.renew();
    const Generation::Ticket ticket = rows.ticket();
    Scheduler::instance().start(*m_asker, {lane, Weight::light, paths, ticket},
                                [shared = m_shared, ticket](const QString &path) {
                                    if (ticket.current())
                                        shared->refresh(path, ticket);
                                });
}

void FileFacts::requestDetails(const QString &path)
{
    // Before the marks, and the newest first; an older one still comes, after.
    Scheduler::instance().start(*m_asker, {Lane::now, Weight::light, {path}, {}},
                                [shared = m_shared](const QString &file) {
                                    shared->refresh(file, {});
                                    shared->makePicture(file);
                                });
}
