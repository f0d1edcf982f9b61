#include "FormFixture.h"
#include "ModalAnswerer.h"
#include "WaveWriter.h"
#include "app/Mpris.h"
#include "audition/AuditionBand.h"
#include "files/FileFacts.h"
#include "files/PeakCache.h"
#include "files/WaveToolTip.h"
#include "platform/NativeName.h"
#include "platform/PathRule.h"
#include "playback/NowPlaying.h"
#include "playlist/PlayListModel.h"
#include "ui/Form5.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QSlider>
#include <QSortFilterProxyModel>
#include <QTest>
#include <QThread>
#include <atomic>
#include <cstdio>
#include <sndfile.h>

namespace {
constexpr int rate = 48000;
constexpr qint64 takeFrames = rate * 4;
const QList<qint64> cueFrames = {48000, 144000};

// A take of six channels, each at its own level, with two markers.
bool writeTake(const QString &path)
{
    return writeChannels(
        path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, 6, takeFrames,
        [](qint64 frame, int channel) {
            return float(0.1 * (channel + 1) * std::sin(double(frame) * 0.05));
        },
        [](SNDFILE *file) {
            auto cues = std::make_unique<SF_CUES>();
            cues->cue_count = uint32_t(cueFrames.size());
            for (int i = 0; i < cueFrames.size(); ++i) {
                cues->cue_points[i].indx = i + 1;
                cues->cue_points[i].sample_offset = uint32_t(cueFrames[i]);
                cues->cue_points[i].fcc_chunk = 0x61746164; // "data"
            }
            sf_command(file, SFC_SET_CUE, cues.get(), sizeof(SF_CUES));
        });
}

void press(QWidget *target, int key, Qt::KeyboardModifiers modifiers = {}, bool repeat = false)
{
    QKeyEvent event(QEvent::KeyPress, key, modifiers, QString(), repeat);
    QApplication::sendEvent(target, &event);
}

void release(QWidget *target, int key, bool repeat = false)
{
    QKeyEvent event(QEvent::KeyRelease, key, Qt::NoModifier, QString(), repeat);
    QApplication::sendEvent(target, &event);
}

} // namespace

class TestAudition : public QObject, protected FormFixture
{
    Q_OBJECT
private slots:
    void lanesFollowTheChannels_data();
    void lanesFollowTheChannels();
    void narrowedKeepsEachColumnsPeak();
    void theBandPlaysWhatThePointerChose();
    void theWaveformSwitchAddsTheBandBelowTheDesignedWindow();
    void autoPreviewFollowsPlainMoves();
    void matchLoudnessBringsSinglePlaysToOneLevel_data();
    void matchLoudnessBringsSinglePlaysToOneLevel();
};

void TestAudition::lanesFollowTheChannels_data()
{
    QTest::addColumn<int>("channels");
    QTest::addColumn<QStringList>("labels");
    QTest::newRow("mono") << 1 << QStringList({"1"});
    QTest::newRow("6 channels") << 6 << QStringList({"1", "2", "3", "4", "5", "6"});
    QTest::newRow("8 channels") << 8 << QStringList({"1", "2", "3", "4", "5", "6", "7", "8"});
    QTest::newRow("9: pairs, the last alone")
        << 9 << QStringList({"1-2", "3-4", "5-6", "7-8", "9"});
    QTest::newRow("10: pairs") << 10 << QStringList({"1-2", "3-4", "5-6", "7-8", "9-10"});
}

void TestAudition::lanesFollowTheChannels()
{
    QFETCH(int, channels);
    QFETCH(QStringList, labels);
    QStringList got;
    QList<int> shown;
    for (const WaveLane &lane : lanesFor(channels)) {
        got.append(lane.label);
        shown += lane.channels;
    }
    QCOMPARE(got, labels);
    QCOMPARE(shown.size(), channels); // every channel in exactly one lane
}

void TestAudition::narrowedKeepsEachColumnsPeak()
{
    WavePeaks wide;
    wide.channels = 1;
    wide.columns = 1024;
    wide.values.fill(0.1f, 1024);
    wide.values[1023] = 0.9f; // a click in the very last column
    wide.values[5] = 0.7f;
    const WavePeaks narrow = narrowed(wide, 300);
    QCOMPARE(narrow.columns, 300);
    QCOMPARE(narrow.at(299, 0), 0.9f);
    QCOMPARE(narrow.at(1, 0), 0.7f);
    QCOMPARE(narrow.at(100, 0), 0.1f);
    QCOMPARE(PeakCache::columnsFor(1), 512);
    QCOMPARE(PeakCache::columnsFor(513), 1024);
}

