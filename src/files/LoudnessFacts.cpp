#include "LoudnessFacts.h"

#include "Scheduler.h"

#include <QByteArray>
#include <QCache>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QStandardPaths>
#include <QWaitCondition>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace {
constexpr int keptFiles = 20000;
// Past this many lines the file on disk is written again with the newest line of each file.
constexpr int diskLinesBeforeCompacting = 2 * keptFiles;
// What is read of the file on disk: its newest lines only. A file grown to a million lines
// (another program's, or one that was never compacted) took 263 MiB when read whole; its
// last 8 MiB hold some 60,000 lines, more than are ever kept.
constexpr qint64 diskBytesRead = 8 << 20;
// A path of 4096 bytes, each percent-encoded, and the figures.
constexpr qsizetype longestLine = 3 * 4096 + 256;
// Appended after a last line that lacks its newline (a run ended while writing it): that
// line gets a field too many and is refused, and the next line starts on its own.
constexpr char tornEnd[] = " torn\n";

// The measurement's marks, one word, so that a take whose samples are not numbers or whose
// rate is too low is not measured again at every start.
constexpr char noMarks[] = "-";
constexpr char notNumbersMark[] = "notnumbers";
constexpr char rateTooLowMark[] = "ratetoolow";

// How far below the true peak a take's integrated loudness can lie, and above it: the
// K-weighting adds up to 4 dB, and 24 channels summed some 15 more. A sample peak lies on
// the wave the true peak is found on; the margin covers the interpolator's error.
constexpr double loudnessOverTruePeak = 20.0;
constexpr double samplePeakOverTruePeak = 1.0;
// The absolute gate: nothing quieter is counted, and a take louder than this does not exist.
constexpr double quietestLufs = -70.0;
constexpr double loudestLufs = 10.0;

QByteArray numberText(double value)
{
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value > 0 ? "inf" : "-inf";
    return QByteArray::number(value, 'g', 17);
}

