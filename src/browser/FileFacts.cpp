#include "FileFacts.h"

#include <QFileInfo>
#include <QMutexLocker>

namespace {
// Details are a few hundred bytes; pictures a few kilobytes.
constexpr int knownFiles = 20000;
constexpr int keptPictures = 256;
} // namespace

FileStamp stampOf(const QString &path)
{
    const QFileInfo file(path);
    if (!file.exists())
        return {};
    return {file.size(), file.lastModified().toMSecsSinceEpoch()};
}

FileFacts::FileFacts(QObject *parent, InfoReader readInfo, PeaksReader readPeaks)
    : QObject(parent), m_readInfo(std::move(readInfo)), m_readPeaks(std::move(readPeaks)),
      m_known(knownFiles), m_pictures(keptPictures)
{
    // One worker for the marks, one for the pictures, so a picture never holds up a mark.
    m_pool.setMaxThreadCount(2);
    m_peaksQueue.newestFirst = true;
}

FileFacts::~FileFacts()
{
    m_closing = true;
    m_pool.waitForDone();
}

WaveInfo FileFacts::infoNow(const QString &path)
{
    const FileStamp stamp = stampOf(path);
    if (const Known *known = m_known.object(path); known && known->stamp == stamp)
        return known->info;
    WaveInfo info = m_readInfo(path);
    m_known.insert(path, new Known{stamp, info});
    return info;
}

const WaveInfo *FileFacts::known(const QString &path)
{
    const Known *known = m_known.object(path);
    return known ? &known->info : nullptr;
}

void FileFacts::requestInfo(const QStringList &paths)
{
    QStringList wanted;
    for (const QString &path : paths) {
        const Known *known = m_known.object(path);
        if (!known || known->stamp != stampOf(path))
            wanted.append(path);
    }
    feed(m_infoQueue, wanted, true, [this](const QString &path) {
        const FileStamp stamp = stampOf(path);
        WaveInfo info = m_readInfo(path);
        QMetaObject::invokeMethod(
            this,
            [this, path, stamp, info = std::move(info)] {
                m_known.insert(path, new Known{stamp, info});
                emit infoReady();
            },
            Qt::QueuedConnection);
    });
}

const WavePeaks *FileFacts::peaks(const QString &path)
{
    const FileStamp stamp = stampOf(path);
    if (const Picture *picture = m_pictures.object(path); picture && picture->stamp == stamp)
        return &picture->peaks;
    feed(m_peaksQueue, {path}, false, [this](const QString &path) {
        const FileStamp stamp = stampOf(path);
        WavePeaks peaks = m_readPeaks(path, pictureColumns);
        QMetaObject::invokeMethod(
            this,
            [this, path, stamp, peaks = std::move(peaks)] {
                m_pictures.insert(path, new Picture{stamp, peaks});
                emit peaksReady(path);
            },
            Qt::QueuedConnection);
    });
    return nullptr;
}

void FileFacts::feed(Queue &queue, const QStringList &paths, bool replace,
                     const std::function<void(const QString &)> &work)
{
    QMutexLocker lock(&queue.mutex);
    if (replace)
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
