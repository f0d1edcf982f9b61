#include "LibraryTesting.h"
#include "WaveWriter.h"
#include "library/Library.h"
#include "library/LibraryIndexer.h"
#include "library/LibraryResultsModel.h"
#include "library/SqliteLibraryStore.h"
#include "platform/NativeName.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <sndfile.h>
#include <unistd.h>

namespace {

// A reader that counts what it reads, and may do something to the disk while it reads.
struct CountingReader
{
    std::shared_ptr<QStringList> read = std::make_shared<QStringList>();
    std::function<void(const QString &)> during;
    WaveInfo operator()(const QString &path) const
    {
        read->append(path);
        if (during)
            during(path);
        return readWaveInfo(path);
    }
};

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

QStringList found(LibraryStore &store, const QString &text)
{
    const Result<QList<LibraryHit>> hits = store.query(LibraryQuery::parse(text), {}, {}, 10000);
    return hits.ok() ? sorted(namesOf(hits.value())) : QStringList{"error: " + hits.error()};
}

bool tone(const QString &path, double seconds = 0.05, int rate = 8000)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    if (!hasForeignBytes(path))
        return writeTone(path, seconds, rate);
    // The writer names files through Qt, which cannot carry a name that is not UTF-8.
    const QString plain = path + QStringLiteral(".tmp");
    return writeTone(QFileInfo(plain).absolutePath() + "/plain.tmp", seconds, rate) &&
           ::rename(nativePath(QFileInfo(plain).absolutePath() + "/plain.tmp").constData(),
                    nativePath(path).constData()) == 0;
}

// Moves a file's modification time on, as a save a second later would.
void touchLater(const QString &path, int seconds = 5)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(seconds),
                             QFileDevice::FileModificationTime));
}

} // namespace

class TestLibraryIndex : public QObject
{
    Q_OBJECT

private slots:
    void indexesAndRescans();
    void keepsAnOfflineRoot();
    void survivesLinksAndLoops();
    void keepsAnUnreadableFolder();
    void readsAgainAFileRewrittenWhileRead();
    void goesOnWhenAFolderIsRenamed();
    void looksAgainAtOneFolder();
    void stopsWhenAsked();
    void estimatesHowManyBeforeTheWalk_data();
    void estimatesHowManyBeforeTheWalk();
    void findsWhatFfmpegWrote();
    void libraryAndResults();
    void resultsHoldOnlyThePagesNearTheView_data();
    void resultsHoldOnlyThePagesNearTheView();
    void measuresTheLoudnessOnceLeftAlone();
    void libraryOverAnUnusableStore();
    void closesTheStoreAtTheEnd_data();
    void closesTheStoreAtTheEnd();
    void libraryInAReadOnlyFolder();

private:
    struct Fixture
    {
        QTemporaryDir dir;
        QString root;
        std::unique_ptr<SqliteLibraryStore> store;
        Fixture()
        {
            root = dir.filePath("root");
            QDir().mkpath(root);
            store = std::make_unique<SqliteLibraryStore>(dir.filePath("data/library.sqlite"));
            if (!store->open().ok() || !store->addRoot(root, 0).ok())
                qFatal("no store");
        }
    };
};

void TestLibraryIndex::indexesAndRescans()
{
    Fixture f;
    QVERIFY(tone(f.root + "/kick.wav"));
    QVERIFY(tone(f.root + "/drums/Snare.WAV", 0.2));
    QVERIFY(tone(f.root + "/drums/deep/tom.wav"));
    QVERIFY(tone(f.root + "/drums/deep/notes.txt"));
    QVERIFY(tone(f.root + "/.hidden/secret.wav"));
    QVERIFY(tone(f.root + "/drums/.dot.wav"));
    QVERIFY(writeBytes(f.root + "/text.wav", "not a wave file"));
    QVERIFY(tone(f.root + "/" + pathFromNative("caf\xe9.wav")));
    CountingReader reader;
    LibraryIndexer indexer(*f.store, reader);
    QList<qint64> progress;
    indexer.setProgress([&progress](qint64 done, qint64) { progress.append(done); });
    LibraryIndexer::Outcome outcome = indexer.run();
    QVERIFY2(outcome.problem.isEmpty(), qPrintable(outcome.problem));
    QVERIFY(!outcome.stopped);
    QCOMPARE(outcome.read, 5);
    QCOMPARE(found(*f.store, "wav"), sorted({"kick.wav", "Snare.WAV", "tom.wav", "text.wav",
                                             pathFromNative("caf\xe9.wav")}));
    QCOMPARE(found(*f.store, "length:0.2s rate:8000"), QStringList{"Snare.WAV"});
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.last(), 5);

    // Nothing changed: nothing read, nothing dropped.
    reader.read->clear();
    outcome = LibraryIndexer(*f.store, reader).run();
    QCOMPARE(outcome.read, 0);
    QCOMPARE(outcome.removed, 0);
    QCOMPARE(outcome.looked, 5);

    // Changed, gone, new, a folder gone with what is below it.
    QVERIFY(writeTone(f.root + "/kick.wav", 0.5, 8000));
    touchLater(f.root + "/kick.wav");
    QVERIFY(QFile::remove(f.root + "/text.wav"));
    QVERIFY(tone(f.root + "/drums/hat.wav"));
    QVERIFY(QDir(f.root + "/drums/deep").removeRecursively());
    outcome = LibraryIndexer(*f.store, reader).run();
    QCOMPARE(sorted(*reader.read), sorted({f.root + "/kick.wav", f.root + "/drums/hat.wav"}));
    QCOMPARE(found(*f.store, "wav"),
             sorted({"kick.wav", "Snare.WAV", "hat.wav", pathFromNative("caf\xe9.wav")}));
    QCOMPARE(found(*f.store, "length:0.5s"), QStringList{"kick.wav"});
    QCOMPARE(f.store->folders(f.store->roots()->first().id)->size(), 2);
}

