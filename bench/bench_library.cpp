// The library: indexing 100,000 small wave files from a warm cache, a rescan with nothing
// changed, the store's bytes a file; then, over a generated store of 1,000,000 entries, the
// first page and the count of four searches as one types (median and worst of the runs,
// with `grep -F` over the same names in the same run beside them), the same while a pass of
// the indexer writes 20,000 new files into it (BENCH_LIBRARY_PASS), and the resident memory
// while the results are scrolled through from the top to the end; and the first window of
// the program with that store as its library, shown before the store opens. BENCH_LIBRARY_FILES and
// BENCH_LIBRARY_ENTRIES make the runs smaller for a quick look.
#include "BenchCommon.h"
#include "app/Form1.h"
#include "app/Services.h"
#include "library/Library.h"
#include "library/LibraryIndexer.h"
#include "library/LibraryResultsModel.h"
#include "library/SqliteLibraryStore.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <random>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const char *const words[] = {
    "kick", "snare",  "hat",   "tom",   "ride",   "crash", "clap",    "perc",    "bass",  "lead",
    "pad",  "pluck",  "vox",   "choir", "string", "brass", "room",    "close",   "over",  "ambient",
    "dry",  "wet",    "tape",  "vinyl", "rain",   "wind",  "forest",  "city",    "crowd", "engine",
    "door", "step",   "metal", "wood",  "glass",  "water", "fire",    "thunder", "bird",  "insect",
    "deep", "bright", "soft",  "hard",  "short",  "long",  "reverse", "stutter",
};
constexpr int wordCount = int(std::size(words));

qint64 setting(const char *name, qint64 fallback)
{
    const QByteArray value = qgetenv(name);
    return value.isEmpty() ? fallback : value.toLongLong();
}

QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

// A 16-bit mono file of a few milliseconds, its header written by hand: fast to make in the
// hundreds of thousands.
QByteArray smallWave(int frames, int rate)
{
    const quint32 data = quint32(frames * 2);
    QByteArray fmt = "fmt " + le32(16) + QByteArray::fromHex("01000100") + le32(quint32(rate)) +
                     le32(quint32(rate * 2)) + QByteArray::fromHex("02001000");
    QByteArray file =
        "RIFF" + le32(4 + quint32(fmt.size()) + 8 + data) + "WAVE" + fmt + "data" + le32(data);
    file += QByteArray(qsizetype(data), '\x10');
    return file;
}

QByteArray nameOf(std::mt19937 &random, qint64 n)
{
    return QByteArray(words[random() % wordCount]) + '_' + words[random() % wordCount] + '_' +
           QByteArray::number(n) + ".wav";
}

struct Figures
{
    double median = 0;
    double worst = 0;
};

template <typename Work> Figures timed(int runs, Work work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        times.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.back()};
}

QString against(double value, double goal, const char *what, bool lessIsBetter = true)
{
    const bool met = lessIsBetter ? value < goal : value >= goal;
    if (met)
        return QStringLiteral("goal %1 %2: met").arg(lessIsBetter ? "<" : ">=").arg(goal) +
               QLatin1String(what);
    const double by = lessIsBetter ? value / goal : goal / value;
    return QStringLiteral("goal %1 %2: MISSED by %3x")
               .arg(lessIsBetter ? "<" : ">=")
               .arg(goal)
               .arg(by, 0, 'f', 2) +
           QLatin1String(what);
}

qint64 storeBytes(const QString &file)
{
    qint64 total = 0;
    for (const char *suffix : {"", "-wal"})
        total += QFileInfo(file + QLatin1String(suffix)).size();
    return total;
}

// count small wave files below root, a thousand a folder, named from words drawn by seed.
void makeWaves(const QString &root, qint64 count, unsigned seed)
{
    std::mt19937 random(seed);
    const QByteArray wave = smallWave(80, 8000);
    constexpr int perFolder = 1000;
    for (qint64 i = 0; i < count; ++i) {
        const QString folder =
            root +
            QStringLiteral("/%1/%2").arg(words[(i / perFolder) % wordCount]).arg(i / perFolder);
        if (i % perFolder == 0)
            QDir().mkpath(folder);
        const QByteArray path = QFile::encodeName(folder) + '/' + nameOf(random, i);
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, wave.constData(), size_t(wave.size())) != wave.size())
            qFatal("cannot write %s", path.constData());
        ::close(fd);
    }
}

