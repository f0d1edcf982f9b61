#include "LoudnessFacts.h"

#include <QCache>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QRunnable>
#include <QSet>
#include <QStandardPaths>
#include <QThread>
#include <QThreadPool>
#include <cmath>
#include <deque>
#include <sys/resource.h>
#include <tuple>
#include <unistd.h>

namespace {
constexpr int keptFiles = 20000;
// Past this many lines the file on disk is written again with the newest line of each file.
constexpr int diskLinesBeforeCompacting = 2 * keptFiles;

// One line a file: its path (percent-encoded bytes: any name fits on a line), its stamp and
// its figures; "-inf" for a silent file's.
QByteArray lineOf(const QString &path, const FileStamp &stamp, const Loudness &l)
{
    const auto number = [](double value) { return QByteArray::number(value, 'g', 17); };
    return QFile::encodeName(path).toPercentEncoding() + ' ' + QByteArray::number(stamp.size) +
           ' ' + QByteArray::number(stamp.modifiedMs) + ' ' + number(l.integratedLufs) + ' ' +
           number(l.rangeLu) + ' ' + number(l.truePeakDbtp) + ' ' + number(l.samplePeakDbfs) + ' ' +
           QByteArray::number(l.clipped) + '\n';
}

std::optional<std::tuple<QString, FileStamp, Loudness>> parse(const QByteArray &line)
{
    const QList<QByteArray> fields = line.trimmed().split(' ');
    if (fields.size() != 8)
        return std::nullopt;
    bool ok = true;
    const auto integer = [&ok](const QByteArray &field) {
        bool good = false;
        const qint64 value = field.toLongLong(&good);
        ok = ok && good;
        return value;
    };
    const auto real = [&ok](const QByteArray &field) {
        if (field == "-inf")
            return Loudness::silence;
        bool good = false;
        const double value = field.toDouble(&good);
        ok = ok && good && std::isfinite(value);
        return value;
    };
    const QString path = QFile::decodeName(QByteArray::fromPercentEncoding(fields[0]));
    const FileStamp stamp{integer(fields[1]), integer(fields[2])};
    Loudness loudness;
    loudness.integratedLufs = real(fields[3]);
    loudness.rangeLu = real(fields[4]);
    loudness.truePeakDbtp = real(fields[5]);
    loudness.samplePeakDbfs = real(fields[6]);
    loudness.clipped = integer(fields[7]);
    if (!ok || path.isEmpty() || loudness.clipped < 0)
        return std::nullopt;
    return std::tuple{path, stamp, loudness};
}

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
    // The file on disk, read by the first worker, before it measures anything.
    QString diskFile;
    bool diskRead = false;
    int diskLines = 0;
    QMutex diskMutex;

    // In a worker, without the mutex: what an earlier run kept.
    void readDisk(const QString &file)
    {
        QFile in(file);
        if (!in.open(QIODevice::ReadOnly))
            return;
        QList<std::tuple<QString, FileStamp, Loudness>> entries;
        while (!in.atEnd())
            if (const auto entry = parse(in.readLine(4096)))
                entries.append(*entry);
        QMutexLocker lock(&mutex);
        diskLines = int(entries.size());
        for (const auto &[path, stamp, loudness] : entries)
            if (!known.contains(path)) // measured meanwhile by another worker
                known.insert(path, new Entry{stamp, loudness});
    }

    // In a worker, without the mutex: adds a line, or writes the file again once it has
    // grown past what the memory keeps.
    void writeDisk(const QString &path, const FileStamp &stamp, const Loudness &loudness)
    {
        QMutexLocker disk(&diskMutex);
        QByteArray lines;
        bool whole = false;
        {
            QMutexLocker lock(&mutex);
            if (diskFile.isEmpty())
                return;
            whole = ++diskLines > diskLinesBeforeCompacting;
            if (whole) {
                diskLines = 0;
                for (const QString &kept : known.keys())
                    if (const Entry *entry = known.object(kept); entry && entry->loudness) {
                        lines += lineOf(kept, entry->stamp, *entry->loudness);
                        ++diskLines;
                    }
            }
        }
        QDir().mkpath(QFileInfo(diskFile).absolutePath());
        QFile out(diskFile);
        if (whole) {
            if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
                out.write(lines);
        } else if (out.open(QIODevice::WriteOnly | QIODevice::Append)) {
            out.write(lineOf(path, stamp, loudness));
        }
    }

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

    // Under the mutex: of a folder no longer shown, and not asked for since. One asked for
    // while it was measured is not taken again, so it must go on.
    bool abandoned(const QString &path, quint64 from) const
    {
        return !owner || (from != 0 && from != folder && !firstWaiting.contains(path));
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
        if (!diskRead && !diskFile.isEmpty()) {
            diskRead = true;
            const QString file = diskFile;
            lock.unlock();
            readDisk(file);
            lock.relock();
        }
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
            const std::optional<Loudness> loudness =
                measure(path, [this, path = path, from = from] {
                    QMutexLocker check(&mutex);
                    return abandoned(path, from);
                });
            lock.relock();
            if (!owner || (!loudness && abandoned(path, from))) {
                running.remove(path);
                continue;
            }
            // On disk before anyone is told: what is told is what the next run finds.
            if (loudness) {
                lock.unlock();
                writeDisk(path, stamp, *loudness);
                lock.relock();
            }
            // Still running until known: a worker that takes the same file from the folder
            // meanwhile would measure it again.
            running.remove(path);
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

void LoudnessFacts::keepOnDisk(const QString &file)
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->diskFile = file;
    m_shared->diskRead = false;
}

QString LoudnessFacts::defaultCacheFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/QuillonSonoret/loudness");
}

int LoudnessFacts::threads()
{
    return measurePool().maxThreadCount();
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