void TestLibraryIndex::keepsAnOfflineRoot()
{
    Fixture f;
    QVERIFY(tone(f.root + "/card/take1.wav"));
    QVERIFY(tone(f.root + "/card/take2.wav"));
    QVERIFY(LibraryIndexer(*f.store).run().problem.isEmpty());
    // The card is pulled: its entries stay, shown as offline.
    QVERIFY(QDir().rename(f.root, f.dir.filePath("away")));
    LibraryIndexer::Outcome outcome = LibraryIndexer(*f.store).run();
    QCOMPARE(outcome.offline, QStringList{f.root});
    QCOMPARE(outcome.removed, 0);
    QCOMPARE(f.store->fileCount().value(), 2);
    QVERIFY(!f.store->roots()->first().online);
    const auto hits = f.store->query(LibraryQuery::parse(u"take"), {}, {}, 10);
    QCOMPARE(hits->size(), 2);
    QVERIFY(hits->first().offline);
    // Back in: online again, and nothing read anew.
    QVERIFY(QDir().rename(f.dir.filePath("away"), f.root));
    CountingReader reader;
    outcome = LibraryIndexer(*f.store, reader).run();
    QVERIFY(outcome.offline.isEmpty());
    QCOMPARE(outcome.read, 0);
    QVERIFY(f.store->roots()->first().online);
    QVERIFY(!f.store->query(LibraryQuery::parse(u"take"), {}, {}, 10)->first().offline);

    // Pulled while it is walked: the folders not walked yet cannot be opened, and are not
    // taken for gone; the root is offline at once, and told so.
    for (const char *folder : {"a", "b", "c"})
        QVERIFY(tone(f.root + "/card/" + folder + "/more.wav"));
    QVERIFY(LibraryIndexer(*f.store).run().problem.isEmpty());
    QCOMPARE(f.store->fileCount().value(), 5);
    for (const char *take : {"take1", "take2", "a/more", "b/more", "c/more"})
        touchLater(f.root + "/card/" + take + ".wav");
    CountingReader pulling;
    pulling.during = [&](const QString &) {
        if (pulling.read->size() == 1)
            QVERIFY(QDir().rename(f.root, f.dir.filePath("away")));
    };
    LibraryIndexer pulled(*f.store, pulling);
    int told = 0;
    pulled.setRootsChanged([&] {
        ++told;
        QVERIFY(!f.store->roots()->first().online);
    });
    outcome = pulled.run();
    QCOMPARE(outcome.offline, QStringList{f.root});
    QCOMPARE(outcome.removed, 0);
    QCOMPARE(told, 1);
    QCOMPARE(f.store->fileCount().value(), 5);
    QVERIFY(!f.store->roots()->first().online);
    // Back: online before any file is read again, and told so.
    QVERIFY(QDir().rename(f.dir.filePath("away"), f.root));
    CountingReader back;
    bool onlineBeforeRead = false;
    back.during = [&](const QString &) {
        if (back.read->size() == 1)
            onlineBeforeRead = f.store->roots()->first().online;
    };
    LibraryIndexer returning(*f.store, back);
    told = 0;
    returning.setRootsChanged([&] { ++told; });
    outcome = returning.run();
    QVERIFY(outcome.offline.isEmpty());
    QCOMPARE(told, 1);
    QVERIFY(onlineBeforeRead);
    QCOMPARE(f.store->fileCount().value(), 5);
}

void TestLibraryIndex::survivesLinksAndLoops()
{
    Fixture f;
    QTemporaryDir outside;
    QVERIFY(tone(outside.filePath("outside.wav")));
    QVERIFY(tone(outside.filePath("far/away.wav")));
    QVERIFY(tone(f.root + "/a/inside.wav"));
    QDir().mkpath(f.root + "/b");
    // Loops through links, a link out of the root, links to files, dangling and looping links.
    QVERIFY(QFile::link(f.root, f.root + "/a/loop"));
    QVERIFY(QFile::link(f.root + "/b", f.root + "/b/self"));
    QVERIFY(QFile::link(outside.filePath("far"), f.root + "/b/far"));
    QVERIFY(QFile::link(outside.filePath("outside.wav"), f.root + "/b/linked.wav"));
    QVERIFY(QFile::link(f.root + "/nothing.wav", f.root + "/b/dangling.wav"));
    QVERIFY(QFile::link(f.root + "/b/l2.wav", f.root + "/b/l1.wav"));
    QVERIFY(QFile::link(f.root + "/b/l1.wav", f.root + "/b/l2.wav"));
    QVERIFY(QFile::link(f.root + "/a", f.root + "/b/folder.wav"));
    const LibraryIndexer::Outcome outcome = LibraryIndexer(*f.store).run();
    QVERIFY2(outcome.problem.isEmpty(), qPrintable(outcome.problem));
    QCOMPARE(found(*f.store, "wav"), sorted({"inside.wav", "linked.wav"}));
    QCOMPARE(found(*f.store, "folder:far"), QStringList());
}

