// The play list's store without a window: the names and paths of one model, the rows a
// removal leaves, and the entries whose file has gone, looked at in a worker.
#include "RowDrags.h"
#include "platform/NativeName.h"
#include "playlist/MissingEntries.h"
#include "playlist/PlayListModel.h"
#include "ui/ListSelection.h"

#include <QCoreApplication>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class TestPlayListModel : public QObject
{
    Q_OBJECT
private slots:
    void oneModelHoldsTheNamesAndThePaths();
    void rowsAfterRemoval_data();
    void rowsAfterRemoval();
    void missingEntriesAreLookedAtInAWorker();
    void aLookStuckOnADeadMountHoldsNothingElse();
    void everyEntryDragsOutAsItsFile();
};

void TestPlayListModel::oneModelHoldsTheNamesAndThePaths()
{
    PlayListModel list(nullptr);
    QVERIFY(list.AddEntry("ding.wav", "/s/ding.wav"));
    QVERIFY(!list.AddEntry("ding.wav", "  /s/ding.wav  ")); // trimmed: the same entry
    QVERIFY(!list.AddEntry("x.wav", "   "));                // no path: nothing
    // Linux tells these two files apart, so both may be listed.
    QVERIFY(list.AddEntry("Ding.wav", "/s/Ding.wav"));
    QCOMPARE(list.names(), QStringList({"ding.wav", "Ding.wav"}));
    QCOMPARE(list.paths(), QStringList({"/s/ding.wav", "/s/Ding.wav"}));
    list.removeEntries({0});
    QVERIFY(list.AddEntry("ding.wav", "/s/ding.wav")); // gone, so it may come back
    QCOMPARE(list.paths(), QStringList({"/s/Ding.wav", "/s/ding.wav"}));
    // List1 shows the names, List3 the paths of the same rows; neither file is there.
    QCOMPARE(list.index(1).data().toString(), QString("ding.wav"));
    QCOMPARE(list.pathsModel()->index(1, 0).data().toString(), QString("/s/ding.wav"));
    QTRY_VERIFY(list.index(0).data(PlayListModel::MissingRole).toBool());
    QTRY_VERIFY(list.index(1).data(PlayListModel::MissingRole).toBool());
    // Adds come as one insertion of the new rows only, duplicates left out.
    QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);
    QCOMPARE(list.addFiles({"/s/a.wav", "/s/ding.wav", "/s/b.wav"}), 2);
    QCOMPARE(inserted.size(), 1);
    QCOMPARE(inserted.first().value(1).toInt(), 2);
    QCOMPARE(inserted.first().value(2).toInt(), 3);
    QCOMPARE(list.pathsModel()->rowCount(), 4);
    list.clear();
    QCOMPARE(list.count(), 0);
    QVERIFY(list.AddEntry("Ding.wav", "/s/Ding.wav"));
}

void TestPlayListModel::rowsAfterRemoval_data()
{
    QTest::addColumn<QList<int>>("rows");
    QTest::addColumn<QList<int>>("removed");
    QTest::addColumn<QList<int>>("after");
    QTest::newRow("nothing removed") << QList<int>{0, 3} << QList<int>{} << QList<int>{0, 3};
    QTest::newRow("before and between")
        << QList<int>{2, 5, 9} << QList<int>{0, 4, 7} << QList<int>{1, 3, 6};
    QTest::newRow("the rows themselves go")
        << QList<int>{1, 2, 3} << QList<int>{2} << QList<int>{1, 2};
    QTest::newRow("removed in any order, twice")
        << QList<int>{6} << QList<int>{5, 1, 5, 3} << QList<int>{3};
    QTest::newRow("order of the rows kept")
        << QList<int>{8, 0, 4} << QList<int>{2} << QList<int>{7, 0, 3};
    QTest::newRow("all go") << QList<int>{0, 1} << QList<int>{1, 0} << QList<int>{};
}