void TestAudition::theBandPlaysWhatThePointerChose()
{
    QTemporaryDir dir;
    const QString take = dir.filePath("take.wav");
    QVERIFY(writeTake(take));
    FakeSoundOutput output;
    NowPlaying now(output);
    FileFacts facts(nullptr);
    AuditionBand band(facts, now, nullptr);
    band.resize(600, AuditionBand::bandHeight - AuditionBand::margin);
    band.show();
    QVERIFY(QTest::qWaitForWindowExposed(&band));
    QList<PlayRequest> asked;
    connect(&band, &AuditionBand::playRequested, this,
            [&](const PlayRequest &request) { asked.append(request); });
    int menus = 0;
    connect(&band, &AuditionBand::menuWanted, this, [&] { ++menus; });

    QSignalSpy measured(&band, &AuditionBand::loudnessChanged);
    band.showFile(take);
    WaveStrip *strip = band.strip();
    QTRY_COMPARE(strip->lanes().size(), 6);
    // A file of no list: its measurement is known by its path.
    QTRY_VERIFY_WITH_TIMEOUT(band.findChild<QLabel *>("BandLoudness")->text().contains("LUFS"),
                             10000);
    QCOMPARE(measured.size(), 1);
    const QRect area = strip->waveArea();

    // The markers are drawn where their frames are, and the lanes once the peaks are in.
    for (qint64 cue : cueFrames) {
        const int x = strip->xOf(cue);
        QCOMPARE(x, area.left() + int(double(cue) * area.width() / takeFrames));
        QTRY_COMPARE(strip->grab().toImage().pixelColor(x, strip->height() / 2),
                     QColor(170, 60, 0));
    }
    const int laneMiddle = strip->height() / 12;
    QTRY_COMPARE(strip->grab().toImage().pixelColor(area.left() + 10, laneMiddle), laneColour(0));

    // A click plays from the frame under it, the whole file's channels.
    const int x = area.left() + area.width() / 3;
    QTest::mouseClick(strip, Qt::LeftButton, {}, {x, 30});
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked[0].path, take);
    QVERIFY(std::abs(asked[0].startFrame - takeFrames / 3) <= takeFrames / area.width() + 1);
    QCOMPARE(asked[0].endFrame, -1);
    QVERIFY(asked[0].channels.isEmpty());

    // Next to a marker: from the marker itself.
    QTest::mouseClick(strip, Qt::LeftButton, {}, {strip->xOf(cueFrames[1]) + 2, 30});
    QCOMPARE(asked.last().startFrame, cueFrames[1]);

    // A drag plays the region, repeating with the loop box on.
    band.findChild<QCheckBox *>("Loop")->setChecked(true);
    const int from = area.left() + 50, to = area.left() + 250;
    QTest::mousePress(strip, Qt::LeftButton, {}, {to, 30});
    QTest::mouseMove(strip, {to - 100, 30});
    QTest::mouseMove(strip, {from, 30});
    QTest::mouseRelease(strip, Qt::LeftButton, {}, {from, 30});
    QCOMPARE(asked.size(), 3);
    QCOMPARE(asked[2].startFrame, strip->frameAt(from));
    QCOMPARE(asked[2].endFrame, strip->frameAt(to));
    QVERIFY(asked[2].loop);
    QCOMPARE(asked[2].loopFrom, asked[2].startFrame);

    // A lane's label: that channel alone, in the region still; again, all channels.
    const int laneHeight = strip->height() / 6;
    QTest::mouseClick(strip, Qt::LeftButton, {}, {5, laneHeight * 2 + laneHeight / 2});
    QCOMPARE(asked.size(), 4);
    QCOMPARE(asked[3].channels, QList<int>({2}));
    QCOMPARE(asked[3].endFrame, strip->frameAt(to));
    QTest::mouseClick(strip, Qt::LeftButton, {}, {5, laneHeight * 2 + laneHeight / 2});
    QVERIFY(asked[4].channels.isEmpty());

    // The right button asks for the menu and plays nothing.
    QTest::mouseClick(strip, Qt::RightButton, {}, {x, 30});
    QCOMPARE(menus, 1);
    QCOMPARE(asked.size(), 5);

    // The controls a screen reader names.
    QCOMPARE(band.findChild<QSlider *>("Level")->accessibleName(), QString("Level"));
    QCOMPARE(band.findChild<QSlider *>("Level")->minimum(), -40);
    QCOMPARE(band.findChild<QSlider *>("Level")->maximum(), 6);
    QCOMPARE(band.levelDb(), 0.0);
    QCOMPARE(band.findChild<QCheckBox *>("Loop")->accessibleName(), QString("Loop"));

    // A file that cannot be read shows no lanes, and a click there plays nothing.
    const QString broken = dir.filePath("broken.wav");
    QVERIFY(writeBytes(broken, "RIFF0000WAVEjunk"));
    band.showFile(broken);
    QTRY_VERIFY(facts.known(broken).has_value());
    QVERIFY(strip->lanes().isEmpty());
    QTest::mouseClick(strip, Qt::LeftButton, {}, {x, 30});
    QCOMPARE(asked.size(), 5);

    // The take's name, as the lists show it: a byte that is not UTF-8 as the replacement
    // character.
    auto *name = band.findChild<QLabel *>("BandName");
    QCOMPARE(name->text(), QString("broken.wav"));
    const QString latin = dir.filePath(pathFromNative("caf\xe9 take.wav"));
    QVERIFY(::rename(QFile::encodeName(take).constData(), nativePath(latin).constData()) == 0);
    band.showFile(latin);
    QCOMPARE(name->text(), QString::fromUtf8("caf\xef\xbf\xbd take.wav"));
    QTRY_COMPARE(strip->lanes().size(), 6);
    QCOMPARE(name->text(), shownName(fileNameOf(latin)));
}