void TestLibraryIndex::keepsAnUnreadableFolder()
{
    Fixture f;
    QVERIFY(tone(f.root + "/open/a.wav"));
    QVERIFY(tone(f.root + "/locked/b.wav"));
    QVERIFY(tone(f.root + "/locked/deeper/c.wav"));
    QVERIFY(LibraryIndexer(*f.store).run().problem.isEmpty());
    QCOMPARE(f.store->fileCount().value(), 3);
    QVERIFY(QFile::setPermissions(f.root + "/locked", QFileDevice::Permissions()));
    const LibraryIndexer::Outcome outcome = LibraryIndexer(*f.store).run();
    QVERIFY(QFile::setPermissions(f.root + "/locked",
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY2(outcome.problem.isEmpty(), qPrintable(outcome.problem));
    // What could not be looked at is not taken for gone.
    QCOMPARE(found(*f.store, "wav"), sorted({"a.wav", "b.wav", "c.wav"}));

    // Indexed for the first time with a folder closed: the rest is indexed.
    Fixture fresh;
    QVERIFY(tone(fresh.root + "/open/a.wav"));
    QVERIFY(tone(fresh.root + "/locked/b.wav"));
    QVERIFY(QFile::setPermissions(fresh.root + "/locked", QFileDevice::Permissions()));
    const LibraryIndexer::Outcome first = LibraryIndexer(*fresh.store).run();
    QVERIFY(QFile::setPermissions(fresh.root + "/locked",
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(first.problem.isEmpty());
    QCOMPARE(found(*fresh.store, "wav"), QStringList{"a.wav"});
}

void TestLibraryIndex::readsAgainAFileRewrittenWhileRead()
{
    Fixture f;
    const QString take = f.root + "/growing.wav";
    QVERIFY(tone(take));
    CountingReader reader;
    bool grow = true;
    reader.during = [&grow](const QString &path) {
        if (!grow)
            return;
        // A recorder still writing it.
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append));
        file.write(QByteArray(4000, '\0'));
    };
    QCOMPARE(LibraryIndexer(*f.store, reader).run().read, 1);
    QCOMPARE(f.store->files(nativePath(f.root))->value("growing.wav").modifiedNs, 0);
    grow = false;
    QCOMPARE(LibraryIndexer(*f.store, reader).run().read, 1);
    QCOMPARE(LibraryIndexer(*f.store, reader).run().read, 0);
}

void TestLibraryIndex::goesOnWhenAFolderIsRenamed()
{
    Fixture f;
    for (const char *folder : {"one", "two", "three"})
        for (int i = 0; i < 3; ++i)
            QVERIFY(tone(f.root + "/" + folder + "/" + folder + QString::number(i) + ".wav"));
    CountingReader reader;
    bool renamed = false;
    reader.during = [&](const QString &) {
        if (renamed)
            return;
        renamed = true;
        // Whichever folder is walked first, the others change names under the walk.
        for (const char *folder : {"one", "two", "three"})
            QDir().rename(f.root + "/" + folder, f.root + "/" + folder + " renamed");
    };
    LibraryIndexer::Outcome outcome = LibraryIndexer(*f.store, reader).run();
    QVERIFY(outcome.problem.isEmpty());
    QVERIFY(!outcome.stopped);
    // The next pass finds everything under its new name, and nothing under an old one.
    outcome = LibraryIndexer(*f.store).run();
    QVERIFY(outcome.problem.isEmpty());
    QCOMPARE(found(*f.store, "wav").size(), 9);
    const QList<QByteArray> folders = f.store->folders(f.store->roots()->first().id)->keys();
    QCOMPARE(folders.size(), 3);
    for (const QByteArray &folder : folders)
        QVERIFY2(folder.endsWith(" renamed"), folder.constData());
}

void TestLibraryIndex::looksAgainAtOneFolder()
{
    Fixture f;
    QVERIFY(tone(f.root + "/a/one.wav"));
    QVERIFY(tone(f.root + "/b/two.wav"));
    QVERIFY(LibraryIndexer(*f.store).run().problem.isEmpty());
    QVERIFY(tone(f.root + "/a/new.wav"));
    QVERIFY(tone(f.root + "/a/sub/deeper.wav"));
    QVERIFY(tone(f.root + "/b/elsewhere.wav"));
    QVERIFY(QFile::remove(f.root + "/a/one.wav"));
    CountingReader reader;
    const LibraryIndexer::Outcome outcome =
        LibraryIndexer(*f.store, reader).runFolder(f.root + "/a");
    QCOMPARE(sorted(*reader.read), sorted({f.root + "/a/new.wav", f.root + "/a/sub/deeper.wav"}));
    QCOMPARE(outcome.removed, 1);
    QCOMPARE(found(*f.store, "wav"), sorted({"new.wav", "deeper.wav", "two.wav"}));
    // A folder in no root: nothing.
    QCOMPARE(LibraryIndexer(*f.store, reader).runFolder(f.dir.filePath("data")).looked, 0);
}

void TestLibraryIndex::stopsWhenAsked()
{
    Fixture f;
    for (int i = 0; i < 30; ++i)
        QVERIFY(tone(f.root + QString("/f%1/t%2.wav").arg(i % 3).arg(i)));
    QVERIFY(LibraryIndexer(*f.store).run().problem.isEmpty());
    for (int i = 0; i < 30; ++i)
        touchLater(f.root + QString("/f%1/t%2.wav").arg(i % 3).arg(i));
    CountingReader reader;
    LibraryIndexer *running = nullptr;
    reader.during = [&running, read = reader.read](const QString &) {
        if (read->size() == 4)
            running->stop();
    };
    LibraryIndexer indexer(*f.store, reader);
    running = &indexer;
    const LibraryIndexer::Outcome outcome = indexer.run();
    QVERIFY(outcome.stopped);
    QCOMPARE(outcome.read, 4);
    // Stopped half-way, it drops nothing it did not look at.
    QCOMPARE(f.store->fileCount().value(), 30);
}

void TestLibraryIndex::estimatesHowManyBeforeTheWalk_data()
{
    // Paths below the fixture's folder: "root" is the fixture's root, "second" one more.
    QTest::addColumn<QStringList>("before");   // there at a previous pass; none: no pass
    QTest::addColumn<QStringList>("added");    // since that pass
    QTest::addColumn<QStringList>("removed");  // since that pass
    QTest::addColumn<bool>("secondRootAdded"); // after that pass
    QTest::addColumn<bool>("rootAway");        // renamed away before this pass
    // That pass was stopped after reading so many files (0: it ended), and a pass with the
    // root away followed it, before it came back for this one.
    QTest::addColumn<int>("stoppedAfter");
    QTest::addColumn<bool>("awayBetween");
    QTest::addColumn<qint64>("first");  // "about" before a file was looked at
    QTest::addColumn<qint64>("during"); // ... while files are looked at, at least
    QTest::addColumn<qint64>("last");   // files looked at in all, and "about" then

    QStringList twelve;
    for (const char *folder : {"a", "b", "c"})
        for (int i = 0; i < 4; ++i)
            twelve.append(QString("root/%1/take%2.wav").arg(folder).arg(i));
    const QStringList five{"root/a/more0.wav", "root/a/more1.wav", "root/d/more2.wav",
                           "root/d/more3.wav", "root/more4.wav"};
    const QStringList six{"second/x/s0.wav", "second/x/s1.wav", "second/x/s2.wav",
                          "second/y/s3.wav", "second/y/s4.wav", "second/s5.wav"};
    const QStringList four = twelve.mid(2, 4);

    // No pass before: the walk ahead has counted the names before the first file is read.
    QTest::newRow("first pass") << QStringList{} << twelve << QStringList{} << false << false << 0
                                << false << qint64(12) << qint64(12) << qint64(12);
    QTest::newRow("nothing changed") << twelve << QStringList{} << QStringList{} << false << false
                                     << 0 << false << qint64(12) << qint64(12) << qint64(12);
    // What the store held, until more than that were looked at.
    QTest::newRow("files added") << twelve << five << QStringList{} << false << false << 0 << false
                                 << qint64(12) << qint64(12) << qint64(17);
    QTest::newRow("files gone") << twelve << QStringList{} << four << false << false << 0 << false
                                << qint64(12) << qint64(12) << qint64(8);
    // The store's entries of the first root, and the count ahead of the new one.
    QTest::newRow("a root added") << twelve << six << QStringList{} << true << false << 0 << false
                                  << qint64(18) << qint64(18) << qint64(18);
    // An offline root is not indexed: its entries are kept, but not counted.
    QTest::newRow("a root away") << twelve + six << QStringList{} << QStringList{} << false << true
                                 << 0 << false << qint64(18) << qint64(6) << qint64(6);
    // Back after a pass that found it away: what the store held, as before it went.
    QTest::newRow("a root back") << twelve << QStringList{} << QStringList{} << false << false << 0
                                 << true << qint64(12) << qint64(12) << qint64(12);
    // A first pass cut short holds part of the root: the walk ahead counts the rest.
    QTest::newRow("a root cut short") << QStringList{} << twelve << QStringList{} << false << false
                                      << 5 << false << qint64(12) << qint64(12) << qint64(12);
    QTest::newRow("a root cut short, then away, then back")
        << QStringList{} << twelve << QStringList{} << false << false << 5 << true << qint64(12)
        << qint64(12) << qint64(12);
    // As a card pulled during the first pass and put back: not just the other root's files.
    QTest::newRow("a root cut short and back, beside another")
        << QStringList{} << twelve + six << QStringList{} << false << false << 5 << true
        << qint64(18) << qint64(18) << qint64(18);
    // More files in a folder the store holds some of, and in the root's own: each folder
    // counted beyond what the store holds of it.
    const QStringList three{five.at(0), five.at(1), five.at(4)};
    QTest::newRow("a root cut short, more in a folder")
        << QStringList{} << twelve + three << QStringList{} << false << false << 5 << true
        << qint64(15) << qint64(15) << qint64(15);
}

void TestLibraryIndex::estimatesHowManyBeforeTheWalk()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, added);
    QFETCH(QStringList, removed);
    QFETCH(bool, secondRootAdded);
    QFETCH(bool, rootAway);
    QFETCH(int, stoppedAfter);
    QFETCH(bool, awayBetween);
    QFETCH(qint64, first);
    QFETCH(qint64, during);
    QFETCH(qint64, last);

    Fixture f;
    const QString second = f.dir.filePath("second");
    QVERIFY(QDir().mkpath(second));
    for (const QString &file : std::as_const(before))
        QVERIFY(tone(f.dir.filePath(file)));
    const auto withSecond = [&second, &f](const QStringList &files) {
        if (std::any_of(files.cbegin(), files.cend(),
                        [](const QString &file) { return file.startsWith("second/"); }))
            QVERIFY(f.store->addRoot(second, 0).ok());
    };
    if (!before.isEmpty()) {
        withSecond(before);
        QVERIFY(LibraryIndexer(*f.store).run().problem.isEmpty());
    }
    for (const QString &file : std::as_const(added))
        QVERIFY(tone(f.dir.filePath(file)));
    if (stoppedAfter > 0) {
        // The first pass over what was added, stopped after so many files, each written.
        withSecond(added);
        CountingReader reader;
        LibraryIndexer *running = nullptr;
        reader.during = [&running, stoppedAfter, read = reader.read](const QString &) {
            if (read->size() == stoppedAfter)
                running->stop();
        };
        LibraryIndexer cut(*f.store, reader);
        cut.setBatchSize(1);
        running = &cut;
        QVERIFY(cut.run().stopped);
        QCOMPARE(f.store->fileCount().value(), qint64(stoppedAfter));
    }
    if (awayBetween) {
        QVERIFY(QDir().rename(f.root, f.dir.filePath("away")));
        QCOMPARE(LibraryIndexer(*f.store).run().offline, QStringList{f.root});
        QVERIFY(QDir().rename(f.dir.filePath("away"), f.root));
    }
    for (const QString &file : std::as_const(removed))
        QVERIFY(QFile::remove(f.dir.filePath(file)));
    if (secondRootAdded)
        QVERIFY(f.store->addRoot(second, 0).ok());
    if (rootAway)
        QVERIFY(QDir().rename(f.root, f.dir.filePath("away")));

    LibraryIndexer indexer(*f.store);
    QList<QPair<qint64, qint64>> told;
    indexer.setProgressEveryMs(0);
    indexer.setProgress([&told](qint64 done, qint64 about) { told.append({done, about}); });
    const LibraryIndexer::Outcome outcome = indexer.run();
    QVERIFY2(outcome.problem.isEmpty(), qPrintable(outcome.problem));
    QVERIFY(told.size() >= 2);
    QCOMPARE(told.first(), qMakePair(qint64(0), first));
    QCOMPARE(told.last(), qMakePair(last, last));
    for (const auto &[done, about] : told.mid(1, told.size() - 2)) {
        // Never fewer than looked at, and not the running count.
        QVERIFY2(about == std::max(during, done),
                 qPrintable(QString("%1 of about %2").arg(done).arg(about)));
    }
    QCOMPARE(outcome.looked, last);
}

