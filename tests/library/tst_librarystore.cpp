#include "LibraryTesting.h"
#include "WaveWriter.h"
#include "files/LoudnessFacts.h"
#include "library/LibraryLoudness.h"
#include "library/SqliteLibraryStore.h"
#include "platform/NativeName.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

LibraryQuery parsed(const QString &text)
{
    const LibraryQuery query = LibraryQuery::parse(text);
    if (!query.ok())
        qWarning() << query.error;
    return query;
}

QStringList found(LibraryStore &store, const QString &text, LibrarySort sort = {})
{
    const Result<QList<LibraryHit>> hits = store.query(parsed(text), sort, {}, 1000);
    if (!hits.ok()) {
        qWarning() << hits.error();
        return {QStringLiteral("error")};
    }
    return namesOf(hits.value());
}

QByteArray bytesOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs SQL on a store file the way another program (or an older build) would.
bool rawSql(const QString &file, const char *sql)
{
    sqlite3 *db = nullptr;
    bool ok = sqlite3_open(QFile::encodeName(file).constData(), &db) == SQLITE_OK &&
              sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ok)
        qWarning() << sqlite3_errmsg(db);
    sqlite3_close(db);
    return ok;
}

} // namespace

class TestLibraryStore : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip();
    void rewritesAndRemovals();
    void roots();
    void upgradesAnOlderStore();
    void replacesAnUnusableStore_data();
    void replacesAnUnusableStore();
    void keepsTheRootsOfADamagedStore();
    void readOnlyFolder();
    void fullDiskLeavesTheStoreWhole();
    void leavesNoLogBehind_data();
    void leavesNoLogBehind();
    void loudness();
    void importsTheOldLoudnessCache();
    void importReadsOnlyARegularFile_data();
    void importReadsOnlyARegularFile();
    void keepsTheLoudnessTheWindowsMeasure();
    void aStoreThatCannotKeepLeavesTheLoudnessToMemory_data();
    void aStoreThatCannotKeepLeavesTheLoudnessToMemory();

private:
    QString storeIn(const QTemporaryDir &dir) const
    {
        return dir.filePath(QStringLiteral("data/library.sqlite"));
    }
};

void TestLibraryStore::roundTrip()
{
    QTemporaryDir dir;
    SqliteLibraryStore store(storeIn(dir));
    const Result<LibraryStore::Opening> opened = store.open();
    QVERIFY2(opened.ok(), qPrintable(opened.error()));
    QCOMPARE(opened.value(), LibraryStore::Opening::Created);
    const Result<LibraryRoot> root = store.addRoot(QStringLiteral("/takes"), 7);
    QVERIFY(root.ok());

    LibraryBatch batch;
    batch.root = root->id;
    // A Latin-1 name from an old archive, a UTF-8 one with accents, one in a Latin-1 folder.
    batch.entries.append(entryOf("/takes/day1", "caf\xe9 kick.wav"));
    LibraryEntry accented = entryOf("/takes/day1", "Crème Snare.WAV");
    accented.info.description = QStringLiteral("Room B, Neumann U87");
    accented.info.originator = QStringLiteral("Field Recorder");
    accented.info.originatorReference = QStringLiteral("REF-12345");
    accented.info.scene = QStringLiteral("Forêt");
    accented.info.take = QStringLiteral("7");
    accented.info.note = QStringLiteral("wind noise");
    accented.info.comment = QStringLiteral("ffmpeg comment");
    accented.info.cueLabels = {QStringLiteral("Downbeat"), QString()};
    accented.info.originationDate = QStringLiteral("2021-06-30");
    accented.info.originationTime = QStringLiteral("12:00:00");
    batch.entries.append(accented);
    batch.entries.append(entryOf("/takes/\xc4rger", "hat.wav"));
    QVERIFY(store.write(batch).ok());

    const Result<QList<LibraryHit>> all = store.query(parsed("wav"), {}, {}, 10);
    QVERIFY(all.ok());
    QCOMPARE(all->size(), 3);
    QSet<QByteArray> paths;
    for (const LibraryHit &hit : all.value())
        paths.insert(nativePath(hit.path()));
    QCOMPARE(paths, (QSet<QByteArray>{"/takes/day1/caf\xe9 kick.wav", "/takes/day1/Crème Snare.WAV",
                                      "/takes/\xc4rger/hat.wav"}));

    // Every text, whatever its case and accents; names and folders by any part.
    for (const char *word : {"neumann", "FIELD RECORDER", "ref-123", "foret", "wind", "downbeat",
                             "creme", "snare.w", "ffmpeg comment"})
        QVERIFY2(found(store, QString::fromUtf8(word)) == QStringList{"Crème Snare.WAV"}, word);
    QCOMPARE(found(store, "rger"), QStringList{"hat.wav"});
    QCOMPARE(found(store, "day1 kick").size(), 1);
    QCOMPARE(store.count(parsed("day1")).value(), 2);
    // The date comes from bext where there is one, else from the modification time.
    QCOMPARE(found(store, "date:2021-06"), QStringList{"Crème Snare.WAV"});
    QCOMPARE(found(store, "date:2023").size(), 2);

    // What a rescan compares with: the names as bytes, their stamps.
    const auto files = store.files("/takes/day1");
    QVERIFY(files.ok());
    QCOMPARE(files->size(), 2);
    QVERIFY(files->contains("caf\xe9 kick.wav"));
    QCOMPARE(files->value("caf\xe9 kick.wav").size, 1000);
    QCOMPARE(files->value("caf\xe9 kick.wav").modifiedNs, 1'700'000'000'000'000'000);

    // Another connection, as a results list reads, sees the same.
    SqliteLibraryStore reader(storeIn(dir));
    QVERIFY(reader.openForReading().ok());
    QCOMPARE(found(reader, "neumann"), QStringList{"Crème Snare.WAV"});
}

