// What the old loudness cache file costs when it has grown to a million lines (another run's
// file never compacted, or one made to hurt): the time the library takes to take it into its
// store (once), then until the first take answers from the store, and the resident memory the
// import adds at its peak and keeps afterwards. Then how soon a
// folder of 40 small takes is measured when two takes of 5 GB were in view before it (run it
// under `taskset -c 0` for one core: it took 110.7 s there when the takes in view went on).
#include "BenchCommon.h"
#include "BenchWaves.h"
#include "files/LoudnessFacts.h"
#include "library/LibraryLoudness.h"
#include "library/SqliteLibraryStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>

namespace {

double peakResidentMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

// Linux: the peak so far is set back to what is resident now.
void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

} // namespace

// In a process of its own, so that what writing the file left to the allocator does not hide
// what reading it takes.
int readBack(const QString &cache, const QString &take)
{
    std::atomic<int> measured = 0;
    const auto measure = [&measured](const QString &, const std::function<bool()> &) {
        ++measured;
        return std::optional<Loudness>();
    };
    resetPeak();
    const double before = residentMiB();
    QElapsedTimer timer;
    timer.start();
    const QString storeFile = cache + QStringLiteral(".sqlite");
    int taken = 0;
    {
        SqliteLibraryStore store(storeFile);
        if (!store.open().ok())
            return 1;
        const Result<int> imported = store.importLoudnessCache(cache);
        taken = imported.ok() ? imported.value() : 0;
    }
    report("1,000,000 lines: taken into the store", timer.nsecsElapsed() / 1e6, "ms",
           QStringLiteral("%1 taken; once for good").arg(taken));
    timer.restart();
    auto keeper = std::make_shared<LibraryLoudness>(storeFile);
    keeper->storeChanged();
    LoudnessFacts facts(nullptr, measure, [](const QString &) { return FileStamp{1000, 1000}; });
    facts.keepIn(keeper);
    facts.requestFirst({take});
    while (!facts.known(take) && timer.elapsed() < 60000)
        QThread::msleep(1);
    const double took = timer.nsecsElapsed() / 1e6;
    report("  then the first take known from the store", took, "ms",
           QStringLiteral("%1 MiB on disk; %2 measured")
               .arg(double(QFile(cache).size()) / (1 << 20), 0, 'f', 0)
               .arg(measured.load()));
    report("  peak memory added while importing", peakResidentMiB() - before, "MiB",
           QStringLiteral("its newest 64 MiB are read"));
    report("  memory kept afterwards", residentMiB() - before, "MiB",
           QStringLiteral("the store's page cache"));
    return facts.known(take) ? 0 : 1;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString take = QStringLiteral("/home/someone/Recordings/2026-12-10/the take.wav");
    if (argc == 3 && QByteArray(argv[1]) == "--read")
        return readBack(QString::fromLocal8Bit(argv[2]), take);
    constexpr int lines = 1000000;
    QTemporaryDir dir;
    const QString cache = dir.filePath("loudness");
    {
        QFile out(cache);
        if (!out.open(QIODevice::WriteOnly))
            return 1;
        // Names as long as a recorder's dated folders make them, written a block at a time.
        QByteArray block;
        for (int n = 0; n < lines; ++n) {
            block += "%2Fhome%2Fsomeone%2FRecordings%2F2026-12-10%2Fsession%20" +
                     QByteArray::number(n % 500) + "%2Ftake%20" + QByteArray::number(n) +
                     ".wav 91234567 1796904567585 -23.5 6.25 -1.5 -1.75 0 -\n";
            if (block.size() > (1 << 20) || n + 1 == lines) {
                out.write(block);
                block.clear();
            }
        }
        out.write(QFile::encodeName(take).toPercentEncoding() + " 1000 1000 -30 1 -10 -10 0 -\n");
    }
    const int read = QProcess::execute(QCoreApplication::applicationFilePath(), {"--read", cache});

    // Two takes of 5 GB of silence (sparse: no disk read holds them up, only the measuring),
    // in view and asked for first, then another folder.
    const QStringList huge = {dir.filePath("huge1.wav"), dir.filePath("huge2.wav")};
    for (const QString &path : huge)
        writeHuge(path, 5ULL << 30, true);
    QStringList small;
    for (int n = 0; n < 40; ++n) {
        small.append(dir.filePath(QStringLiteral("small%1.wav").arg(n)));
        writeTone(small.last(), 44100 * 5, 44100, 2);
    }
    LoudnessFacts facts(nullptr);
    facts.requestFirst(huge);
    facts.requestFolder(huge);
    QThread::msleep(500);
    QElapsedTimer timer;
    timer.start();
    facts.requestFirst(small.mid(0, 20));
    facts.requestFolder(small);
    const auto allKnown = [&] {
        return std::all_of(small.cbegin(), small.cend(),
                           [&](const QString &path) { return facts.known(path).has_value(); });
    };
    while (!allKnown() && timer.elapsed() < 300000)
        QThread::msleep(5);
    report("40 small takes after two of 5 GB", timer.nsecsElapsed() / 1e9, "s",
           QStringLiteral("%1 measuring thread(s); 110.7 s on one when the big ones went on")
               .arg(LoudnessFacts::threads()));
    return read;
}