void TestLibraryIndex::findsWhatFfmpegWrote()
{
    const QString ffmpeg = QStandardPaths::findExecutable("ffmpeg");
    if (ffmpeg.isEmpty())
        QSKIP("ffmpeg is not installed");
    Fixture f;
    QProcess run;
    run.start(ffmpeg, {"-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                       "sine=frequency=440:duration=0.3", "-metadata",
                       "comment=Kestrel over the ridge, take 3", f.root + "/ZOOM0001.wav"});
    QVERIFY(run.waitForFinished(30000));
    QCOMPARE(run.exitCode(), 0);
    QVERIFY(LibraryIndexer(*f.store).run().problem.isEmpty());
    QCOMPARE(found(*f.store, "kestrel"), QStringList{"ZOOM0001.wav"});
    QCOMPARE(found(*f.store, "\"over the ridge\""), QStringList{"ZOOM0001.wav"});
}

void TestLibraryIndex::resultsHoldOnlyThePagesNearTheView_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("descending");
    QTest::newRow("by name") << int(LibraryResultsModel::Name) << false;
    QTest::newRow("by name, down") << int(LibraryResultsModel::Name) << true;
    QTest::newRow("by length") << int(LibraryResultsModel::Length) << false;
    QTest::newRow("by length, down") << int(LibraryResultsModel::Length) << true;
}

