#include "Fakes.h"
#include "playback/ChainPlayer.h"
#include "playlist/PlayListModel.h"

#include <QItemSelectionModel>
#include <QSemaphore>
#include <QTest>
#include <QThread>
#include <atomic>
#include <memory>

namespace {

// A chain window that records what it shows; every pass of the wait moves the clock on
// by `tick` and then lets the test press buttons.
class RecordingView final : public ChainView
{
public:
    RecordingView(FakeClock &clock, ChainPlayer &player) : m_clock(clock), m_player(player) {}
    void setAddEnabled(bool enabled) override { addEnabled = enabled; }
    void showName(const QString &name, const QString &) override
    {
        names.append(name);
        passesOfEntry = 0;
    }
    double barWidth() const override { return 200; }
    void clearBar() override { fills.append(-1); }
    void fillBar(double width) override { fills.append(width); }
    void waitPass() override
    {
        ++passes;
        ++passesOfEntry;
        if (onPass)
            onPass(m_player, names.size() - 1, passesOfEntry);
        m_clock.now += tick;
    }
    void showFailure() override { ++failures; }

    bool addEnabled = false;
    QStringList names;
    QList<double> fills;
    int passes = 0;
    int passesOfEntry = 0;
    int failures = 0;
    double tick = 0.1;
    // (player, index of the entry playing among those shown, pass number within it)
    std::function<void(ChainPlayer &, int, int)> onPass;

private:
    FakeClock &m_clock;
    ChainPlayer &m_player;
};

// A list as the window has one: a model and its selection model, which the chain reads as
// it goes.
struct ListOf
{
    PlayListModel model{nullptr};
    QItemSelectionModel selection{&model};
    ChainSource source = chainSourceOf(selection, PlayListModel::PathRole);
};

std::unique_ptr<ListOf> listOf(const QStringList &names, const QList<int> &selected)
{
    auto list = std::make_unique<ListOf>();
    for (const QString &name : names)
        list->model.AddEntry(name, "/w/" + name);
    for (int row : selected)
        list->selection.select(list->model.index(row), QItemSelectionModel::Select);
    return list;
}

// A length read from a disk that answers only once the test lets it.
class HeldWaveLength final : public WaveLength
{
public:
    std::optional<qint64> lengthMs(const QString &) const override
    {
        onWindowThread = QThread::currentThread() == qApp->thread();
        ++asked;
        gate.acquire();
        return 2000;
    }
    mutable QSemaphore gate;
    mutable std::atomic<int> asked = 0;
    mutable std::atomic<bool> onWindowThread = false;
};

} // namespace

class TestChainPlayer : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void chainSeconds_data();
    void chainSeconds();
    void playsSelectedEntriesInIndexOrderEachToItsEnd();
    void nextSkipsAtOnceAndTheLastEndsTheChain();
    void requestsHaveTheirPrecedence();
    void addInAFileListChainAddsOnceAndSkips();
    void addIsIgnoredInAPlayListChain();
    void aFileThatCannotBePlayedEndsTheChain_data();
    void aFileThatCannotBePlayedEndsTheChain();
    void barFillsInTenthsAndIsFullAtTheEnd();
    void longFilesKeepACorrectBar();
    void aStalledLengthNeverHoldsTheWindow();

private:
    std::unique_ptr<FakeServices> m_fakes;
    std::unique_ptr<ChainPlayer> m_player;
    std::unique_ptr<RecordingView> m_view;
};

void TestChainPlayer::init()
{
    m_fakes = std::make_unique<FakeServices>();
    m_fakes->clock.now = 1000.0;
    m_player = std::make_unique<ChainPlayer>(m_fakes->sound, m_fakes->waveLength, m_fakes->clock);
    m_view = std::make_unique<RecordingView>(m_fakes->clock, *m_player);
}

void TestChainPlayer::chainSeconds_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<qint64>("seconds");
    QTest::newRow("2.4 s") << qint64(2400) << qint64(2);
    QTest::newRow("2.6 s") << qint64(2600) << qint64(3);
    QTest::newRow("0.4 s") << qint64(400) << qint64(1);
    QTest::newRow("0.5 s") << qint64(500) << qint64(1);
    QTest::newRow("2.5 s, half to even") << qint64(2500) << qint64(2);
    QTest::newRow("3.5 s, half to even") << qint64(3500) << qint64(4);
    QTest::newRow("two hours") << qint64(7200000) << qint64(7200);
    // 4.1 GB of 8-bit mono at 1 Hz: far past what an int holds.
    QTest::newRow("4.1 GB at 1 Hz") << qint64(4'100'000'000'000) << qint64(4'100'000'000);
}

void TestChainPlayer::chainSeconds()
{
    QFETCH(qint64, ms);
    QFETCH(qint64, seconds);
    QCOMPARE(ChainPlayer::chainSecondsFor(ms), seconds);
    QCOMPARE(ChainPlayer::chainSecondsFor(std::nullopt), qint64(1)); // unreadable: still plays
    // The bar of the longest file still counts whole tenths, and a file under a tenth has one.
    QVERIFY(ChainPlayer::barTenthsFor(ms) >= 1);
    QCOMPARE(ChainPlayer::barTenthsFor(ms), (ms + 99) / 100);
}