void TestPlayListModel::rowsAfterRemoval()
{
    QFETCH(QList<int>, rows);
    QFETCH(QList<int>, removed);
    QFETCH(QList<int>, after);
    QCOMPARE(::rowsAfterRemoval(rows, removed), after);
}

void TestPlayListModel::missingEntriesAreLookedAtInAWorker()
{
    QTemporaryDir dir;
    const QString kept = dir.filePath("a.wav");
    const QString gone = dir.filePath("b.wav");
    // On a stalled mount the entries are looked at in a worker; the window goes on meanwhile.
    QSemaphore disk;
    std::atomic_int askedByWindow = 0;
    MissingEntries stalled(nullptr, [&](const QString &path) {
        if (QThread::currentThread() == qApp->thread())
            ++askedByWindow;
        if (!disk.tryAcquire(1, 20000))
            return true;
        disk.release();
        return path == kept;
    });
    QSignalSpy changed(&stalled, &MissingEntries::changed);
    stalled.setPaths({kept, gone});
    stalled.recheck();
    QTest::qWait(50);
    QVERIFY(changed.isEmpty());
    QVERIFY(!stalled.isMissing(gone));
    disk.release();
    QTRY_VERIFY_WITH_TIMEOUT(stalled.isMissing(gone), 5000);
    QVERIFY(!stalled.isMissing(kept));
    QCOMPARE(int(askedByWindow), 0);

    // A folder Qt's watcher cannot carry (its name is not UTF-8) is looked at on activation.
    const QString foreign = dir.filePath(pathFromNative("caf\xe9"));
    QCOMPARE(::mkdir(nativePath(foreign).constData(), 0755), 0);
    const QString inside = foreign + "/x.wav";
    ::close(::open(nativePath(inside).constData(), O_CREAT | O_WRONLY, 0644));
    MissingEntries unwatched(nullptr);
    unwatched.setPaths({inside});
    QTest::qWait(50);
    QVERIFY(!unwatched.isMissing(inside));
    QCOMPARE(::unlink(nativePath(inside).constData()), 0);
    QCOMPARE(::rmdir(nativePath(foreign).constData()), 0);
    unwatched.recheck();
    QTRY_VERIFY_WITH_TIMEOUT(unwatched.isMissing(inside), 2000);
}

// The list closed while a look hangs on a dead mount: the window goes on at once, and the next
// list's looks are not held up behind the stuck one.
void TestPlayListModel::aLookStuckOnADeadMountHoldsNothingElse()
{
    // Held by the look itself, which outlives the test.
    const auto mount = std::make_shared<QSemaphore>();
    const auto entered = std::make_shared<QSemaphore>();
    auto stuck = std::make_unique<MissingEntries>(nullptr, [mount, entered](const QString &) {
        entered->release();
        mount->tryAcquire(1, 20000);
        return false;
    });
    QSignalSpy stuckChanged(stuck.get(), &MissingEntries::changed);
    stuck->setPaths({"/dead/a.wav"});
    QVERIFY(entered->tryAcquire(1, 5000));
    stuck.reset();
    QVERIFY(!mount->available()); // still stuck: the end did not wait for it

    QTemporaryDir dir;
    const QString gone = dir.filePath("gone.wav");
    MissingEntries next(nullptr);
    next.setPaths({gone});
    QTRY_VERIFY_WITH_TIMEOUT(next.isMissing(gone), 5000);
    mount->release();
    QTest::qWait(50);
    QVERIFY(stuckChanged.isEmpty());
}

void TestPlayListModel::everyEntryDragsOutAsItsFile()
{
    PlayListModel list(nullptr);
    const QStringList paths = {"/s/b.wav", "/t/a.wav", "/s/Ding.WAV"};
    list.addFiles(paths);
    verifyRowsDragAsFiles(list, paths);
    // List3's rows are the same files.
    verifyRowsDragAsFiles(*list.pathsModel(), paths);
}

QTEST_GUILESS_MAIN(TestPlayListModel)
#include "tst_playlistmodel.moc"
