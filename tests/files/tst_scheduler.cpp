#include "files/Scheduler.h"

#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QSemaphore>
#include <QTest>
#include <atomic>
#include <memory>

namespace {
// Far past anything a task here takes; only reached when the scheduler is at fault.
constexpr int stuckMs = 20000;

// What the tasks did, in the order they did it.
struct Log
{
    QMutex mutex;
    QStringList done;
    void add(const QString &what)
    {
        QMutexLocker lock(&mutex);
        done.append(what);
    }
    QStringList all()
    {
        QMutexLocker lock(&mutex);
        return done;
    }
};

// Holds the scheduler's only thread of a weight until released.
struct Gate
{
    QSemaphore entered;
    QSemaphore open;
    void hold(Scheduler &scheduler, Weight weight = Weight::light)
    {
        scheduler.start(
            Lane::now,
            [this] {
                entered.release();
                open.tryAcquire(1, stuckMs);
            },
            weight);
        QVERIFY(entered.tryAcquire(1, stuckMs));
    }
    void release() { open.release(); }
};
} // namespace

class SchedulerTest : public QObject
{
    Q_OBJECT
private slots:
    void lanesTakeTurnsByPriority_data();
    void lanesTakeTurnsByPriority();
    void keysOfOneRequestKeepTheirOrder();
    void wholeFilesWaitOnTheirOwnThreads();
    void renewedGenerationCancels_data();
    void renewedGenerationCancels();
    void keyIsNeverWorkedOnTwiceAtOnce();
    void keysOfAnotherAskerDoNotWait();
    void answerGoesToTheAskersThread();
    void goneAskerGetsNothing_data();
    void goneAskerGetsNothing();
    void stuckTaskHoldsOnlyItsThread();
    void destructionDoesNotWaitForAStuckTask();
    void splitRunsBesideWhenAThreadIsFree();
    void splitRunsInlineWhenNoThreadIsFree();
};

void SchedulerTest::lanesTakeTurnsByPriority_data()
{
    QTest::addColumn<QList<int>>("asked");
    QTest::addColumn<QStringList>("expected");
    const int now = int(Lane::now), serial = int(Lane::serial), folder = int(Lane::folder),
              background = int(Lane::background);
    QTest::newRow("lowest asked first") << QList<int>{background, folder, serial, now}
                                        << QStringList{"now", "serial", "folder", "background"};
    QTest::newRow("highest asked first") << QList<int>{now, serial, folder, background}
                                         << QStringList{"now", "serial", "folder", "background"};
    QTest::newRow("the newest now first")
        << QList<int>{folder, now, now} << QStringList{"now 2", "now 1", "folder 0"};
    QTest::newRow("the folder in the order asked")
        << QList<int>{folder, folder, background, background}
        << QStringList{"folder 0", "folder 1", "background 2", "background 3"};
    QTest::newRow("serial in the order asked")
        << QList<int>{serial, serial, serial} << QStringList{"serial 0", "serial 1", "serial 2"};
}

void SchedulerTest::lanesTakeTurnsByPriority()
{
    QFETCH(QList<int>, asked);
    QFETCH(QStringList, expected);
    Scheduler scheduler(1, 1);
    Gate gate;
    gate.hold(scheduler);
    Log log;
    const QStringList names{"now", "serial", "folder", "background"};
    const bool numbered = expected.first().contains(' ');
    for (int i = 0; i < asked.size(); ++i) {
        const QString name = names[asked[i]] + (numbered ? QStringLiteral(" %1").arg(i) : "");
        scheduler.start(Lane(asked[i]), [&log, name] { log.add(name); });
    }
    gate.release();
    QTRY_COMPARE_WITH_TIMEOUT(log.all().size(), expected.size(), stuckMs);
    QCOMPARE(log.all(), expected);
}

void SchedulerTest::keysOfOneRequestKeepTheirOrder()
{
    Scheduler scheduler(1, 1);
    Gate gate;
    gate.hold(scheduler);
    QObject receiver;
    Asker asker(&receiver);
    Log log;
    scheduler.start(asker, {Lane::now, Weight::light, {"a", "b", "c"}, {}},
                    [&log](const QString &key) { log.add(key); });
    // The newest request of "now" first, its keys still in order.
    scheduler.start(asker, {Lane::now, Weight::light, {"x", "y"}, {}},
                    [&log](const QString &key) { log.add(key); });
    gate.release();
    QTRY_COMPARE_WITH_TIMEOUT(log.all().size(), 5, stuckMs);
    QCOMPARE(log.all(), (QStringList{"x", "y", "a", "b", "c"}));
}