void TestLibraryIndex::resultsHoldOnlyThePagesNearTheView()
{
    QFETCH(int, column);
    QFETCH(bool, descending);
    // More pages than are held either side of the view: a scroll to the end lets the first
    // ones go, and coming back reads them again.
    constexpr int pages = 2 * LibraryResultsModel::pagesKept + 10;
    constexpr int hits = pages * LibraryResultsModel::pageSize - 37;
    QTemporaryDir dir;
    const QString file = dir.filePath("library.sqlite");
    {
        SqliteLibraryStore store(file);
        QVERIFY(store.open().ok());
        LibraryBatch batch;
        batch.root = store.addRoot(dir.filePath("gone"), 1)->id;
        for (int i = 0; i < hits; ++i) {
            LibraryEntry entry = entryOf(QFile::encodeName(dir.filePath("gone")),
                                         QByteArray::number(i).rightJustified(5, '0') + ".wav");
            // The lengths in the names' order, so that either order shows the same rows.
            entry.info.frames = 48 * (i + 1);
            batch.entries.append(entry);
        }
        QVERIFY(store.write(batch).ok());
    }
    const auto nameAt = [descending](int row) {
        return QString::number(descending ? hits - 1 - row : row).rightJustified(5, u'0') +
               QStringLiteral(".wav");
    };
    Library library(file, nullptr);
    LibraryResultsModel model(&library, nullptr);
    QSignalSpy opened(&library, &Library::opened);
    library.open();
    QVERIFY(opened.wait(10000));
    QSignalSpy counted(&model, &LibraryResultsModel::hitCountChanged);
    model.sort(column, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    model.setQuery(QStringLiteral(".wav"));
    QTRY_COMPARE(model.hitCount(), hits);
    QCOMPARE(model.rowCount(), hits);
    // A scroll bar dragged near the end at once: the page is read by passing over the rest.
    QTRY_COMPARE(model.index(hits - 40, 0).data().toString(), nameAt(hits - 40));
    QTRY_COMPARE(model.index(hits - 1, 0).data().toString(), nameAt(hits - 1));
    // Then from the top to the end, a page at a time.
    constexpr int most = (2 * LibraryResultsModel::pagesKept + 1) * LibraryResultsModel::pageSize;
    for (int row = 0; row < hits; row += LibraryResultsModel::pageSize / 2) {
        QTRY_COMPARE(model.index(row, 0).data().toString(), nameAt(row));
        QVERIFY2(model.rowsHeld() <= most, qPrintable(QString::number(model.rowsHeld())));
    }
    QVERIFY(model.index(0, 0).data().isNull());
    QTRY_COMPARE(model.index(0, 0).data().toString(), nameAt(0));
    QTRY_COMPARE(model.index(LibraryResultsModel::pageSize + 3, 0).data().toString(),
                 nameAt(LibraryResultsModel::pageSize + 3));
    QVERIFY(model.rowsHeld() <= most);
}

void TestLibraryIndex::measuresTheLoudnessOnceLeftAlone()
{
    QTemporaryDir dir;
    const QString root = dir.filePath("takes");
    QVERIFY(tone(root + "/one.wav", 0.8));
    QVERIFY(tone(root + "/two/two.wav", 0.8));
    // Shorter than the 400 ms block the loudness is gated by.
    QVERIFY(tone(root + "/short.wav", 0.2));
    QVERIFY(writeBytes(root + "/broken.wav", "RIFF and nothing more"));
    Library library(dir.filePath("data/library.sqlite"), nullptr);
    LibraryResultsModel model(&library, nullptr);
    QSignalSpy indexing(&library, &Library::indexingChanged);
    QSignalSpy finished(&model, &LibraryResultsModel::searchFinished);
    const auto measured = [&model, &finished] {
        finished.clear();
        model.setQuery(QStringLiteral("lufs:<0"));
        return finished.wait(5000) ? model.hitCount() : -1;
    };
    library.open();
    QTRY_VERIFY_WITH_TIMEOUT(library.isOpen(), 10000);
    // The user is playing: the headers are read, the loudness waits.
    library.holdBack();
    library.addRoot(root);
    QTRY_COMPARE_WITH_TIMEOUT(indexing.size(), 2, 20000);
    QTest::qWait(1000);
    QCOMPARE(measured(), 0);
    // Left alone, both takes are measured; the broken one is passed over.
    QTRY_COMPARE_WITH_TIMEOUT(measured(), 2, Library::quietMs + 10000);
    model.setQuery(QStringLiteral("one"));
    QVERIFY(finished.wait(5000));
    QCOMPARE(model.rowCount(), 1);
    QVERIFY(model.index(0, LibraryResultsModel::Loudness).data().toString().endsWith("LUFS"));
    // Measured too, with no integrated loudness: said as its tooltip says it, never -inf.
    const auto shortOne = [&model, &finished] {
        finished.clear();
        model.setQuery(QStringLiteral("short"));
        return finished.wait(5000) && model.rowCount() == 1
                   ? model.index(0, LibraryResultsModel::Loudness).data().toString()
                   : QStringLiteral("(no hit)");
    };
    QTRY_COMPARE_WITH_TIMEOUT(shortOne(), QStringLiteral("too short"), 10000);
    QVERIFY(model.index(0, LibraryResultsModel::TruePeak).data().toString().endsWith("dBTP"));
}

void TestLibraryIndex::libraryAndResults()
{
    QTemporaryDir dir;
    const QString root = dir.filePath("samples");
    for (int i = 0; i < 450; ++i)
        QVERIFY(tone(root + QString("/bank%1/take %2.wav").arg(i % 4).arg(i, 3, 10, QChar('0'))));
    QVERIFY(tone(root + "/lonely kick.wav", 0.5));
    Library library(dir.filePath("data/library.sqlite"), nullptr);
    LibraryResultsModel model(&library, nullptr);
    QSignalSpy opened(&library, &Library::opened);
    QSignalSpy indexing(&library, &Library::indexingChanged);
    QSignalSpy progress(&library, &Library::progress);
    QSignalSpy problems(&library, &Library::problemOccurred);
    QSignalSpy finished(&model, &LibraryResultsModel::searchFinished);
    QSignalSpy errors(&model, &LibraryResultsModel::errorChanged);

    QVERIFY(!library.isOpen());
    library.open();
    QVERIFY(opened.wait(10000));
    QVERIFY(library.roots().isEmpty());
    // As if the user played meanwhile: the loudness is not measured yet below.
    library.holdBack();
    library.addRoot(root);
    QTRY_COMPARE_WITH_TIMEOUT(indexing.size(), 2, 20000);
    library.holdBack();
    QVERIFY(!library.isIndexing());
    QCOMPARE(library.roots().size(), 1);
    QCOMPARE(library.roots().first().path, root);
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.last().at(0).toLongLong(), 451);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.value(0).value(0).toString()));

    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Name"));
    QStringList headers;
    for (int c = 0; c < model.columnCount(); ++c)
        headers.append(model.headerData(c, Qt::Horizontal).toString());
    QCOMPARE(headers, (QStringList{"Name", "Folder", "Length", "Rate", "Channels", "Bits",
                                   "Loudness", "True peak", "Date"}));

    model.setQuery("kick");
    QVERIFY(finished.wait(5000));
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.hitCount(), 1);
    const QModelIndex kick = model.index(0, LibraryResultsModel::Name);
    QCOMPARE(kick.data().toString(), QStringLiteral("lonely kick.wav"));
    QCOMPARE(kick.data(LibraryResultsModel::PathRole).toString(), root + "/lonely kick.wav");
    QCOMPARE(model.index(0, LibraryResultsModel::Folder).data().toString(), root);
    // The folder's cell may be cut in the middle: its tooltip holds it whole.
    QCOMPARE(model.index(0, LibraryResultsModel::Folder).data(Qt::ToolTipRole).toString(), root);
    QVERIFY(model.index(0, LibraryResultsModel::Name).data(Qt::ToolTipRole).isNull());
    QCOMPARE(model.index(0, LibraryResultsModel::Rate).data().toInt(), 8000);
    QCOMPARE(model.index(0, LibraryResultsModel::Channels).data().toInt(), 1);
    QCOMPARE(model.index(0, LibraryResultsModel::Bits).data().toInt(), 16);
    QCOMPARE(model.index(0, LibraryResultsModel::Length).data().toString(),
             QStringLiteral("0:00.5"));
    QCOMPARE(model.index(0, LibraryResultsModel::Loudness).data().toString(), QString());
    QVERIFY(!kick.data(LibraryResultsModel::UnavailableRole).toBool());

    // A query that cannot be read: the reason, and no rows.
    model.setQuery("rate:fast");
    QCOMPARE(errors.size(), 1);
    QVERIFY(!model.error().isEmpty());
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.hitCount(), 0);
    model.setQuery("take");
    QCOMPARE(model.error(), QString());
    QCOMPARE(errors.size(), 2);
    QVERIFY(finished.wait(5000));
    // The first page; the count comes with it when the search index answers, or follows it
    // from the store, and with it a row for every hit.
    QVERIFY2(model.rowCount() == LibraryResultsModel::pageSize || model.rowCount() == 450,
             qPrintable(QString::number(model.rowCount())));
    QTRY_COMPARE(model.hitCount(), 450);
    QCOMPARE(model.rowCount(), 450);
    // A row beyond the first page is read when it is asked for, not before.
    QCOMPARE(model.rowsHeld(), LibraryResultsModel::pageSize);
    QCOMPARE(model.index(449, 0).data(), QVariant());
    QTRY_COMPARE(model.index(449, 0).data().toString(), QStringLiteral("take 449.wav"));
    QCOMPARE(model.index(0, 0).data().toString(), QStringLiteral("take 000.wav"));
    QTRY_COMPARE(model.index(250, 0).data().toString(), QStringLiteral("take 250.wav"));
    QCOMPARE(model.rowsHeld(), 450);

    // Sorted by the store: the folder, descending.
    model.sort(LibraryResultsModel::Folder, Qt::DescendingOrder);
    QVERIFY(finished.wait(5000));
    QCOMPARE(model.index(0, LibraryResultsModel::Folder).data().toString(), root + "/bank3");
    QCOMPARE(model.index(0, 0).data().toString(), QStringLiteral("take 447.wav"));

    // A file gone is greyed at the next look; the next pass takes it out.
    model.sort(LibraryResultsModel::Name, Qt::AscendingOrder);
    QVERIFY(finished.wait(5000));
    QVERIFY(QFile::remove(root + "/bank0/take 000.wav"));
    model.checkRows(0, 10);
    QTRY_VERIFY(model.index(0, 0).data(LibraryResultsModel::GoneRole).toBool());
    QVERIFY(model.index(0, 0).data(LibraryResultsModel::UnavailableRole).toBool());
    QVERIFY(!model.index(1, 0).data(LibraryResultsModel::GoneRole).toBool());
    library.startIndexing();
    QTRY_COMPARE_WITH_TIMEOUT(indexing.size(), 4, 20000);
    model.refresh();
    QVERIFY(finished.wait(5000));
    QTRY_COMPARE(model.hitCount(), 449);

    // The root away (a card pulled): the files of the rows shown look gone, and a look at a
    // folder finds the root offline. Back in, the rows are looked at again and are no longer
    // greyed, with no new search.
    const QString away = dir.filePath("away");
    QVERIFY(QDir().rename(root, away));
    model.checkRows(0, 10);
    QTRY_VERIFY(model.index(0, 0).data(LibraryResultsModel::GoneRole).toBool());
    QSignalSpy offline(&library, &Library::rootsOffline);
    library.folderChanged(root + "/bank1");
    QVERIFY(offline.wait(5000));
    model.refresh();
    QVERIFY(finished.wait(5000));
    QVERIFY(model.index(0, 0).data(LibraryResultsModel::UnavailableRole).toBool());
    QVERIFY(QDir().rename(away, root));
    // As the root's watch tells it back: a whole pass, with its line.
    library.folderChanged(root);
    QTRY_COMPARE_WITH_TIMEOUT(indexing.size(), 6, 20000);
    model.refresh();
    QVERIFY(finished.wait(5000));
    QTRY_VERIFY(!model.index(0, 0).data(LibraryResultsModel::GoneRole).toBool());
    QVERIFY(!model.index(0, 0).data(LibraryResultsModel::UnavailableRole).toBool());
    QTRY_COMPARE(model.hitCount(), 449);

    // Another folder inside a root is refused, in one line.
    library.addRoot(root + "/bank1");
    QTRY_COMPARE(problems.size(), 1);
    QVERIFY2(problems.last().at(0).toString().contains("already in the library"),
             qPrintable(problems.last().at(0).toString()));
    library.addRoot(dir.filePath("no such folder"));
    QTRY_COMPARE(problems.size(), 2);

    // Taking the root out takes its entries out, and no file.
    // (A pass still under way, stopped by it, may tell the roots as they were first.)
    library.removeRoot(root);
    QTRY_VERIFY_WITH_TIMEOUT(library.roots().isEmpty(), 5000);
    model.refresh();
    QVERIFY(finished.wait(5000));
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(QFileInfo::exists(root + "/lonely kick.wav"));
    QCOMPARE(QDir(root + "/bank1").entryList(QDir::Files).size(), 113);
}