void TestAudition::theWaveformSwitchAddsTheBandBelowTheDesignedWindow()
{
    makeFolder({"a.wav"});
    Form1 &form = makeForm();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QSize before = form.size();
    const OuterGeometry stored = form.outerGeometry();
    const QList<QWidget *> designed = {File1(form),  List1(form),    Dir1(form),
                                       Drive1(form), Command1(form), Frame1(form)};
    QList<QRect> places;
    for (QWidget *control : designed)
        places.append(control->geometry());
    auto *band = form.findChild<AuditionBand *>("AuditionBand");
    QVERIFY(band && !band->isVisible());

    ModalAnswerer answerer;
    answerer.onMenu = choose("&Waveform");
    const QPoint background(form.width() - 3, File1(form)->y() + 3);
    QTest::mouseClick(&form, Qt::RightButton, {}, background);
    QVERIFY(form.state.waveform);
    QCOMPARE(form.size(), before + QSize(0, AuditionBand::bandHeight));
    QVERIFY(band->isVisible());
    QCOMPARE(band->geometry(),
             QRect(8, before.height(), before.width() - 16, AuditionBand::bandHeight - 8));
    for (int i = 0; i < designed.size(); ++i)
        QCOMPARE(designed[i]->geometry(), places[i]);
    // What would be stored is the designed window's geometry.
    QCOMPARE(form.outerGeometry().height, stored.height);
    QCOMPARE(form.minimumHeight(),
             windowFrame::minimumClient().height() + AuditionBand::bandHeight);

    // The band's right click opens the same common menu, where the switch goes off again.
    answerer.onMenu = choose("&Waveform");
    QTest::mouseClick(band->strip(), Qt::RightButton, {}, {40, 20});
    QVERIFY(!form.state.waveform);
    QCOMPARE(form.size(), before);
    QVERIFY(!band->isVisible());
    for (int i = 0; i < designed.size(); ++i)
        QCOMPARE(designed[i]->geometry(), places[i]);
}