void SchedulerTest::wholeFilesWaitOnTheirOwnThreads()
{
    // The one thread for whole files busy: light work still runs, whole work waits.
    Scheduler scheduler(1, 1);
    Gate gate;
    gate.hold(scheduler, Weight::whole);
    Log log;
    scheduler.start(
        Lane::now, [&log] { log.add("whole"); }, Weight::whole);
    scheduler.start(Lane::background, [&log] { log.add("light"); });
    QTRY_COMPARE_WITH_TIMEOUT(log.all(), QStringList{"light"}, stuckMs);
    gate.release();
    QTRY_COMPARE_WITH_TIMEOUT(log.all(), (QStringList{"light", "whole"}), stuckMs);
}

void SchedulerTest::renewedGenerationCancels_data()
{
    QTest::addColumn<bool>("whileRunning");
    QTest::newRow("while waiting: never runs") << false;
    QTest::newRow("while running: answer dropped") << true;
}

void SchedulerTest::renewedGenerationCancels()
{
    QFETCH(bool, whileRunning);
    Scheduler scheduler(1, 1);
    QObject receiver;
    Asker asker(&receiver);
    Generation folder;
    Gate gate;
    if (!whileRunning)
        gate.hold(scheduler);
    QSemaphore started, carryOn;
    std::atomic<int> ran = 0;
    int answered = 0;
    const Generation::Ticket old = folder.ticket();
    scheduler.start(asker, {Lane::folder, Weight::light, {"a", "b"}, old},
                    [&, link = asker.link()](const QString &) {
                        ++ran;
                        started.release();
                        carryOn.tryAcquire(1, stuckMs);
                        Asker::answer(link, old, [&answered] { ++answered; });
                    });
    if (whileRunning)
        QVERIFY(started.tryAcquire(1, stuckMs));
    folder.renew();
    // The new folder's own request runs.
    std::atomic<bool> fresh = false;
    scheduler.start(asker, {Lane::folder, Weight::light, {"c"}, folder.ticket()},
                    [&fresh](const QString &) { fresh = true; });
    carryOn.release(2);
    gate.release();
    QTRY_VERIFY_WITH_TIMEOUT(fresh, stuckMs);
    QCoreApplication::processEvents();
    QCOMPARE(ran.load(), whileRunning ? 1 : 0);
    QCOMPARE(answered, 0);
}

void SchedulerTest::keyIsNeverWorkedOnTwiceAtOnce()
{
    Scheduler scheduler(4, 1);
    QObject receiver;
    Asker asker(&receiver);
    QMutex mutex;
    QHash<QString, int> atWork;
    int most = 0;
    std::atomic<int> runs = 0;
    const auto task = [&](const QString &key) {
        {
            QMutexLocker lock(&mutex);
            most = std::max(most, ++atWork[key]);
        }
        QThread::msleep(5);
        QMutexLocker lock(&mutex);
        --atWork[key];
        ++runs;
    };
    // Each request is served; the second for a file waits for the first.
    constexpr int requests = 8;
    for (int i = 0; i < requests; ++i)
        scheduler.start(asker, {i % 2 ? Lane::now : Lane::folder, Weight::light, {"a", "b"}, {}},
                        task);
    QTRY_COMPARE_WITH_TIMEOUT(runs.load(), 2 * requests, stuckMs);
    QCOMPARE(most, 1);
}

void SchedulerTest::keysOfAnotherAskerDoNotWait()
{
    Scheduler scheduler(2, 1);
    QObject one, other;
    Asker first(&one), second(&other);
    QSemaphore entered, open;
    scheduler.start(first, {Lane::now, Weight::light, {"a"}, {}}, [&](const QString &) {
        entered.release();
        open.tryAcquire(1, stuckMs);
    });
    QVERIFY(entered.tryAcquire(1, stuckMs));
    // The same file for another client is other work (a loudness beside a header).
    std::atomic<bool> done = false;
    scheduler.start(second, {Lane::now, Weight::light, {"a"}, {}},
                    [&done](const QString &) { done = true; });
    QTRY_VERIFY_WITH_TIMEOUT(done, stuckMs);
    open.release();
}

void SchedulerTest::answerGoesToTheAskersThread()
{
    Scheduler scheduler(1, 1);
    QObject receiver;
    Asker asker(&receiver);
    QThread *answeredOn = nullptr;
    QThread *workedOn = nullptr;
    scheduler.start(asker, {Lane::now, Weight::light, {"a"}, {}},
                    [&, link = asker.link()](const QString &) {
                        workedOn = QThread::currentThread();
                        Asker::answer(link, {}, [&] { answeredOn = QThread::currentThread(); });
                    });
    QTRY_VERIFY_WITH_TIMEOUT(answeredOn, stuckMs);
    QCOMPARE(answeredOn, receiver.thread());
    QVERIFY(workedOn != receiver.thread());
}