void TestLibraryStore::rewritesAndRemovals()
{
    QTemporaryDir dir;
    SqliteLibraryStore store(storeIn(dir));
    QVERIFY(store.open().ok());
    const qint64 root = store.addRoot(QStringLiteral("/r"), 1)->id;
    LibraryBatch first;
    first.root = root;
    LibraryEntry kick = entryOf("/r/a", "kick.wav");
    kick.info.comment = QStringLiteral("old text");
    first.entries = {kick, entryOf("/r/a", "snare.wav"), entryOf("/r/a/deep", "tom.wav"),
                     entryOf("/r/b", "hat.wav"), entryOf("/r/ab", "ride.wav")};
    QVERIFY(store.write(first).ok());
    QCOMPARE(store.fileCount(root).value(), 5);

    // Written again, a file keeps one row, with the new facts and texts.
    LibraryBatch again;
    again.root = root;
    kick.size = 2000;
    kick.info.comment = QStringLiteral("new text");
    again.entries = {kick};
    QVERIFY(store.write(again).ok());
    QCOMPARE(store.fileCount(root).value(), 5);
    QCOMPARE(store.files("/r/a")->value("kick.wav").size, 2000);
    QCOMPARE(found(store, "old text"), QStringList());
    QCOMPARE(found(store, "new text"), QStringList{"kick.wav"});

    // A folder gone takes what is below it, and not a folder whose name only starts alike.
    LibraryBatch gone;
    gone.root = root;
    gone.goneFolders = {"/r/a"};
    gone.goneFiles = {store.files("/r/b")->value("hat.wav").id};
    QVERIFY(store.write(gone).ok());
    QCOMPARE(found(store, "wav"), QStringList{"ride.wav"});
    QCOMPARE(store.folders(root)->keys(), QList<QByteArray>{"/r/ab"});
    QCOMPARE(found(store, "text"), QStringList());
}

void TestLibraryStore::roots()
{
    QTemporaryDir dir;
    SqliteLibraryStore store(storeIn(dir));
    QVERIFY(store.open().ok());
    const qint64 inner = store.addRoot(QStringLiteral("/music/drums/"), 1)->id;
    LibraryBatch batch;
    batch.root = inner;
    batch.entries = {entryOf("/music/drums", "kick.wav")};
    QVERIFY(store.write(batch).ok());

    // A folder inside a root is in the library already; one around it takes the root in.
    const Result<LibraryRoot> inside = store.addRoot(QStringLiteral("/music/drums/808"), 1);
    QVERIFY(!inside.ok());
    QVERIFY2(inside.error().contains("/music/drums"), qPrintable(inside.error()));
    QCOMPARE(store.addRoot(QStringLiteral("/music/drums"), 1)->id, inner);
    const Result<LibraryRoot> outer = store.addRoot(QStringLiteral("/music"), 1);
    QVERIFY(outer.ok());
    QCOMPARE(store.roots()->size(), 1);
    QCOMPARE(store.roots()->first().path, QStringLiteral("/music"));
    QCOMPARE(store.fileCount(outer->id).value(), 1);
    QVERIFY(!store.addRoot(QStringLiteral("relative/path"), 1).ok());

    QVERIFY(store.setRootSeen(outer->id, false, 0).ok());
    const Result<QList<LibraryHit>> hits = store.query(parsed("kick"), {}, {}, 10);
    QVERIFY(hits->first().offline);
    QCOMPARE(store.roots()->first().device, 1);

    QVERIFY(store.removeRoot(QStringLiteral("/music")).ok());
    QCOMPARE(store.roots()->size(), 0);
    QCOMPARE(store.fileCount().value(), 0);
}