void indexFiles(const QString &base)
{
    const qint64 count = setting("BENCH_LIBRARY_FILES", 100000);
    const QString root = base + "/files";
    QElapsedTimer made;
    made.start();
    makeWaves(root, count, 7);
    std::printf("(made %lld files in %.1f s; load %s)\n", qlonglong(count), made.elapsed() / 1000.0,
                qPrintable(machineLoad()));

    const QString file = base + "/index.sqlite";
    SqliteLibraryStore store(file);
    if (!store.open().ok() || !store.addRoot(root, 0).ok())
        qFatal("no store");
    // A first walk reads the folders into the cache, as they would be after a listing.
    {
        QDir(root).entryList();
        QProcess::execute("find", {root, "-name", "x", "-print"});
    }
    QElapsedTimer timer;
    timer.start();
    LibraryIndexer::Outcome outcome = LibraryIndexer(store).run();
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (!outcome.problem.isEmpty() || outcome.read != count)
        qFatal("indexing failed: %s (%lld read)", qPrintable(outcome.problem),
               qlonglong(outcome.read));
    report("index, files a second", count / seconds, "/s",
           against(count / seconds, 5000,
                   QStringLiteral(" (%1 s for %2 files)")
                       .arg(seconds, 0, 'f', 2)
                       .arg(count)
                       .toUtf8()
                       .constData(),
                   false));

    timer.restart();
    outcome = LibraryIndexer(store).run();
    const double rescan = timer.nsecsElapsed() / 1e9;
    if (outcome.read != 0 || outcome.looked != count)
        qFatal("the rescan read %lld files", qlonglong(outcome.read));
    report("rescan, nothing changed", rescan, "s", against(rescan, 1.5, ""));

    store.close();
    {
        SqliteLibraryStore checkpoint(file);
        (void)checkpoint.open();
    }
    report("store bytes a file (no texts)", double(storeBytes(file)) / double(count), "B",
           against(double(storeBytes(file)) / double(count), 500, ""));
    QDir(root).removeRecursively();
}

// A pass of the library's indexer over a root of new files, writing batches into the store of
// a million entries on a thread of its own, while the searches are made as one types (a page
// and the count, the four searches in turn) on a connection of their own, from the search
// index read before; then the root taken out again, so that the first window finds the store
// as it was.
void searchWhileIndexing(const QString &base, const QString &file)
{
    const qint64 count = setting("BENCH_LIBRARY_PASS", 20000);
    if (count <= 0)
        return;
    SqliteLibraryStore reader(file);
    if (!reader.openForReading().ok() || !reader.loadSearchIndex().ok() ||
        !reader.searchIndexIsCurrent().value())
        qFatal("cannot read the store");
    const QString root = base + "/pass";
    makeWaves(root, count, 13);
    QProcess::execute("find", {root, "-name", "x", "-print"});
    SqliteLibraryStore writer(file);
    if (!writer.open().ok() || !writer.addRoot(root, 0).ok())
        qFatal("cannot write the store");
    const char *const typed[] = {"thunder", "kic", "kick room rate:48000", "length:1s-3s"};
    std::atomic_bool done{false};
    double passSeconds = 0;
    std::thread pass([&] {
        QElapsedTimer timer;
        timer.start();
        const LibraryIndexer::Outcome outcome = LibraryIndexer(writer).run();
        passSeconds = timer.nsecsElapsed() / 1e9;
        if (!outcome.problem.isEmpty() || outcome.read != count)
            qFatal("the pass failed: %s", qPrintable(outcome.problem));
        done = true;
    });
    std::vector<double> times;
    qint64 fromMemory = 0;
    for (int n = 0; !done; ++n) {
        const LibraryQuery query = LibraryQuery::parse(QString::fromUtf8(typed[n % 4]));
        fromMemory += reader.searchIndexIsCurrent().value() ? 1 : 0;
        QElapsedTimer timer;
        timer.start();
        const Result<QList<LibraryHit>> page = reader.query(query, {}, {}, 200);
        const Result<qint64> counted = reader.count(query);
        times.push_back(timer.nsecsElapsed() / 1e6);
        if (!page.ok() || !counted.ok())
            qFatal("a search failed while the pass wrote");
        // A key every tenth of a second, as one types.
        constexpr double keyMs = 100;
        if (times.back() < keyMs)
            std::this_thread::sleep_for(
                std::chrono::microseconds(qint64((keyMs - times.back()) * 1000)));
    }
    pass.join();
    const bool current = reader.searchIndexIsCurrent().value();
    std::sort(times.begin(), times.end());
    const double median = times.empty() ? 0 : times[times.size() / 2];
    report("search + count while a pass writes, median", median, "ms",
           QStringLiteral("worst %1 ms; %2 searches, %3 with the index current before them; "
                          "the pass of %4 files %5 s (%6 files/s); the index %7 after it; goal "
                          "median < 16: %8")
               .arg(times.empty() ? 0 : times.back(), 0, 'f', 2)
               .arg(times.size())
               .arg(fromMemory)
               .arg(count)
               .arg(passSeconds, 0, 'f', 2)
               .arg(double(count) / passSeconds, 0, 'f', 0)
               .arg(current ? QStringLiteral("current") : QStringLiteral("STALE"))
               .arg(median < 16 ? "met" : "MISSED"));
    if (!writer.removeRoot(root).ok())
        qFatal("cannot take the root out");
    QDir(root).removeRecursively();
}