void TestChainPlayer::playsSelectedEntriesInIndexOrderEachToItsEnd()
{
    // b.wav lasts 2.45 s and the output reports it drained 100 ms later; d.wav is under a
    // tenth; f.wav never reports and ends a second after its length by the clock.
    m_fakes->waveLength.lengths = {{"/w/b.wav", 2450}, {"/w/d.wav", 50}, {"/w/f.wav", 950}};
    m_fakes->sound.drainSeconds = {{"/w/b.wav", 2.55}, {"/w/d.wav", 0.15}};
    QList<int> passesOf(3, 0);
    m_view->onPass = [&](ChainPlayer &, int entry, int pass) { passesOf[entry] = pass; };
    const auto outcome = m_player->run(
        listOf({"a.wav", "b.wav", "c.wav", "d.wav", "e.wav", "f.wav"}, {5, 3, 1})->source, *m_view,
        [](const ChainEntry &) {});
    QCOMPARE(outcome, ChainPlayer::Outcome::Finished);
    QCOMPARE(m_fakes->sound.played, QStringList({"/w/b.wav", "/w/d.wav", "/w/f.wav"}));
    QCOMPARE(m_view->names, QStringList({"B.WAV", "D.WAV", "F.WAV"}));
    QVERIFY(m_view->addEnabled);
    // A tenth a pass: nothing is cut at the rounded second (b.wav would end after 20).
    QCOMPARE(passesOf, QList<int>({26, 2, 20}));
    // Each entry ends with the whole bar, the short one too.
    const QList<int> clears = {static_cast<int>(m_view->fills.indexOf(-1)),
                               static_cast<int>(m_view->fills.indexOf(-1, 1)),
                               static_cast<int>(m_view->fills.lastIndexOf(-1))};
    QCOMPARE(m_view->fills.at(clears[1] - 1), 200.0);
    QCOMPARE(m_view->fills.at(clears[2] - 1), 200.0);
    QCOMPARE(m_view->fills.last(), 200.0);
    // The bar grows in tenths of the real length: halfway through b.wav, half the bar.
    QCOMPARE(m_view->fills.at(clears[0] + 13), 200.0 * 12 / 25);
}

void TestChainPlayer::nextSkipsAtOnceAndTheLastEndsTheChain()
{
    m_fakes->waveLength.fallback = 60000;
    m_view->onPass = [](ChainPlayer &player, int, int pass) {
        if (pass == 2)
            player.NextRequest = true;
    };
    const auto outcome =
        m_player->run(listOf({"a.wav", "b.wav", "c.wav"}, {0, 1, 2})->source, *m_view, {});
    QCOMPARE(outcome, ChainPlayer::Outcome::Finished);
    QCOMPARE(m_fakes->sound.played.size(), 3);
    QCOMPARE(m_view->passes, 6);
    QVERIFY(!m_view->addEnabled);
}

void TestChainPlayer::requestsHaveTheirPrecedence()
{
    m_fakes->waveLength.fallback = 60000;
    int added = 0;
    const auto countAdds = [&](const ChainEntry &) { ++added; };
    // Abort wins over next: the chain closes on the first entry.
    m_view->onPass = [](ChainPlayer &player, int, int) {
        player.NextRequest = true;
        player.AbortRequest = true;
    };
    QCOMPARE(m_player->run(listOf({"a.wav", "b.wav"}, {0, 1})->source, *m_view, countAdds),
             ChainPlayer::Outcome::Aborted);
    QCOMPARE(m_fakes->sound.played.size(), 1);
    // Next wins over add: no add is made, the chain goes on.
    m_fakes->sound.played.clear();
    m_view->onPass = [](ChainPlayer &player, int, int) {
        player.AddRequest = true;
        player.NextRequest = true;
    };
    QCOMPARE(m_player->run(listOf({"a.wav", "b.wav"}, {0, 1})->source, *m_view, countAdds),
             ChainPlayer::Outcome::Finished);
    QCOMPARE(m_fakes->sound.played.size(), 2);
    QCOMPARE(added, 0);
}

void TestChainPlayer::addInAFileListChainAddsOnceAndSkips()
{
    m_fakes->waveLength.fallback = 60000;
    PlayListModel list(nullptr);
    list.AddEntry("b.wav", "/w/b.wav"); // already listed
    m_view->onPass = [](ChainPlayer &player, int, int pass) {
        if (pass == 1)
            player.AddRequest = true;
    };
    const auto outcome =
        m_player->run(listOf({"a.wav", "b.wav", "c.wav"}, {0, 1, 2})->source, *m_view,
                      [&](const ChainEntry &e) { list.AddEntry(e.name, e.path); });
    QCOMPARE(outcome, ChainPlayer::Outcome::Finished);
    QCOMPARE(m_view->passes, 3); // each entry skipped after its add
    QCOMPARE(list.names(), QStringList({"b.wav", "a.wav", "c.wav"}));
    QCOMPARE(list.paths(), QStringList({"/w/b.wav", "/w/a.wav", "/w/c.wav"}));
}