void TestLibraryStore::upgradesAnOlderStore()
{
    QTemporaryDir dir;
    const QString file = storeIn(dir);
    QVERIFY(QDir().mkpath(dir.filePath("data")));
    QVERIFY(SqliteLibraryStore::makeAtVersion(file, 1).ok());
    // What the first version wrote: no loudness at all.
    QVERIFY(rawSql(file,
                   "INSERT INTO roots(id, path) VALUES (1, x'2f72');"
                   "INSERT INTO folders(id, root, path, path_key) VALUES (1, 1, x'2f72', '/r');"
                   "INSERT INTO files(folder, name, name_key, size, mtime, rate, channels, "
                   "bits, frames, length_ms, date) VALUES (1, x'6f6c642e776176', 'old.wav', "
                   "10, 5000000000, 44100, 1, 16, 44100, 1000, 5), (1, x'6f6c642031302e776176', "
                   "'old 10.wav', 10, 5, 8000, 1, 16, 8000, 1000, 5), (1, "
                   "x'6f6c6420322e776176', 'old 2.wav', 10, 5, 8000, 1, 16, 8000, 1000, 5);"));

    {
        SqliteLibraryStore store(file);
        const Result<LibraryStore::Opening> opened = store.open();
        QVERIFY2(opened.ok(), qPrintable(opened.error()));
        QCOMPARE(opened.value(), LibraryStore::Opening::Opened);
        QCOMPARE(found(store, "old rate:44100"), QStringList{"old.wav"});
        QCOMPARE(found(store, "rate:44100 length:1s"), QStringList{"old.wav"});
        // The names of an older store come in their natural order too.
        QCOMPARE(namesOf(store.query(LibraryQuery::parse(u"old rate:8000"), {}, {}, 10).value()),
                 (QStringList{"old 2.wav", "old 10.wav"}));
        QCOMPARE(namesOf(store
                             .query(LibraryQuery::parse(u"old rate:8000"),
                                    {LibrarySort::Column::Name, true}, {}, 10)
                             .value()),
                 (QStringList{"old 10.wav", "old 2.wav"}));
        QCOMPARE(found(store, "lufs:<0"), QStringList());
        Loudness loud;
        loud.integratedLufs = -14;
        loud.truePeakDbtp = 0.5;
        loud.samplePeakDbfs = 0;
        QVERIFY(store.putLoudness(QStringLiteral("/r/old.wav"), {10, 5000, loud}).ok());
        QCOMPARE(found(store, "lufs:>-16 clip:yes"), QStringList{"old.wav"});
    }

    // Opened again, it is not upgraded twice.
    SqliteLibraryStore again(file);
    QCOMPARE(again.open().value(), LibraryStore::Opening::Opened);
    QCOMPARE(found(again, "lufs:-14"), QStringList{"old.wav"});
}

void TestLibraryStore::replacesAnUnusableStore_data()
{
    QTest::addColumn<QByteArray>("setup");
    QTest::addColumn<QString>("why");
    QTest::newRow("text") << QByteArray("text") << "damaged or not a database";
    QTest::newRow("damaged header") << QByteArray("damaged") << "damaged";
    QTest::newRow("newer") << QByteArray("newer") << "newer version";
    QTest::newRow("another program's") << QByteArray("foreign") << "not a library store";
    QTest::newRow("empty file") << QByteArray("empty") << "";
}