void searches(const QString &base)
{
    const qint64 count = setting("BENCH_LIBRARY_ENTRIES", 1000000);
    const QString file = base + "/million.sqlite";
    const QString names = base + "/names.txt";
    QFile namesFile(names);
    namesFile.open(QIODevice::WriteOnly);
    std::mt19937 random(11);
    QElapsedTimer made;
    made.start();
    {
        SqliteLibraryStore store(file);
        if (!store.open().ok())
            qFatal("no store");
        const qint64 root = store.addRoot(QStringLiteral("/library"), 0)->id;
        constexpr int batchSize = 20000;
        constexpr int perFolder = 500;
        LibraryBatch batch;
        batch.root = root;
        for (qint64 i = 0; i < count; ++i) {
            LibraryEntry entry;
            entry.folder = QByteArray("/library/") + words[(i / perFolder) % wordCount] + '/' +
                           words[(i / perFolder / wordCount) % wordCount] + '/' +
                           QByteArray::number(i / perFolder);
            entry.name = nameOf(random, i);
            entry.size = 1000 + qint64(random() % 100000);
            entry.modifiedNs =
                1'600'000'000'000'000'000 + qint64(random() % 100'000'000) * 1'000'000'000;
            entry.info.encoding =
                random() % 3 ? QStringLiteral("PCM 24-bit") : QStringLiteral("IEEE float 32-bit");
            entry.info.container = QStringLiteral("WAV");
            entry.info.sampleRate = random() % 2 ? 48000 : 44100;
            entry.info.channels = 1 + int(random() % 2);
            entry.info.frames = qint64(random() % (entry.info.sampleRate * 10));
            if (random() % 2) {
                Loudness loudness;
                loudness.integratedLufs = -40.0 + double(random() % 3500) / 100.0;
                loudness.truePeakDbtp = loudness.integratedLufs + 8;
                loudness.samplePeakDbfs = loudness.truePeakDbtp - 0.5;
                entry.loudness = loudness;
            }
            namesFile.write(entry.folder + '/' + entry.name + '\n');
            batch.entries.append(std::move(entry));
            if (batch.entries.size() == batchSize) {
                if (!store.write(batch).ok())
                    qFatal("cannot write the store");
                batch.entries.clear();
            }
        }
        if (!store.write(batch).ok())
            qFatal("cannot write the store");
    }
    namesFile.close();
    std::printf("(made a store of %lld entries in %.1f s, %.0f bytes an entry; load %s)\n",
                qlonglong(count), made.elapsed() / 1000.0, double(storeBytes(file)) / double(count),
                qPrintable(machineLoad()));

    SqliteLibraryStore reader(file);
    if (!reader.openForReading().ok())
        qFatal("cannot read the store");
    // What the library reads off the window's thread once the store is open.
    {
        const double residentBefore = residentMiB();
        QElapsedTimer reading;
        reading.start();
        const Result<qint64> held = reader.loadSearchIndex();
        const double seconds = reading.nsecsElapsed() / 1e9;
        if (!held.ok() || !reader.searchIndexIsCurrent().value())
            qFatal("the search index was not read");
        report("search index read", seconds, "s",
               QStringLiteral("(%1 MiB held for %2 entries; resident %3 MiB more; off the "
                              "window's thread)")
                   .arg(double(held.value()) / 1048576.0, 0, 'f', 1)
                   .arg(count)
                   .arg(residentMiB() - residentBefore, 0, 'f', 1));
    }
    struct Search
    {
        const char *label;
        const char *query;
        const char *grep;
        LibrarySort sort;
    };
    using Column = LibrarySort::Column;
    const Search searchesMade[] = {
        {"a word", "thunder", "thunder", {}},
        {"a three-letter fragment", "kic", "kic", {}},
        {"two words and a field", "kick room rate:48000", "room", {}},
        {"a range", "length:1s-3s", "_", {}},
        // Another order than the names': the first time makes the column's order.
        {"a word by length", "thunder", "thunder", {Column::Length, false}},
        {"a word by loudness, loudest first", "thunder", "thunder", {Column::Loudness, true}},
        {"a fragment by date", "kic", "kic", {Column::Date, false}},
    };
    constexpr int runs = 21;
    for (const Search &search : searchesMade) {
        const LibraryQuery query = LibraryQuery::parse(QString::fromUtf8(search.query));
        qint64 hits = 0;
        // What the results list waits for: the first page, then the count that follows it.
        std::vector<double> pages, counts;
        // Each keystroke is a new query: the hits kept of the last one must not serve.
        const LibraryQuery other = LibraryQuery::parse(u"zzqx");
        std::vector<double> totals;
        timed(runs, [&] {
            (void)reader.count(other);
            QElapsedTimer part;
            part.start();
            const Result<QList<LibraryHit>> page = reader.query(query, search.sort, {}, 200);
            pages.push_back(part.nsecsElapsed() / 1e6);
            part.restart();
            const Result<qint64> counted = reader.count(query);
            counts.push_back(part.nsecsElapsed() / 1e6);
            totals.push_back(pages.back() + counts.back());
            if (!page.ok() || !counted.ok())
                qFatal("the search failed");
            hits = counted.value();
        });
        std::sort(pages.begin(), pages.end());
        std::sort(counts.begin(), counts.end());
        std::sort(totals.begin(), totals.end());
        const Figures figures{totals[totals.size() / 2], totals.back()};
        const Figures grep = timed(5, [&] {
            QProcess::execute("sh", {"-c", QStringLiteral("grep -F -i -c %1 %2 > /dev/null")
                                               .arg(QLatin1String(search.grep), names)});
        });
        const QString line =
            QStringLiteral("worst %1 ms (goal < 50: %2); first page alone %3 ms (worst %4), "
                           "count alone %5 ms; %6 hits; grep -F over the names %7 ms; goal "
                           "median < 16: %8")
                .arg(figures.worst, 0, 'f', 2)
                .arg(figures.worst < 50 ? "met" : "MISSED")
                .arg(pages[pages.size() / 2], 0, 'f', 2)
                .arg(pages.back(), 0, 'f', 2)
                .arg(counts[counts.size() / 2], 0, 'f', 2)
                .arg(hits)
                .arg(grep.median, 0, 'f', 1)
                .arg(figures.median < 16 ? "met" : "MISSED");
        report(qPrintable(QStringLiteral("search %1 + count, median").arg(search.label)),
               figures.median, "ms", line);
    }
    reader.close();

    // The results model over the whole store, page after page, as a view scrolled to the end.
    Library library(file, nullptr);
    LibraryResultsModel model(&library, nullptr);
    QSignalSpy opened(&library, &Library::opened);
    library.open();
    if (!opened.wait(60000))
        qFatal("the library did not open");
    QSignalSpy finished(&model, &LibraryResultsModel::searchFinished);
    const double before = residentMiB();
    model.setQuery(QStringLiteral("wav"));
    finished.wait(60000);
    QSignalSpy counted(&model, &LibraryResultsModel::hitCountChanged);
    while (model.hitCount() < 0 && counted.wait(60000)) {
    }
    // As a view scrolled from the top to the end: each page's first row asked for, and waited
    // for until the page is in.
    double atTwentyThousand = 0;
    double most = 0;
    QElapsedTimer fetching;
    fetching.start();
    const int rows = int(std::min<qint64>(setting("BENCH_LIBRARY_FETCH", count), model.rowCount()));
    int seen = 0;
    for (int row = 0; row < rows && fetching.elapsed() < 600000;
         row += LibraryResultsModel::pageSize) {
        const QModelIndex at = model.index(row, LibraryResultsModel::Name);
        while (at.data().isNull() && fetching.elapsed() < 600000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        seen = row + 1;
        if (atTwentyThousand == 0 && row >= 20000)
            atTwentyThousand = residentMiB();
        if (row % 50000 == 0)
            most = std::max(most, residentMiB());
    }
    if (!qgetenv("BENCH_LIBRARY_KEEP").isEmpty())
        std::printf("(kept in %s)\n", qPrintable(base));
    report("resident, 20,000 rows scrolled", atTwentyThousand, "MiB",
           against(atTwentyThousand, 150,
                   QStringLiteral(" (%1 MiB before the search)")
                       .arg(before, 0, 'f', 1)
                       .toUtf8()
                       .constData()));
    const double all = std::max(most, residentMiB());
    report("resident, scrolled through every row", all, "MiB",
           against(all, 150,
                   QStringLiteral(" (%1 of %2 rows, %3 held at the end, %4 s)")
                       .arg(seen)
                       .arg(model.rowCount())
                       .arg(model.rowsHeld())
                       .arg(fetching.elapsed() / 1000.0, 0, 'f', 1)
                       .toUtf8()
                       .constData()));
    searchWhileIndexing(base, file);
}

// In a process of its own (the window needs a QApplication, and nothing of the store's making
// may be warm in it): the main window over the real services, its library the generated
// store, constructed, shown and painted once, as bench_startup times it; then Find, and the
// store opening behind it.
int firstWindowOf(const QString &dataHome)
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome));
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(config.path()));
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QElapsedTimer total;
    total.start();
    int argc = 1;
    char name[] = "bench_library";
    char *argv[] = {name, nullptr};
    QApplication app(argc, argv);
    const double appMs = total.nsecsElapsed() / 1e6;
    QElapsedTimer timer;
    timer.start();
    SystemServices system;
    Form1 form(system.services());
    struct FirstPaint final : QObject
    {
        bool painted = false;
        bool eventFilter(QObject *, QEvent *event) override
        {
            painted = painted || event->type() == QEvent::Paint;
            return false;
        }
    } paint;
    form.installEventFilter(&paint);
    form.show();
    while (!paint.painted)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double shownMs = timer.nsecsElapsed() / 1e6;
    auto *library = form.findChild<Library *>();
    const bool closedWhileShown = library && !library->isOpen();
    QElapsedTimer opening;
    opening.start();
    QSignalSpy opened(library, &Library::opened);
    form.findChild<QAction *>(QStringLiteral("Find"))->trigger();
    const bool open = library && (library->isOpen() || opened.wait(60000));
    const double openMs = opening.nsecsElapsed() / 1e6;
    report("first window, 1,000,000-entry library: construct + show + first paint", shownMs, "ms",
           against(shownMs, 100,
                   QStringLiteral(" (QApplication %1 ms apart; the store %2 while it showed)")
                       .arg(appMs, 0, 'f', 1)
                       .arg(closedWhileShown ? QStringLiteral("still closed")
                                             : QStringLiteral("ALREADY OPEN"))
                       .toUtf8()
                       .constData()));
    report("  then Find until the store is open", openMs, "ms",
           open ? QStringLiteral("on the library's own thread") : QStringLiteral("NEVER OPENED"));
    std::fflush(stdout);
    return open && closedWhileShown ? 0 : 1;
}

