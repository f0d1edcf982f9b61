#include "FileFacts.h"

#include "platform/NativeName.h"

#include <QFileInfo>
#include <QMutexLocker>

namespace {
// Details are a few hundred bytes; pictures a few kilobytes.
constexpr int knownFiles = 20000;
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

FileFacts::FileFacts(QObject *parent, InfoReader readInfo, PeaksReader readPeaks,
                     StampReader readStamp)
    : QObject(parent), m_readInfo(std::move(readInfo)), m_readPeaks(std::move(readPeaks)),
      m_readStamp(std::move(readStamp)), m_known(knownFiles), m_pictures(keptPictures)
{
    // One worker for the marks, one for the tooltip, so a picture never holds up a mark.
    m_pool.setMaxThreadCount(2);
    m_detailsQueue.newestFirst = true;
}

FileFacts::~FileFacts()
{
    m_closing = true;
    m_pool.waitForDone();
}

std::optional<FileFacts::Facts> FileFacts::known(const QString &path) const
{
    QMutexLocker lock(&m_cacheMutex);
    if (const Facts *facts = m_known.object(path))
        return *facts;
    return std::nullopt;
}

std::optional<WavePeaks> FileFacts::peaks(const QString &path) const
{
    QMutexLocker lock(&m_cacheMutex);
    const Facts *facts = m_known.object(path);
    const Picture *picture = m_pictures.object(path);
    if (facts && picture && picture->stamp == facts->stamp)
        return picture->peaks;
    return std::nullopt;
}

void FileFacts::requestInfo(const QStringList &paths)
{
    feed(m_infoQueue, paths, Waiting::Replace, [this](const QString &path) { refresh(path); });
}

void FileFacts::requestDetails(const QString &path)
{
    feed(m_detailsQueue, {path}, Waiting::Add, [this](const QString &path) {
        refresh(path);
        makePicture(path);
    });
}

void FileFacts::refresh(const QString &path)
{
    const FileStamp stamp = m_readStamp(path);
    {
        QMutexLocker lock(&m_cacheMutex);
        if (const Facts *facts = m_known.object(path); facts && facts->stamp == stamp)
            return;
    }
    WaveInfo info = m_readInfo(path);
    {
        QMutexLocker lock(&m_cacheMutex);
        m_known.insert(path, new Facts{stamp, std::move(info)});
    }
    post(&FileFacts::infoReady, path);
}

void FileFacts::makePicture(const QString &path)
{
    FileStamp stamp;
    {
        QMutexLocker lock(&m_cacheMutex);
        const Facts *facts = m_known.object(path);
        if (!facts || !facts->info.playable())
            return;
        const Picture *picture = m_pictures.object(path);
        if (picture && picture->stamp == facts->stamp)
            return;
        stamp = facts->stamp;
    }
    WavePeaks peaks = m_readPeaks(path, pictureColumns);
    {
        QMutexLocker lock(&m_cacheMutex);
        m_pictures.insert(path, new Picture{stamp, std::move(peaks)});
    }
    post(&FileFacts::peaksReady, path);
}

void FileFacts::post(void (FileFacts::*signal)(const QString &), const QString &path)
{
    // Queued to this object: a signal that arrives after it is gone is dropped with it.
    QMetaObject::invokeMethod(
        this, [this, signal, path] { emit(this->*signal)(path); }, Qt::QueuedConnection);
}

void FileFacts::feed(Queue &queue, const QStringList &paths, Waiting earlier,
                     const std::function<void(const QString &)> &work)
{
    QMutexLocker lock(&queue.mutex);
    if (earlier == Waiting::Replace)
        queue.waiting.clear();
    for (const QString &path : paths) {
        // A path being read stays welcome: the file may have changed since the read began.
        queue.waiting.removeOne(path);
        queue.waiting.append(path);
    }
    if (queue.running || queue.waiting.isEmpty())
        return;
    queue.running = true;
    m_pool.start([this, &queue, work] {
        for (;;) {
            QString path;
            {
                QMutexLocker lock(&queue.mutex);
                if (queue.waiting.isEmpty() || m_closing) {
                    queue.running = false;
                    return;
                }
                path = queue.newestFirst ? queue.waiting.takeLast() : queue.waiting.takeFirst();
            }
            work(path);
        }
    });
}