void TestAudition::autoPreviewFollowsPlainMoves()
{
    makeFolder({"a.wav", "b.wav", "c.wav", "d.wav", "e.wav", "f.wav"});
    Form1 &form = makeForm();
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    FileList *list = File1(form);
    list->setFocus();
    QTRY_COMPARE(list->listCount(), 6);
    list->setCurrentIndex(list->model()->index(0, 0));
    FakeSoundOutput &sound = m_fakes->sound;
    const auto path = [this](const char *name) { return m_dir->filePath(name); };

    // Off: an arrow moves and nothing sounds.
    QTest::keyClick(list, Qt::Key_Down);
    QVERIFY(sound.attempts.isEmpty());

    ModalAnswerer answerer;
    form.toggleAutoPreview();
    QVERIFY(form.state.autoPreview);
    list->setCurrentIndex(list->model()->index(0, 0));
    QVERIFY(sound.attempts.isEmpty()); // a move the program made

    // Three presses, three sounds, each from its start.
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(sound.played, QStringList({path("b.wav"), path("c.wav"), path("d.wav")}));
    QCOMPARE(sound.requests.last().startFrame, 0);

    // Extending the selection previews nothing.
    QTest::keyClick(list, Qt::Key_Up, Qt::ShiftModifier);
    QTest::keyClick(list, Qt::Key_Up, Qt::ControlModifier);
    QCOMPARE(sound.played.size(), 3);

    // Held down: the first press sounds, the repeats end it and start nothing, and the
    // entry reached sounds once the key is let go.
    list->setCurrentIndex(list->model()->index(0, 0));
    press(list, Qt::Key_Down);
    QCOMPARE(sound.played.size(), 4);
    const int stops = sound.stops;
    for (int i = 0; i < 3; ++i) {
        release(list, Qt::Key_Down, true);
        press(list, Qt::Key_Down, {}, true);
    }
    QCOMPARE(sound.played.size(), 4);
    QVERIFY(sound.stops > stops);
    QCOMPARE(list->currentIndex().row(), 4);
    release(list, Qt::Key_Down);
    QCOMPARE(sound.played.last(), path("e.wav"));
    QCOMPARE(sound.played.size(), 5);

    // A plain click previews; the right button neither starts nor stops a sound.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(1, 0)).center());
    QCOMPARE(sound.played.last(), path("b.wav"));
    const int stopsBefore = sound.stops;
    const qsizetype attemptsBefore = sound.attempts.size();
    QTest::mouseClick(list->viewport(), Qt::RightButton, {},
                      list->visualRect(list->model()->index(3, 0)).center());
    QTRY_COMPARE(answerer.menusSeen, 1);
    QCOMPARE(sound.stops, stopsBefore);
    QCOMPARE(sound.attempts.size(), attemptsBefore);

    // An entry that cannot be played is passed over without a box.
    sound.unplayable.insert(path("f.wav"));
    list->setCurrentIndex(list->model()->index(4, 0));
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(sound.attempts.last(), path("f.wav"));
    QTest::qWait(50); // a box would have opened by now
    QVERIFY(answerer.seen.isEmpty());
    QVERIFY(!sound.sounding);
    // So is one the output's worker finds it cannot play, when it answers.
    sound.refusedLater.insert(path("e.wav"));
    QTest::keyClick(list, Qt::Key_Up);
    QCOMPARE(sound.played.last(), path("e.wav"));
    sound.answer();
    QTRY_VERIFY(form.mediaControl({}).now->path().isEmpty());
    QTest::qWait(50);
    QVERIFY(answerer.seen.isEmpty());

    // The play list previews too.
    form.playList().AddEntry("a.wav", path("a.wav"));
    form.playList().AddEntry("c.wav", path("c.wav"));
    List1(form)->setFocus();
    List1(form)->setCurrentIndex(form.playList().index(0));
    QTest::keyClick(List1(form), Qt::Key_Down);
    QCOMPARE(sound.played.last(), path("c.wav"));
}

void TestAudition::matchLoudnessBringsSinglePlaysToOneLevel_data()
{
    QTest::addColumn<bool>("inPlayList");
    QTest::addColumn<bool>("sortedByLoudness");
    QTest::newRow("the folder's order") << false << false;
    // The entries move as their figures come, and a view's rows are not the folder's.
    QTest::newRow("sorted by loudness") << false << true;
    QTest::newRow("the play list") << true << false;
}

