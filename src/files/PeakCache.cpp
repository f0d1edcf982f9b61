#include "PeakCache.h"

#include "Scheduler.h"

#include <QCache>
#include <QMutex>
#include <QMutexLocker>

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

    void read(const QString &path, int columns, const std::shared_ptr<Asker::Link> &asker,
              const Generation::Ticket &ticket)
    {
        const FileStamp stamp = readStamp(path);
        {
            QMutexLocker lock(&mutex);
            if (const Entry *entry = kept.object(path);
                entry && entry->stamp == stamp && entry->peaks.columns >= columns)
                return;
        }
        WavePeaks peaks = readPeaks(path, columns);
        {
            QMutexLocker lock(&mutex);
            kept.insert(path, new Entry{stamp, std::move(peaks)});
        }
        Asker::answer(asker, ticket, [to = owner, path] { emit to->ready(path); });
    }
    PeakCache *owner = nullptr;
};

PeakCache::PeakCache(QObject *parent, FileFacts::PeaksReader readPeaks,
                     FileFacts::StampReader readStamp)
    : QObject(parent), m_shared(std::make_shared<Shared>()), m_asker(std::make_unique<Asker>(this)),
      m_file(std::make_unique<Generation>())
{
    m_shared->readPeaks = std::move(readPeaks);
    m_shared->readStamp = std::move(readStamp);
    m_shared->owner = this;
}

// A task still reading finishes on its own; what it holds it shares, and its answer is dropped.
PeakCache::~PeakCache() = default;

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
    // Only the newest is served: the files pointed at before it pass.
    m_file->renew();
    const int columns = columnsFor(width);
    Scheduler::instance().start(*m_asker, {Lane::now, Weight::light, {path}, m_file->ticket()},
                                [shared = m_shared, columns, asker = m_asker->link(),
                                 ticket = m_file->ticket()](const QString &file) {
                                    shared->read(file, columns, asker, ticket);
                                });
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