void TestLibraryIndex::closesTheStoreAtTheEnd_data()
{
    QTest::addColumn<bool>("resultsFirst"); // the program ends the library first
    QTest::addColumn<bool>("duringAPass");
    QTest::newRow("the library first") << false << false;
    QTest::newRow("the results first") << true << false;
    QTest::newRow("during a pass") << false << true;
}

void TestLibraryIndex::closesTheStoreAtTheEnd()
{
    QFETCH(bool, resultsFirst);
    QFETCH(bool, duringAPass);
    QTemporaryDir dir;
    const QString root = dir.filePath("samples");
    const int files = duringAPass ? 300 : 40;
    for (int i = 0; i < files; ++i)
        QVERIFY(tone(root + QString("/bank%1/take %2.wav").arg(i % 4).arg(i)));
    const QString file = dir.filePath("data/library.sqlite");
    auto library = std::make_unique<Library>(file, nullptr);
    auto model = std::make_unique<LibraryResultsModel>(library.get(), nullptr);
    QSignalSpy opened(library.get(), &Library::opened);
    QSignalSpy indexing(library.get(), &Library::indexingChanged);
    QSignalSpy progress(library.get(), &Library::progress);
    QSignalSpy finished(model.get(), &LibraryResultsModel::searchFinished);
    library->open();
    QVERIFY(opened.wait(10000));
    library->holdBack();
    library->addRoot(root);
    if (duringAPass) {
        QTRY_VERIFY_WITH_TIMEOUT(!progress.isEmpty() && progress.last().at(0).toLongLong() > 0,
                                 20000);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(indexing.size(), 2, 20000);
        // What the windows measure goes into the store by a connection of its own.
        Loudness figures;
        figures.integratedLufs = -20;
        library->loudnessKeeper()->keep(root + "/bank0/take 0.wav", {1, 2}, figures);
    }
    // A search has read the store.
    model->setQuery("take");
    QVERIFY(finished.wait(10000));
    QVERIFY(QFileInfo::exists(file + "-wal"));
    if (resultsFirst)
        model.reset();
    library.reset();
    model.reset();
    // Every connection closed: the last one took the log in and removed it.
    QCOMPARE(QDir(dir.filePath("data")).entryList(QDir::Files), QStringList{"library.sqlite"});
}