void SchedulerTest::goneAskerGetsNothing_data()
{
    QTest::addColumn<bool>("whileRunning");
    QTest::newRow("gone before its task ran") << false;
    QTest::newRow("gone while its task ran") << true;
}

void SchedulerTest::goneAskerGetsNothing()
{
    QFETCH(bool, whileRunning);
    Scheduler scheduler(1, 1);
    Gate gate;
    if (!whileRunning)
        gate.hold(scheduler);
    auto receiver = std::make_unique<QObject>();
    auto asker = std::make_unique<Asker>(receiver.get());
    QSemaphore started, carryOn, ended;
    std::atomic<int> ran = 0;
    bool answered = false;
    scheduler.start(*asker, {Lane::now, Weight::light, {"a"}, {}},
                    [&, link = asker->link()](const QString &) {
                        ++ran;
                        started.release();
                        carryOn.tryAcquire(1, stuckMs);
                        Asker::answer(link, {}, [&answered] { answered = true; });
                        ended.release();
                    });
    if (whileRunning)
        QVERIFY(started.tryAcquire(1, stuckMs));
    asker.reset();
    receiver.reset();
    carryOn.release();
    gate.release();
    if (whileRunning)
        QVERIFY(ended.tryAcquire(1, stuckMs));
    // What comes after it on the one thread has run: the task was passed.
    std::atomic<bool> after = false;
    scheduler.start(Lane::background, [&after] { after = true; });
    QTRY_VERIFY_WITH_TIMEOUT(after, stuckMs);
    QCoreApplication::processEvents();
    QCOMPARE(ran.load(), whileRunning ? 1 : 0);
    QVERIFY(!answered);
}

void SchedulerTest::stuckTaskHoldsOnlyItsThread()
{
    Scheduler scheduler(2, 1);
    QSemaphore entered, mount;
    scheduler.start(Lane::now, [&] {
        entered.release();
        mount.tryAcquire(1, stuckMs); // a dead mount
    });
    QVERIFY(entered.tryAcquire(1, stuckMs));
    Log log;
    for (const Lane lane : {Lane::now, Lane::serial, Lane::folder, Lane::background})
        scheduler.start(lane, [&log, lane] { log.add(QString::number(int(lane))); });
    scheduler.start(
        Lane::background, [&log] { log.add("whole"); }, Weight::whole);
    QTRY_COMPARE_WITH_TIMEOUT(log.all().size(), 5, stuckMs);
    mount.release();
}

void SchedulerTest::destructionDoesNotWaitForAStuckTask()
{
    auto scheduler = std::make_unique<Scheduler>(1, 1);
    QSemaphore entered, mount;
    std::atomic<bool> stuck = true;
    scheduler->start(Lane::now, [&] {
        entered.release();
        mount.tryAcquire(1, stuckMs);
        stuck = false;
    });
    QVERIFY(entered.tryAcquire(1, stuckMs));
    std::atomic<bool> dropped = true;
    scheduler->start(Lane::folder, [&dropped] { dropped = false; });
    scheduler.reset();
    // Returned while the task was still stuck: a destructor that waited would have seen
    // the mount give up first.
    QVERIFY(stuck);
    mount.release();
    QTRY_VERIFY_WITH_TIMEOUT(!stuck, stuckMs);
    QTest::qWait(20);
    QVERIFY(dropped);
}

void SchedulerTest::splitRunsBesideWhenAThreadIsFree()
{
    Scheduler scheduler(1, 2);
    QSemaphore besideRuns, mineDone;
    QThread *besideOn = nullptr;
    Scheduler::Split split(scheduler, [&] {
        besideOn = QThread::currentThread();
        besideRuns.release();
        // Both halves at once: this one waits for the caller's.
        mineDone.tryAcquire(1, stuckMs);
    });
    QVERIFY(besideRuns.tryAcquire(1, stuckMs));
    mineDone.release();
    split.finish();
    QVERIFY(besideOn && besideOn != QThread::currentThread());
}

void SchedulerTest::splitRunsInlineWhenNoThreadIsFree()
{
    Scheduler scheduler(1, 1);
    Gate gate;
    gate.hold(scheduler, Weight::whole);
    QThread *besideOn = nullptr;
    {
        Scheduler::Split split(scheduler, [&] { besideOn = QThread::currentThread(); });
        split.finish();
    }
    QCOMPARE(besideOn, QThread::currentThread());
    gate.release();
}

QTEST_GUILESS_MAIN(SchedulerTest)
#include "tst_scheduler.moc"
