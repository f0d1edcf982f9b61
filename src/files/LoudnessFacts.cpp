#include "LoudnessFacts.h"

#include "Scheduler.h"

#include <QCache>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QStandardPaths>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {
constexpr int keptFiles = 20000;

// How far below the true peak a take's integrated loudness can lie, and above it: the
// K-weighting adds up to 4 dB, and 24 channels summed some 15 more. A sample peak lies on
// the wave the true peak is found on; the margin covers the interpolator's error.
constexpr double loudnessOverTruePeak = 20.0;
constexpr double samplePeakOverTruePeak = 1.0;
// The absolute gate: nothing quieter is counted, and a take louder than this does not exist.
constexpr double quietestLufs = -70.0;
constexpr double loudestLufs = 10.0;
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
    // The folder's files, and those of them a worker has taken: a set that grows one file at
    // a time, where a copy of the folder's would be copied whole at the first take (32,767
    // names, under the mutex the window reads through).
    QSet<QString> inFolder;
    QSet<QString> folderTaken;
    // The folder shown, counted: a file taken while another was shown is of no use once
    // this one is, unless it is still wanted.
    quint64 folder = 0;
    std::shared_ptr<Asker::Link> asker;
    LoudnessFacts *owner = nullptr;
    // Where what is measured is kept between runs; none in tests that keep nothing.
    std::shared_ptr<LoudnessKeeper> keeper;

    bool isWaiting(const QString &path) const
    {
        return firstWaiting.contains(path) ||
               (inFolder.contains(path) && !folderTaken.contains(path));
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

    // In a worker: one file. The scheduler never gives it to two workers at once; a second
    // request for it waits for the first, then finds it known.
    void measureOne(const QString &path)
    {
        QMutexLocker lock(&mutex);
        // A tooltip's file of a folder before, the tooltip showing another since.
        if (!owner || !wanted(path))
            return;
        const quint64 from = folder;
        if (inFolder.contains(path))
            folderTaken.insert(path);
        lock.unlock();
        const FileStamp stamp = readStamp(path);
        lock.relock();
        if (const Entry *entry = known.object(path); entry && entry->stamp == stamp) {
            done(path, false);
            return;
        }
        const std::shared_ptr<LoudnessKeeper> keptBy = keeper;
        lock.unlock();
        // Measured in an earlier run, or by the library meanwhile. Figures no take can have
        // are measured again.
        if (keptBy && stamp.size >= 0) {
            if (std::optional<Loudness> kept = keptBy->kept(path, stamp);
                kept && believable(*kept)) {
                lock.relock();
                if (!owner)
                    return;
                known.insert(path, new Entry{stamp, kept});
                done(path, true);
                return;
            }
        }
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
        // Kept before anyone is told: what is told is what the next run and the library find.
        if (loudness && keptBy) {
            lock.unlock();
            keptBy->keep(path, stamp, *loudness);
            lock.relock();
            if (!owner)
                return;
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

void LoudnessFacts::keepIn(std::shared_ptr<LoudnessKeeper> keeper)
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->keeper = std::move(keeper);
}

QString LoudnessFacts::oldCacheFile()
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
    s.folderTaken.clear();
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