// The store of searches() as the program's library, in a data folder of its own.
void firstWindow(const QString &base)
{
    const QString data = base + "/data";
    const QString store = data + "/QuillonSonoret/library.sqlite";
    QDir().mkpath(QFileInfo(store).absolutePath());
    if (::link(QFile::encodeName(base + "/million.sqlite").constData(),
               QFile::encodeName(store).constData()) != 0)
        qFatal("cannot link the store");
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    // The browser shows an empty folder: the loudness of a folder full of takes would go
    // before the store's opening, in the same lane.
    const QString empty = base + "/empty";
    QDir().mkpath(empty);
    child.setWorkingDirectory(empty);
    child.start(QCoreApplication::applicationFilePath(), {"--first-window", data});
    if (!child.waitForFinished(120000) || child.exitCode() != 0)
        std::printf("(the first window's run failed)\n");
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && QByteArray(argv[1]) == "--first-window")
        return firstWindowOf(QString::fromLocal8Bit(argv[2]));
    QCoreApplication app(argc, argv);
    QTemporaryDir base(QStringLiteral("/tmp/bench-library-XXXXXX"));
    if (!base.isValid())
        qFatal("no temporary folder");
    std::printf("bench_library: load %s\n", qPrintable(machineLoad()));
    // BENCH_LIBRARY_KEEP keeps the generated store to look at its plans.
    base.setAutoRemove(qgetenv("BENCH_LIBRARY_KEEP").isEmpty());
    if (setting("BENCH_LIBRARY_FILES", 1) > 0)
        indexFiles(base.path());
    searches(base.path());
    firstWindow(base.path());
    return 0;
}