void TestLibraryStore::replacesAnUnusableStore()
{
    QFETCH(QByteArray, setup);
    QFETCH(QString, why);
    QTemporaryDir dir;
    const QString file = storeIn(dir);
    QVERIFY(QDir().mkpath(dir.filePath("data")));
    if (setup == "text") {
        QVERIFY(writeBytes(file, "these are not the tables you are looking for\n"));
    } else if (setup == "damaged") {
        {
            SqliteLibraryStore store(file);
            QVERIFY(store.open().ok());
            QVERIFY(store.addRoot(QStringLiteral("/r"), 1).ok());
        }
        QFile damaged(file);
        QVERIFY(damaged.open(QIODevice::ReadWrite));
        damaged.seek(100);
        damaged.write(QByteArray(4000, '\xa5'));
    } else if (setup == "newer") {
        QVERIFY(rawSql(file, "CREATE TABLE future(x); PRAGMA user_version = 99; "
                             "PRAGMA application_id = 1364421730;"));
    } else if (setup == "foreign") {
        QVERIFY(rawSql(file, "CREATE TABLE invoices(id, total); INSERT INTO invoices "
                             "VALUES (1, 2);"));
    } else {
        QVERIFY(writeBytes(file, {}));
    }
    const QByteArray before = bytesOf(file);

    SqliteLibraryStore store(file);
    const Result<LibraryStore::Opening> opened = store.open();
    QVERIFY2(opened.ok(), qPrintable(opened.error()));
    if (why.isEmpty()) {
        // An empty file is a store not made yet, nothing to keep.
        QCOMPARE(opened.value(), LibraryStore::Opening::Created);
        return;
    }
    QCOMPARE(opened.value(), LibraryStore::Opening::Replaced);
    QVERIFY2(store.whyMoved().contains(why), qPrintable(store.whyMoved()));
    const QString moved = store.movedTo();
    QVERIFY2(QFileInfo(moved).fileName().startsWith("library.sqlite.broken-"), qPrintable(moved));
    // Nothing of the user's is lost: the old file is there, as it was.
    QCOMPARE(bytesOf(moved), before);
    QVERIFY(store.addRoot(QStringLiteral("/new"), 1).ok());
    QCOMPARE(store.roots()->size(), 1);

    // A second bad store on the same day goes beside the first, not over it.
    store.close();
    QVERIFY(writeBytes(file, "again not a database"));
    SqliteLibraryStore again(file);
    QCOMPARE(again.open().value(), LibraryStore::Opening::Replaced);
    QVERIFY(again.movedTo() != moved);
    QCOMPARE(bytesOf(moved), before);
}

void TestLibraryStore::keepsTheRootsOfADamagedStore()
{
    QTemporaryDir dir;
    SqliteLibraryStore store(storeIn(dir));
    QVERIFY(store.open().ok());
    QVERIFY(store.addRoot(QStringLiteral("/one"), 1).ok());
    QVERIFY(store.addRoot(pathFromNative("/t\xe9o"), 1).ok());
    // Found damaged while indexing: made anew with the folders the user chose.
    QVERIFY(store.replace(QStringLiteral("it is damaged")).ok());
    QVERIFY(QFileInfo::exists(store.movedTo()));
    const Result<QList<LibraryRoot>> roots = store.roots();
    QCOMPARE(roots->size(), 2);
    QCOMPARE(roots->at(0).path, QStringLiteral("/one"));
    QCOMPARE(nativePath(roots->at(1).path), QByteArray("/t\xe9o"));
}