std::optional<double> numberOf(const QByteArray &field)
{
    if (field == "-inf")
        return -std::numeric_limits<double>::infinity();
    if (field == "inf")
        return std::numeric_limits<double>::infinity();
    if (field == "nan")
        return std::numeric_limits<double>::quiet_NaN();
    bool good = false;
    const double value = field.toDouble(&good);
    if (!good || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// One line a file: its path (percent-encoded bytes: any name fits on a line), its stamp, its
// figures and its marks.
QByteArray lineOf(const QString &path, const FileStamp &stamp, const Loudness &l)
{
    QByteArray marks;
    if (l.notNumbers)
        marks = notNumbersMark;
    if (l.rateTooLow)
        marks += (marks.isEmpty() ? "" : "+") + QByteArray(rateTooLowMark);
    if (marks.isEmpty())
        marks = noMarks;
    return QFile::encodeName(path).toPercentEncoding() + ' ' + QByteArray::number(stamp.size) +
           ' ' + QByteArray::number(stamp.modifiedMs) + ' ' + numberText(l.integratedLufs) + ' ' +
           numberText(l.rangeLu) + ' ' + numberText(l.truePeakDbtp) + ' ' +
           numberText(l.samplePeakDbfs) + ' ' + QByteArray::number(l.clipped) + ' ' + marks + '\n';
}
} // namespace

bool LoudnessFacts::believable(const Loudness &l)
{
    if (l.clipped < 0)
        return false;
    // Nothing was measured: no figure is shown or used.
    if (l.rateTooLow)
        return true;
    // Infinite or not a number: what is shown says so, and no gain is worked out.
    if (l.notNumbers)
        return l.truePeakDbtp == std::numeric_limits<double>::infinity();
    const bool silent = l.integratedLufs == Loudness::silence;
    if (!silent && !(l.integratedLufs >= quietestLufs && l.integratedLufs <= loudestLufs))
        return false;
    if (!std::isfinite(l.rangeLu) || l.rangeLu < 0)
        return false;
    // Only digital silence has no peak at all.
    const bool noPeak = l.truePeakDbtp == Loudness::silence;
    if (!(std::isfinite(l.truePeakDbtp) || (noPeak && silent)))
        return false;
    if (!(std::isfinite(l.samplePeakDbfs) || l.samplePeakDbfs == Loudness::silence))
        return false;
    if (!(l.samplePeakDbfs <= l.truePeakDbtp + samplePeakOverTruePeak))
        return false;
    return silent || l.integratedLufs <= l.truePeakDbtp + loudnessOverTruePeak;
}

namespace {
std::optional<std::tuple<QString, FileStamp, Loudness>> parse(const QByteArray &line)
{
    const QList<QByteArray> fields = line.trimmed().split(' ');
    if (fields.size() != 9)
        return std::nullopt;
    bool ok = true;
    const auto integer = [&ok](const QByteArray &field) {
        bool good = false;
        const qint64 value = field.toLongLong(&good);
        ok = ok && good;
        return value;
    };
    const auto real = [&ok](const QByteArray &field) {
        const std::optional<double> value = numberOf(field);
        ok = ok && value;
        return value.value_or(0);
    };
    const QString path = QFile::decodeName(QByteArray::fromPercentEncoding(fields[0]));
    const FileStamp stamp{integer(fields[1]), integer(fields[2])};
    Loudness loudness;
    loudness.integratedLufs = real(fields[3]);
    loudness.rangeLu = real(fields[4]);
    loudness.truePeakDbtp = real(fields[5]);
    loudness.samplePeakDbfs = real(fields[6]);
    loudness.clipped = integer(fields[7]);
    if (fields[8] != noMarks)
        for (const QByteArray &mark : fields[8].split('+')) {
            if (mark == notNumbersMark && !loudness.notNumbers)
                loudness.notNumbers = true;
            else if (mark == rateTooLowMark && !loudness.rateTooLow)
                loudness.rateTooLow = true;
            else
                ok = false;
        }
    if (!ok || path.isEmpty() || stamp.size < 0 || !LoudnessFacts::believable(loudness))
        return std::nullopt;
    return std::tuple{path, stamp, loudness};
}

// The file on disk, open only while it is a regular file in its own name. A FIFO in its
// place blocked the open for good (the only worker, on one core) or ended the program on a
// write; a link had its target appended to, or created. Any of these, a device or a folder:
// nothing is read or written, and the files are measured again.
class DiskFile final
{
public:
    DiskFile(const QString &path, int flags)
    {
        m_fd = ::open(QFile::encodeName(path).constData(),
                      flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
        struct stat status
        {
        };
        if (m_fd >= 0 && (::fstat(m_fd, &status) != 0 || !S_ISREG(status.st_mode))) {
            ::close(m_fd);
            m_fd = -1;
        }
        m_size = m_fd >= 0 ? qint64(status.st_size) : 0;
    }
    ~DiskFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    DiskFile(const DiskFile &) = delete;
    DiskFile &operator=(const DiskFile &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    qint64 size() const { return m_size; }

    QByteArray readFrom(qint64 offset)
    {
        QByteArray bytes(qsizetype(m_size - offset), Qt::Uninitialized);
        qsizetype got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::pread(m_fd, bytes.data() + got, std::size_t(bytes.size() - got),
                                      off_t(offset + got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += n;
        }
        bytes.truncate(got);
        return bytes;
    }

    // Whether the last byte is a newline, or there is none.
    bool endsALine()
    {
        char last = '\n';
        return m_size == 0 || (::pread(m_fd, &last, 1, off_t(m_size - 1)) == 1 && last == '\n');
    }

    bool truncate() { return ::ftruncate(m_fd, 0) == 0; }

    void write(const QByteArray &bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n =
                ::write(m_fd, bytes.constData() + done, std::size_t(bytes.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            done += n;
        }
    }

private:
    int m_fd = -1;
    qint64 m_size = 0;
};

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
    // Asked for first (the rows in view, a tooltip's or the band's file), not measured yet.
    QSet<QString> firstWaiting;
    // The file each tooltip, band or play shows, by who shows it: it goes on through another
    // folder, when what else of the folder before waits or runs is dropped.
    QHash<const QObject *, QString> held;
    // The folder's files, and those of them no worker has taken yet.
    QSet<QString> inFolder;
    QSet<QString> folderWaiting;
    // The folder shown, counted: a file taken while another was shown is of no use once
    // this one is, unless it is still wanted.
    quint64 folder = 0;
    std::shared_ptr<Asker::Link> asker;
    LoudnessFacts *owner = nullptr;
    // The file on disk, read by the first worker before any worker measures anything: one
    // that went on meanwhile measured again what the file knows.
    QString diskFile;
    enum class Disk
    {
        unread,
        reading,
        read
    } disk = Disk::unread;
    QWaitCondition diskRead;
    int diskLines = 0;
    QMutex diskMutex;

    // In a worker, without the mutex: what an earlier run kept, its newest lines only.
    void readDisk(const QString &file)
    {
        DiskFile in(file, O_RDONLY);
        if (!in.isOpen())
            return;
        const qint64 from = std::max<qint64>(0, in.size() - diskBytesRead);
        const QByteArray bytes = in.readFrom(from);
        // Only whole lines count: not the one cut where reading starts, nor a torn last one.
        qsizetype begin = 0;
        if (from > 0) {
            begin = bytes.indexOf('\n') + 1;
            if (begin == 0)
                begin = bytes.size();
        }
        const qsizetype end = std::max(begin, bytes.lastIndexOf('\n') + 1);
        qsizetype at = end;
        int lines = 0;
        while (at > begin && lines < diskLinesBeforeCompacting) {
            const qsizetype before = at >= 2 ? bytes.lastIndexOf('\n', at - 2) : -1;
            at = std::max(begin, before + 1);
            ++lines;
        }
        // More than was read: the next line written compacts the file.
        const bool left = from > 0 || at > begin;
        QList<std::tuple<QString, FileStamp, Loudness>> entries;
        entries.reserve(lines);
        while (at < end) {
            const qsizetype lineEnd = bytes.indexOf('\n', at);
            if (lineEnd - at <= longestLine)
                if (auto entry = parse(bytes.mid(at, lineEnd - at)))
                    entries.append(std::move(*entry));
            at = lineEnd + 1;
        }
        QMutexLocker lock(&mutex);
        diskLines = left ? diskLinesBeforeCompacting : lines;
        QSet<QString> read;
        for (const auto &[path, stamp, loudness] : entries)
            if (!known.contains(path) || read.contains(path)) { // or measured meanwhile
                known.insert(path, new Entry{stamp, loudness});
                read.insert(path);
            }
    }

    // In a worker, without the mutex: adds a line, or writes the file again once it has
    // grown past what the memory keeps.
    void writeDisk(const QString &path, const FileStamp &stamp, const Loudness &loudness)
    {
        QMutexLocker disk(&diskMutex);
        QByteArray lines;
        bool whole = false;
        QString file;
        {
            QMutexLocker lock(&mutex);
            file = diskFile;
            if (file.isEmpty())
                return;
            whole = ++diskLines > diskLinesBeforeCompacting;
            if (whole) {
                // The one measured now is not known yet, and what is known of it is older.
                lines = lineOf(path, stamp, loudness);
                diskLines = 1;
                for (const QString &kept : known.keys())
                    if (const Entry *entry = known.object(kept);
                        kept != path && entry && entry->loudness) {
                        lines += lineOf(kept, entry->stamp, *entry->loudness);
                        ++diskLines;
                    }
            }
        }
        QDir().mkpath(QFileInfo(file).absolutePath());
        DiskFile out(file, O_RDWR | O_CREAT | (whole ? 0 : O_APPEND));
        if (!out.isOpen())
            return;
        if (whole) {
            if (out.truncate())
                out.write(lines);
        } else {
            out.write((out.endsALine() ? QByteArray() : QByteArray(tornEnd)) +
                      lineOf(path, stamp, loudness));
        }
    }

    bool isWaiting(const QString &path) const
    {
        return firstWaiting.contains(path) || folderWaiting.contains(path);
    }

    bool isHeld(const QString &path) const
    {
        return std::any_of(held.cbegin(), held.cend(),
                           [&path](const QString &shown) { return shown == path; });
    }

    // Under the mutex: whether anyone still wants it.
    bool wanted(const QString &path) const
    {
        return inFolder.contains(path) || isHeld(path) || firstWaiting.contains(path);
    }

    // Under the mutex: taken while another folder was shown, and no one wants it now. One
    // asked for while it was measured is not taken again, so it must go on.
    bool abandoned(const QString &path, quint64 from) const
    {
        return !owner || (from != folder && !wanted(path));
    }

    // A file of the folder that could not be measured changes nothing anyone shows; one
    // asked for first is no longer "measuring…".
    void done(const QString &path, bool measured)
    {
        if (firstWaiting.remove(path) || measured)
            post(path);
    }

    // In a worker, without the mutex: what an earlier run kept is read before anything is
    // measured, by the first task; the others wait for it.
    void readDiskOnce(QMutexLocker<QMutex> &lock)
    {
        while (disk != Disk::read && !diskFile.isEmpty()) {
            if (disk == Disk::reading) {
                diskRead.wait(&mutex);
                continue;
            }
            disk = Disk::reading;
            const QString file = diskFile;
            lock.unlock();
            readDisk(file);
            lock.relock();
            disk = Disk::read;
            diskRead.wakeAll();
        }
    }

    // In a worker: one file. The scheduler never gives it to two workers at once; a second
    // request for it waits for the first, then finds it known.
    void measureOne(const QString &path)
    {
        QMutexLocker lock(&mutex);
        readDiskOnce(lock);
        // A tooltip's file of a folder before, the tooltip showing another since.
        if (!owner || !wanted(path))
            return;
        const quint64 from = folder;
        folderWaiting.remove(path);
        lock.unlock();
        const FileStamp stamp = readStamp(path);
        lock.relock();
        if (const Entry *entry = known.object(path); entry && entry->stamp == stamp) {
            done(path, false);
            return;
        }
        lock.unlock();
        // Another folder shown meanwhile stops a measurement no one wants any more.
        bool stopped = false;
        std::optional<Loudness> loudness = measure(path, [this, &stopped, &path, from] {
            QMutexLocker check(&mutex);
            stopped = stopped || abandoned(path, from);
            return stopped;
        });
        // Figures no take can have (a faulty decoder, a float file far past full scale)
        // are no figures: a gain worked out from them could be anything.
        if (loudness && !believable(*loudness))
            loudness.reset();
        lock.relock();
        if (!owner)
            return;
        if (!loudness && stopped) {
            // Asked for again after it was told to stop, before it did: from the start.
            if (!abandoned(path, from))
                ask(Lane::now, {path}, {});
            return;
        }
        // On disk before anyone is told: what is told is what the next run finds.
        if (loudness) {
            lock.unlock();
            writeDisk(path, stamp, *loudness);
            lock.relock();
        }
        known.insert(path, new Entry{stamp, loudness});
        done(path, loudness.has_value());
    }

    // On threads for whole files: a measurement takes seconds of a core, and must not hold
    // up the details and waveforms, nor the window.
    void ask(Lane lane, const QStringList &paths, const Generation::Ticket &ticket)
    {
        Scheduler::instance().start(
            asker, {lane, Weight::whole, paths, ticket},
            [self = self.lock()](const QString &path) { self->measureOne(path); });
    }
    std::weak_ptr<Shared> self;

    // Under the mutex, so the owner is there to be named.
    void post(const QString &path)
    {
        if (LoudnessFacts *to = owner)
            Asker::answer(asker, {}, [to, path] { emit to->measured(path); });
    }
};

LoudnessFacts::LoudnessFacts(QObject *parent, Measure measure, FileFacts::StampReader readStamp)
    : QObject(parent), m_shared(std::make_shared<Shared>()), m_asker(std::make_unique<Asker>(this)),
      m_folder(std::make_unique<Generation>())
{
    m_shared->self = m_shared;
    m_shared->measure = std::move(measure);
    m_shared->readStamp = std::move(readStamp);
    m_shared->owner = this;
    m_shared->asker = m_asker->link();
}

LoudnessFacts::~LoudnessFacts()
{
    // What waits goes with the asker; a measurement that runs sees the owner gone at its
    // next chunk and ends by itself.
    QMutexLocker lock(&m_shared->mutex);
    m_shared->owner = nullptr;
}

void LoudnessFacts::keepOnDisk(const QString &file)
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->diskFile = file;
    m_shared->disk = Shared::Disk::unread;
}

QString LoudnessFacts::defaultCacheFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/QuillonSonoret/loudness");
}

int LoudnessFacts::threads()
{
    return Scheduler::instance().wholeThreads();
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

QString LoudnessFacts::line(const QString &path) const
{
    if (const std::optional<Loudness> figures = known(path))
        return loudnessText(*figures);
    return waiting(path) ? QStringLiteral("measuring\u2026") : QString();
}

void LoudnessFacts::requestFirst(const QStringList &paths)
{
    QMutexLocker lock(&m_shared->mutex);
    // Each is looked at again: the file may have changed since it was measured.
    for (const QString &path : paths)
        m_shared->firstWaiting.insert(path);
    m_shared->ask(Lane::now, paths, m_folder->ticket());
}

void LoudnessFacts::requestFor(const QObject *asker, const QString &path)
{
    QMutexLocker lock(&m_shared->mutex);
    if (path.isEmpty()) {
        m_shared->held.remove(asker);
        return;
    }
    m_shared->held.insert(asker, path);
    m_shared->firstWaiting.insert(path);
    // Of no folder: it stays through another, until the asker shows another file.
    m_shared->ask(Lane::now, {path}, {});
}

void LoudnessFacts::requestFolder(const QStringList &paths)
{
    QMutexLocker lock(&m_shared->mutex);
    Shared &s = *m_shared;
    ++s.folder;
    s.inFolder = QSet<QString>(paths.cbegin(), paths.cend());
    s.folderWaiting = s.inFolder;
    // The rows in view of the folder before are asked for no more: two takes of 5 GB held
    // up a new folder of small ones for 81 s on one core. What is still shown goes on.
    m_folder->renew();
    const auto stillWanted = [&s](const QString &path) {
        return s.inFolder.contains(path) || s.isHeld(path);
    };
    s.firstWaiting.removeIf([&](const QString &path) { return !stillWanted(path); });
    const QStringList again(s.firstWaiting.cbegin(), s.firstWaiting.cend());
    const Generation::Ticket ticket = m_folder->ticket();
    s.ask(Lane::background, paths, ticket);
    if (!again.isEmpty())
        s.ask(Lane::now, again, ticket);
}