void TestChainPlayer::addIsIgnoredInAPlayListChain()
{
    // Without an adder, the play list's chain: a request to add ends no entry early.
    m_fakes->waveLength.fallback = 1000;
    m_view->onPass = [](ChainPlayer &player, int, int) { player.AddRequest = true; };
    QCOMPARE(m_player->run(listOf({"a.wav", "b.wav"}, {0, 1})->source, *m_view, {}),
             ChainPlayer::Outcome::Finished);
    QVERIFY(!m_view->addEnabled);
    QVERIFY(m_view->passes >= 19); // both played out their second
}

void TestChainPlayer::aFileThatCannotBePlayedEndsTheChain_data()
{
    QTest::addColumn<bool>("later");
    QTest::newRow("refused at once") << false;
    // The output opens the file on a worker and says so while the chain already waits.
    QTest::newRow("refused by the worker") << true;
}

void TestChainPlayer::aFileThatCannotBePlayedEndsTheChain()
{
    QFETCH(bool, later);
    (later ? m_fakes->sound.refusedLater : m_fakes->sound.unplayable).insert("/w/b.wav");
    m_view->onPass = [this](ChainPlayer &, int, int pass) {
        if (pass == 3)
            m_fakes->sound.answer();
    };
    const auto outcome =
        m_player->run(listOf({"a.wav", "b.wav", "c.wav"}, {0, 1, 2})->source, *m_view, {});
    QCOMPARE(outcome, ChainPlayer::Outcome::Failed);
    QCOMPARE(m_view->failures, 1);
    QCOMPARE(m_fakes->sound.attempts, QStringList({"/w/a.wav", "/w/b.wav"}));
}

void TestChainPlayer::barFillsInTenthsAndIsFullAtTheEnd()
{
    // Counted from the start itself, not a rounded second: no tenths are lost at either end.
    m_fakes->clock.now = 1000.6;
    m_fakes->waveLength.fallback = 2000;
    m_player->run(listOf({"a.wav"}, {0})->source, *m_view, {});
    QCOMPARE(m_view->fills.at(0), -1.0);
    QCOMPARE(m_view->fills.at(1), 0.0);
    // One tenth of two seconds is 200 / 20 = 10 pixels of bar.
    QCOMPARE(m_view->fills.at(2), 10.0);
    QCOMPARE(m_view->fills.at(3), 20.0);
    QCOMPARE(m_view->fills.last(), 200.0);
    QCOMPARE(ChainPlayer::elapsedTenths(1003.0, 1000.6, 20), qint64(20)); // never past full
    QCOMPARE(ChainPlayer::elapsedTenths(1000.5, 1000.6, 20), qint64(0));
}

void TestChainPlayer::longFilesKeepACorrectBar()
{
    // Two hours are 72,000 tenths: more than a 16-bit count holds, still exact.
    QCOMPARE(ChainPlayer::elapsedTenths(1000 + 3600.0, 1000, 72000), qint64(36000));
    m_fakes->waveLength.fallback = 7200000;
    m_view->tick = 600; // ten minutes a pass
    m_player->run(listOf({"long.wav"}, {0})->source, *m_view, {});
    QCOMPARE(m_player->ChainSeconds, 7200.0);
    QCOMPARE(m_view->fills.at(7), 200.0 * 6 / 12); // after an hour, half the bar
}

void TestChainPlayer::aStalledLengthNeverHoldsTheWindow()
{
    HeldWaveLength disk;
    ChainPlayer player(m_fakes->sound, disk, m_fakes->clock);
    RecordingView view(m_fakes->clock, player);
    const auto list = listOf({"a.wav", "b.wav"}, {0, 1});

    // Ended while the first length is still being read: nothing plays, and the window went
    // on with its passes meanwhile.
    int passes = 0;
    view.onPass = [&passes](ChainPlayer &p, int, int) {
        if (++passes == 3)
            p.AbortRequest = true;
    };
    QCOMPARE(player.run(list->source, view, {}), ChainPlayer::Outcome::Aborted);
    QCOMPARE(passes, 3);
    QVERIFY(m_fakes->sound.played.isEmpty());
    QVERIFY(view.names.isEmpty());
    disk.gate.release();
    QTRY_COMPARE(disk.asked.load(), 1);
    QVERIFY(!disk.onWindowThread);

    // Let go after a few passes: each entry plays with the length read.
    passes = 0;
    view.onPass = [&passes, &disk](ChainPlayer &, int, int) {
        if (++passes % 5 == 0)
            disk.gate.release();
    };
    QCOMPARE(player.run(list->source, view, {}), ChainPlayer::Outcome::Finished);
    QCOMPARE(m_fakes->sound.played, QStringList({"/w/a.wav", "/w/b.wav"}));
    QCOMPARE(player.ChainSeconds, 2.0);
    QVERIFY(!disk.onWindowThread);
}

QTEST_GUILESS_MAIN(TestChainPlayer)
#include "tst_chainplayer.moc"
