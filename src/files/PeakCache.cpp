#include "PeakCache.h"

#include "platform/WorkPool.h"

#include <QCache>
#include <QMutex>
#include <QMutexLocker>
#include <QRunnable>
#include <QThreadPool>

namespace {
// The file at hand and the few before it: stepping back and forth redraws at once.
constexpr int keptFiles = 8;
constexpr int columnStep = 512;
} // namespace

struct PeakCache::Shared
{
    FileFacts::PeaksReader readPeaks;
    FileFacts::StampReader readStamp;
    mutable QMutex mutex;
    struct Entry
    {
        FileStamp stamp;
        WavePeaks peaks;
    };
    QCache<QString, Entry> kept{keptFiles};
    quint64 newest = 0;
    PeakCache *owner = nullptr;

    void read(const QString &path, int columns, quint64 number)
    {
        {
            QMutexLocker lock(&mutex);
            if (!owner || number != newest)
                return;
        }
        const FileStamp stamp = readStamp(path);
        {
            QMutexLocker lock(&mutex);
            if (const Entry *entry = kept.object(path);
                entry && entry->stamp == stamp && entry->peaks.columns >= columns)
                return;
        }
        WavePeaks peaks = readPeaks(path, columns);
        QMutexLocker lock(&mutex);
        kept.insert(path, new Entry{stamp, std::move(peaks)});
        if (owner)
            QMetaObject::invokeMethod(
                owner, [owner = owner, path] { emit owner->ready(path); }, Qt::QueuedConnection);
    }
};

PeakCache::PeakCache(QObject *parent, FileFacts::PeaksReader readPeaks,
                     FileFacts::StampReader readStamp)
    : QObject(parent), m_shared(std::make_shared<Shared>())
{
    m_shared->readPeaks = std::move(readPeaks);
    m_shared->readStamp = std::move(readStamp);
    m_shared->owner = this;
}

PeakCache::~PeakCache()
{
    // A task still reading finishes on its own; what it holds it shares.
    QMutexLocker lock(&m_shared->mutex);
    m_shared->owner = nullptr;
}

int PeakCache::columnsFor(int width)
{
    return std::max(1, (width + columnStep - 1) / columnStep) * columnStep;
}

std::optional<WavePeaks> PeakCache::peaks(const QString &path) const
{
    QMutexLocker lock(&m_shared->mutex);
    if (const Shared::Entry *entry = m_shared->kept.object(path))
        return entry->peaks;
    return std::nullopt;
}

void PeakCache::request(const QString &path, int width)
{
    if (path.isEmpty())
        return;
    quint64 number = 0;
    {
        QMutexLocker lock(&m_shared->mutex);
        number = ++m_shared->newest;
    }
    const int columns = columnsFor(width);
    workPool().start(QRunnable::create(
        [shared = m_shared, path, columns, number] { shared->read(path, columns, number); }));
}

WavePeaks narrowed(const WavePeaks &peaks, int columns)
{
    if (columns <= 0 || peaks.columns <= columns)
        return peaks;
    WavePeaks out;
    out.channels = peaks.channels;
    out.columns = columns;
    out.values.fill(0.0f, qsizetype(columns) * peaks.channels);
    for (int from = 0; from < peaks.columns; ++from) {
        const int to = int(qint64(from) * columns / peaks.columns);
        for (int channel = 0; channel < peaks.channels; ++channel) {
            float &value = out.values[qsizetype(to) * peaks.channels + channel];
            value = std::max(value, peaks.at(from, channel));
        }
    }
    return out;
}