void TestLibraryStore::readOnlyFolder()
{
    QTemporaryDir dir;
    const QString data = dir.filePath("data");
    {
        SqliteLibraryStore store(storeIn(dir));
        QVERIFY(store.open().ok());
        QVERIFY(store.addRoot(QStringLiteral("/r"), 1).ok());
    }
    const QByteArray before = bytesOf(storeIn(dir));
    QVERIFY(QFile::setPermissions(data, QFile::ReadOwner | QFile::ExeOwner));
    SqliteLibraryStore store(storeIn(dir));
    const Result<LibraryStore::Opening> opened = store.open();
    QVERIFY(QFile::setPermissions(data, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    // It says so, and neither moves the store aside nor touches it.
    QVERIFY(!opened.ok());
    QVERIFY2(!opened.error().isEmpty(), "no reason given");
    QCOMPARE(QDir(data).entryList(QDir::Files), QStringList{"library.sqlite"});
    QCOMPARE(bytesOf(storeIn(dir)), before);

    // A data folder that cannot be made at all.
    QVERIFY(writeBytes(dir.filePath("file"), "x"));
    SqliteLibraryStore nowhere(dir.filePath("file/library.sqlite"));
    QVERIFY(!nowhere.open().ok());
}

void TestLibraryStore::leavesNoLogBehind_data()
{
    // The connections, closed in this order: the library's own ("library"), a search's
    // ("search") and the windows' loudness ("loudness").
    QTest::addColumn<QStringList>("closing");
    // The search was given up (interrupted) after it ended, as a newer one begins.
    QTest::addColumn<bool>("givenUp");
    QTest::newRow("the library's alone") << QStringList{"library"} << false;
    QTest::newRow("a search's last") << QStringList{"library", "search"} << false;
    QTest::newRow("a search given up, last") << QStringList{"library", "search"} << true;
    QTest::newRow("the loudness's last") << QStringList{"library", "loudness"} << false;
    QTest::newRow("the library's last") << QStringList{"search", "loudness", "library"} << true;
    QTest::newRow("a search's last of three")
        << QStringList{"loudness", "library", "search"} << false;
}

void TestLibraryStore::leavesNoLogBehind()
{
    QFETCH(QStringList, closing);
    QFETCH(bool, givenUp);
    QTemporaryDir dir;
    const QString file = storeIn(dir);
    QHash<QString, std::shared_ptr<SqliteLibraryStore>> open;
    auto library = std::make_shared<SqliteLibraryStore>(file);
    QVERIFY(library->open().ok());
    open.insert("library", library);
    const qint64 root = library->addRoot(QStringLiteral("/r"), 1)->id;
    if (closing.contains("search")) {
        auto search = std::make_shared<SqliteLibraryStore>(file);
        QVERIFY(search->openForReading().ok());
        open.insert("search", search);
    }
    if (closing.contains("loudness")) {
        auto loudness = std::make_shared<SqliteLibraryStore>(file);
        QVERIFY(loudness->openForLoudness().ok());
        open.insert("loudness", loudness);
    }
    // A pass of many batches, searched and measured meanwhile.
    for (int b = 0; b < 20; ++b) {
        LibraryBatch batch;
        batch.root = root;
        for (int i = 0; i < 50; ++i)
            batch.entries.append(entryOf("/r/bank" + QByteArray::number(b),
                                         "take" + QByteArray::number(i) + ".wav"));
        QVERIFY(library->write(batch).ok());
        if (open.contains("search"))
            QCOMPARE(found(*open["search"], "bank" + QString::number(b) + " take49").size(), 1);
        if (open.contains("loudness"))
            QVERIFY(open["loudness"]
                        ->putLoudness("/elsewhere/" + QString::number(b) + ".wav", {1, 2, {}})
                        .ok());
    }
    QVERIFY(QFileInfo(file + "-wal").size() > 0);
    // The pass over: its log goes into the store, with the searches' connections still open.
    QVERIFY(library->checkpoint().ok());
    QCOMPARE(QFileInfo(file + "-wal").size(), 0);
    if (givenUp)
        open["search"]->interrupt();
    library.reset();
    for (const QString &name : std::as_const(closing)) {
        QVERIFY(open.contains(name));
        open.remove(name);
    }
    // Whichever closed last, the log and the shared memory went with it, and all was kept.
    QCOMPARE(QDir(dir.filePath("data")).entryList(QDir::Files), QStringList{"library.sqlite"});
    SqliteLibraryStore again(file);
    QVERIFY(again.openForReading().ok());
    QCOMPARE(again.fileCount().value(), 1000);
}

void TestLibraryStore::fullDiskLeavesTheStoreWhole()
{
    QTemporaryDir dir;
    SqliteLibraryStore store(storeIn(dir));
    QVERIFY(store.open().ok());
    const qint64 root = store.addRoot(QStringLiteral("/r"), 1)->id;
    LibraryBatch small;
    small.root = root;
    small.entries = {entryOf("/r", "kept.wav")};
    QVERIFY(store.write(small).ok());
    // A disk with no room left, as SQLite meets it: no page can be added.
    QVERIFY(rawSql(storeIn(dir), "PRAGMA wal_checkpoint(TRUNCATE)"));
    const qint64 pages = QFileInfo(storeIn(dir)).size() / 4096;
    QVERIFY(store.setPageLimitForTests(int(pages)).ok());
    LibraryBatch big;
    big.root = root;
    for (int i = 0; i < 2000; ++i) {
        LibraryEntry entry = entryOf("/r/many", QByteArray("take ") + QByteArray::number(i));
        entry.info.note = QString(200, QChar(u'a' + i % 26));
        big.entries.append(entry);
    }
    const Result<void> written = store.write(big);
    QVERIFY(!written.ok());
    QCOMPARE(written.error(), QStringLiteral("the disk is full"));
    // All of the batch or none of it.
    QCOMPARE(store.fileCount().value(), 1);
    QCOMPARE(found(store, "kept"), QStringList{"kept.wav"});
}

void TestLibraryStore::loudness()
{
    QTemporaryDir dir;
    SqliteLibraryStore store(storeIn(dir));
    QVERIFY(store.open().ok());
    const qint64 root = store.addRoot(QStringLiteral("/r"), 1)->id;
    LibraryBatch batch;
    batch.root = root;
    LibraryEntry quiet = entryOf("/r", "quiet.wav", 100, 2'000'000'000);
    LibraryEntry loud = entryOf("/r", "loud.wav", 100, 2'000'000'000);
    Loudness figures;
    figures.integratedLufs = -9.5;
    figures.rangeLu = 3;
    figures.truePeakDbtp = -0.2;
    figures.samplePeakDbfs = -0.3;
    figures.clipped = 4;
    loud.loudness = figures;
    Loudness silence; // digital silence: no loudness, no peak
    quiet.loudness = silence;
    batch.entries = {quiet, loud, entryOf("/r", "unmeasured.wav")};
    QVERIFY(store.write(batch).ok());

    QCOMPARE(found(store, "lufs:>-16"), QStringList{"loud.wav"});
    QCOMPARE(found(store, "lufs:-9.5"), QStringList{"loud.wav"});
    QCOMPARE(found(store, "clip:yes"), QStringList{"loud.wav"});
    QCOMPARE(found(store, "clip:no"), QStringList{"quiet.wav"});
    // Files not measured are kept by an exclusion of a loudness, and never match one.
    QCOMPARE(found(store, "-clip:yes").size(), 2);
    // Digital silence has neither a loudness nor a peak to compare.
    QCOMPARE(found(store, "peak:<0"), QStringList{"loud.wav"});
    QCOMPARE(found(store, "lufs:<0"), QStringList{"loud.wav"});

    const auto kept = store.loudness(QStringLiteral("/r/loud.wav"), 100, 2000);
    QVERIFY(kept.ok() && kept.value());
    QCOMPARE(kept.value()->integratedLufs, -9.5);
    QCOMPARE(kept.value()->clipped, 4);
    // The file changed since: its figures no longer hold.
    QVERIFY(!store.loudness(QStringLiteral("/r/loud.wav"), 101, 2000).value());
    QVERIFY(store.loudness(QStringLiteral("/r/quiet.wav"), 100, 2000).value()->silent());
    QVERIFY(!store.loudness(QStringLiteral("/r/unmeasured.wav"), 1000, 1'700'000'000'000).value());

    // A file outside the library, measured for a window, keeps its figures too; they go with
    // it into the library when it is indexed.
    Loudness other;
    other.integratedLufs = -30;
    other.truePeakDbtp = -12;
    other.samplePeakDbfs = -12.5;
    QVERIFY(store.putLoudness(pathFromNative("/elsewhere/caf\xe9.wav"), {55, 66, other}).ok());
    QCOMPARE(
        store.loudness(pathFromNative("/elsewhere/caf\xe9.wav"), 55, 66).value()->integratedLufs,
        -30);
    const qint64 elsewhere = store.addRoot(QStringLiteral("/elsewhere"), 1)->id;
    LibraryBatch later;
    later.root = elsewhere;
    later.entries = {entryOf("/elsewhere", "caf\xe9.wav", 55, 66'000'000)};
    QVERIFY(store.write(later).ok());
    QCOMPARE(found(store, "lufs:-30"), QStringList{pathFromNative("caf\xe9.wav")});
}

void TestLibraryStore::importsTheOldLoudnessCache()
{
    QTemporaryDir dir;
    SqliteLibraryStore store(storeIn(dir));
    QVERIFY(store.open().ok());
    const QString cache = dir.filePath("loudness");
    QVERIFY(writeBytes(cache,
                       // A good line, a file measured twice (the newest counts), a Latin-1
                       // path, a line with a mark of samples that are not numbers.
                       "/a/one.wav 10 20 -23 4 -1 -1.5 0 -\n"
                       "/a/two.wav 10 20 -30 4 -1 -1.5 0 -\n"
                       "/a/two.wav 10 20 -20 4 -1 -1.5 0 -\n"
                       "/a/caf%E9.wav 10 20 -18 2 -3 -3 0 -\n"
                       "/a/nan.wav 10 20 -inf 0 inf -inf 0 notnumbers\n"
                       // As earlier versions wrote such a take: figures that are not numbers.
                       "/a/nan2.wav 10 20 nan nan inf -inf 0 notnumbers\n"
                       // Not believable, torn, not a path, an unknown mark: left out.
                       "/a/loud.wav 10 20 15 4 -1 -1.5 0 -\n"
                       "/a/torn.wav 10 20 -23 4\n"
                       "relative.wav 10 20 -23 4 -1 -1.5 0 -\n"
                       "/a/mark.wav 10 20 -23 4 -1 -1.5 0 odd\n"
                       "/a/half.wav 10 20 -23 4 -1"));
    const Result<int> taken = store.importLoudnessCache(cache);
    QVERIFY2(taken.ok(), qPrintable(taken.error()));
    QCOMPARE(taken.value(), 6);
    QCOMPARE(store.loudness("/a/two.wav", 10, 20).value()->integratedLufs, -20);
    QCOMPARE(store.loudness(pathFromNative("/a/caf\xe9.wav"), 10, 20).value()->integratedLufs, -18);
    QVERIFY(store.loudness("/a/nan.wav", 10, 20).value()->notNumbers);
    const Loudness nan2 = *store.loudness("/a/nan2.wav", 10, 20).value();
    QVERIFY(nan2.notNumbers && std::isnan(nan2.integratedLufs) && std::isnan(nan2.rangeLu));
    QVERIFY(LoudnessFacts::believable(nan2));
    QVERIFY(!store.loudness("/a/loud.wav", 10, 20).value());
    // Once only: the old file is not read again, nor written.
    const QByteArray before = bytesOf(cache);
    QVERIFY(writeBytes(cache, "/a/three.wav 10 20 -23 4 -1 -1.5 0 -\n"));
    QCOMPARE(store.importLoudnessCache(cache).value(), 0);
    QVERIFY(!store.loudness("/a/three.wav", 10, 20).value());
    QVERIFY(before != bytesOf(cache));

    // No old cache at all: nothing taken, and no fault.
    SqliteLibraryStore fresh(dir.filePath("other/library.sqlite"));
    QVERIFY(fresh.open().ok());
    QCOMPARE(fresh.importLoudnessCache(dir.filePath("missing")).value(), 0);
}

void TestLibraryStore::importReadsOnlyARegularFile_data()
{
    QTest::addColumn<QString>("inItsPlace");
    QTest::newRow("a FIFO") << "fifo";
    QTest::newRow("a link to a file") << "link";
    QTest::newRow("a link to nothing") << "dangling";
    QTest::newRow("a folder") << "folder";
}

// A FIFO in the old file's place would block the library's only task for good; through a
// link, another file's lines would be taken for the cache's.
void TestLibraryStore::importReadsOnlyARegularFile()
{
    QFETCH(QString, inItsPlace);
    QTemporaryDir dir;
    SqliteLibraryStore store(storeIn(dir));
    QVERIFY(store.open().ok());
    const QString cache = dir.filePath("loudness");
    const QString target = dir.filePath("target");
    const QByteArray targetBytes = "/a/one.wav 10 20 -23 4 -1 -1.5 0 -\n";
    const QByteArray name = QFile::encodeName(cache);
    if (inItsPlace == "fifo")
        QCOMPARE(::mkfifo(name.constData(), 0600), 0);
    if (inItsPlace == "link")
        QVERIFY(writeBytes(target, targetBytes));
    if (inItsPlace == "link" || inItsPlace == "dangling")
        QCOMPARE(::symlink(QFile::encodeName(target).constData(), name.constData()), 0);
    if (inItsPlace == "folder")
        QVERIFY(QDir().mkdir(cache));
    const Result<int> taken = store.importLoudnessCache(cache);
    QVERIFY2(taken.ok(), qPrintable(taken.error()));
    QCOMPARE(taken.value(), 0);
    QVERIFY(!store.loudness("/a/one.wav", 10, 20).value());
    if (inItsPlace == "link")
        QCOMPARE(bytesOf(target), targetBytes);
    if (inItsPlace == "dangling")
        QVERIFY(!QFileInfo::exists(target));
}

// The loudness measured in the browser, the tooltip or the band goes into the store: the
// library's row of the file, found by lufs:, and the table by path for any other file.
void TestLibraryStore::keepsTheLoudnessTheWindowsMeasure()
{
    QTemporaryDir dir;
    LibraryLoudness keeper(storeIn(dir));
    Loudness figures;
    figures.integratedLufs = -14.5;
    figures.rangeLu = 2;
    figures.truePeakDbtp = -0.5;
    figures.samplePeakDbfs = -0.6;
    const FileStamp stamp{100, 2000};
    // Before the library made its store: nothing is made, and what is measured waits.
    QVERIFY(!keeper.kept(QStringLiteral("/r/take.wav"), stamp));
    keeper.keep(QStringLiteral("/r/early.wav"), stamp, figures);
    QVERIFY(!QFileInfo::exists(storeIn(dir)));

    SqliteLibraryStore store(storeIn(dir));
    QVERIFY(store.open().ok());
    LibraryBatch batch;
    batch.root = store.addRoot(QStringLiteral("/r"), 1)->id;
    batch.entries = {entryOf("/r", "take.wav", 100, 2'000'000'000),
                     entryOf("/r", "early.wav", 100, 2'000'000'000)};
    QVERIFY(store.write(batch).ok());
    keeper.storeChanged();
    // Written as soon as the store is there, with no other measurement to bring it.
    QCOMPARE(found(store, "lufs:>-15"), QStringList({"early.wav"}));
    keeper.keep(QStringLiteral("/r/take.wav"), stamp, figures);
    keeper.keep(QStringLiteral("/elsewhere/other.wav"), {5, 6}, figures);
    QCOMPARE(found(store, "lufs:>-15"), QStringList({"early.wav", "take.wav"}));
    QCOMPARE(keeper.kept(QStringLiteral("/r/take.wav"), stamp)->integratedLufs, -14.5);
    QVERIFY(!keeper.kept(QStringLiteral("/r/take.wav"), {101, 2000}));
    QCOMPARE(store.loudness(QStringLiteral("/elsewhere/other.wav"), 5, 6).value()->truePeakDbtp,
             -0.5);
    // What the library measured itself answers the windows.
    figures.integratedLufs = -40;
    QVERIFY(store.putLoudness(QStringLiteral("/r/take.wav"), {100, 2000, figures}).ok());
    QCOMPARE(keeper.kept(QStringLiteral("/r/take.wav"), stamp)->integratedLufs, -40.0);

    // Replaced by a new store (the old one was damaged): the keeper follows it.
    QVERIFY(store.replace(QStringLiteral("a test")).ok());
    keeper.storeChanged();
    QVERIFY(!keeper.kept(QStringLiteral("/r/take.wav"), stamp));
    keeper.keep(QStringLiteral("/r/again.wav"), stamp, figures);
    QCOMPARE(store.loudness(QStringLiteral("/r/again.wav"), 100, 2000).value()->integratedLufs,
             -40.0);
}

void TestLibraryStore::aStoreThatCannotKeepLeavesTheLoudnessToMemory_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("not a database") << "garbage";
    QTest::newRow("from a newer version") << "newer";
    QTest::newRow("read-only") << "readonly";
}

void TestLibraryStore::aStoreThatCannotKeepLeavesTheLoudnessToMemory()
{
    QFETCH(QString, how);
    QTemporaryDir dir;
    const QString data = dir.filePath("data");
    Loudness figures;
    figures.integratedLufs = -20;
    figures.rangeLu = 1;
    figures.truePeakDbtp = -3;
    figures.samplePeakDbfs = -3.2;
    if (how == "garbage") {
        QVERIFY(QDir().mkpath(data));
        QVERIFY(writeBytes(storeIn(dir), QByteArray(8192, 'x')));
    } else {
        SqliteLibraryStore store(storeIn(dir));
        QVERIFY(store.open().ok());
        QVERIFY(store.putLoudness(QStringLiteral("/r/old.wav"), {1, 2, figures}).ok());
        store.close();
        if (how == "newer")
            QVERIFY(rawSql(storeIn(dir), "PRAGMA user_version = 99"));
        QVERIFY(rawSql(storeIn(dir), "PRAGMA journal_mode = DELETE"));
    }
    const QByteArray before = bytesOf(storeIn(dir));
    if (how == "readonly") {
        QVERIFY(QFile::setPermissions(storeIn(dir), QFile::ReadOwner));
        QVERIFY(QFile::setPermissions(data, QFile::ReadOwner | QFile::ExeOwner));
    }
    LibraryLoudness keeper(storeIn(dir));
    keeper.storeChanged();
    keeper.keep(QStringLiteral("/r/new.wav"), {1, 2}, figures);
    QVERIFY(!keeper.kept(QStringLiteral("/r/new.wav"), {1, 2}));
    // A read-only store still answers what it holds; the others nothing.
    QCOMPARE(keeper.kept(QStringLiteral("/r/old.wav"), {1, 2}).has_value(), how == "readonly");
    QVERIFY(QFile::setPermissions(data, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    // Neither written, nor moved aside, nor upgraded or made again: that is the library's.
    QCOMPARE(bytesOf(storeIn(dir)), before);
    QCOMPARE(QDir(data).entryList(QDir::Files), QStringList{"library.sqlite"});
}

int main(int argc, char **argv)
{
    runAsOrdinaryUser();
    QCoreApplication app(argc, argv);
    TestLibraryStore test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_librarystore.moc"