void TestAudition::matchLoudnessBringsSinglePlaysToOneLevel()
{
    QFETCH(bool, inPlayList);
    QFETCH(bool, sortedByLoudness);
    makeFolder({});
    // A 1 kHz stereo sine at -33 dBFS measures -33 LUFS: +10 dB to -23. "later.wav", the
    // same, is measured only once the test lets it.
    for (const char *name : {"quiet.wav", "later.wav"})
        QVERIFY(writeChannels(m_dir->filePath(name), SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, 2,
                              rate * 3, [](qint64 frame, int) {
                                  return float(std::pow(10.0, -33.0 / 20) *
                                               std::sin(2 * M_PI * 1000 * double(frame) / rate));
                              }));
    const auto measureLater = std::make_shared<std::atomic<bool>>(false);
    m_fakes->measureLoudness = [measureLater](const QString &path,
                                              const std::function<bool()> &stop) {
        while (path.endsWith("later.wav") && !*measureLater)
            if (stop())
                return std::optional<Loudness>();
            else
                QThread::msleep(2);
        return measureLoudness(path, stop);
    };
    Form1 &form = makeForm();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.toggleWaveform();
    FileList *files = File1(form);
    if (sortedByLoudness) {
        auto *proxy = new QSortFilterProxyModel(files);
        proxy->setSortRole(WaveFolderModel::SortRole);
        proxy->sort(WaveFolderModel::LoudnessColumn);
        files->showThrough(proxy);
    }
    QAbstractItemView *list = files;
    std::function<QModelIndex(const QString &)> entryOf = [files](const QString &name) {
        return files->shownIndexOf(name);
    };
    if (inPlayList) {
        auto *playList = qobject_cast<PlayListModel *>(List1(form)->model());
        QVERIFY(playList);
        playList->addFiles({m_dir->filePath("later.wav"), m_dir->filePath("quiet.wav")});
        list = List1(form);
        entryOf = [this, playList](const QString &name) {
            return playList->index(int(playList->paths().indexOf(m_dir->filePath(name))));
        };
    }
    QTRY_COMPARE(list->model()->rowCount(), 2);
    list->setFocus();
    list->setCurrentIndex(entryOf("quiet.wav"));
    auto *band = form.findChild<AuditionBand *>("AuditionBand");
    auto *line = band->findChild<QLabel *>("BandLoudness");
    QTRY_VERIFY_WITH_TIMEOUT(line->text().startsWith(QString("\u221233.0 LUFS")), 10000);

    // Off: the level alone.
    QList<PlayRequest> &requests = m_fakes->sound.requests;
    QTest::keyClick(list, Qt::Key_Space);
    QCOMPARE(requests.last().gainDb, 0.0);
    QTest::keyClick(list, Qt::Key_Space);
    band->findChild<QCheckBox *>("MatchLoudness")->setChecked(true);
    band->findChild<QSlider *>("Level")->setValue(-6);
    QTest::keyClick(list, Qt::Key_Space);
    QVERIFY2(std::abs(requests.last().gainDb - 4.0) < 0.1,
             qPrintable(QString::number(requests.last().gainDb)));
    QTest::keyClick(list, Qt::Key_Space);

    // Not measured yet: it starts at the level alone, and goes on at its loudness once
    // measured; the band says it too.
    const QModelIndex later = entryOf("later.wav");
    // Sorted, the measured take goes first: the one not measured is below it, first in the
    // folder.
    QCOMPARE(later.row(), sortedByLoudness ? 1 : 0);
    list->setCurrentIndex(later);
    QTRY_COMPARE(line->text(), QString("measuring\u2026"));
    QTest::keyClick(list, Qt::Key_Space);
    QCOMPARE(requests.last().path, m_dir->filePath("later.wav"));
    QCOMPARE(requests.last().gainDb, -6.0);
    const qsizetype before = requests.size();
    *measureLater = true;
    QTRY_VERIFY_WITH_TIMEOUT(requests.size() > before, 10000);
    QCOMPARE(requests.last().path, m_dir->filePath("later.wav"));
    QVERIFY2(std::abs(requests.last().gainDb - 4.0) < 0.1,
             qPrintable(QString::number(requests.last().gainDb)));
    QVERIFY2(line->text().startsWith(QString("\u221233.0 LUFS")), qPrintable(line->text()));
}

QTEST_MAIN(TestAudition)
#include "tst_audition.moc"