void TestLibraryIndex::libraryOverAnUnusableStore()
{
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("data"));
    QVERIFY(writeBytes(dir.filePath("data/library.sqlite"), "a note, not a store"));
    Library library(dir.filePath("data/library.sqlite"), nullptr);
    QSignalSpy opened(&library, &Library::opened);
    QSignalSpy problems(&library, &Library::problemOccurred);
    library.open();
    QVERIFY(opened.wait(10000));
    QCOMPARE(problems.size(), 1);
    const QString line = problems.first().first().toString();
    QVERIFY2(line.contains("library.sqlite.broken-"), qPrintable(line));
    QVERIFY(!line.contains(u'\n'));
    QCOMPARE(QDir(dir.filePath("data")).entryList({"library.sqlite.broken-*"}).size(), 1);
}

void TestLibraryIndex::libraryInAReadOnlyFolder()
{
    QTemporaryDir dir;
    const QString data = dir.filePath("data");
    QDir().mkpath(data);
    QVERIFY(QFile::setPermissions(data, QFile::ReadOwner | QFile::ExeOwner));
    Library library(data + "/library.sqlite", nullptr);
    LibraryResultsModel model(&library, nullptr);
    QSignalSpy problems(&library, &Library::problemOccurred);
    library.open();
    QVERIFY(problems.wait(10000));
    QVERIFY2(problems.first().first().toString().startsWith("The library cannot be opened"),
             qPrintable(problems.first().first().toString()));
    QVERIFY(!library.isOpen());
    // The rest goes on: a search finds nothing, and says nothing is wrong with it.
    model.setQuery("kick");
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.error(), QString());
    // Asked again, it tries again and says so again, once.
    library.startIndexing();
    library.addRoot(dir.path());
    QTRY_COMPARE(problems.size(), 2);
    QVERIFY(!library.isOpen());
    QVERIFY(QFile::setPermissions(data, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

int main(int argc, char **argv)
{
    runAsOrdinaryUser();
    QCoreApplication app(argc, argv);
    TestLibraryIndex test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_libraryindex.moc"
