#include "FormFixture.h"
#include "ModalAnswerer.h"
#include "TestFiles.h"
#include "app/Form1.h"
#include "app/Mpris.h"
#include "audition/AuditionBand.h"
#include "browser/FileList.h"
#include "playback/ChainPlayer.h"
#include "playback/Form2.h"
#include "playback/NowPlaying.h"
#include "playlist/PlayListModel.h"

#include <QAccessible>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class TestPlayback : public QObject, protected FormFixture
{
    Q_OBJECT
private slots:
    void init();
    void chainWindowControlsAtTheirPlaces();
    void longNamesAreCut();
    void oneSelectedFilePlaysAtOnce();
    void aFileThatCannotBePlayedIsReported_data();
    void aFileThatCannotBePlayedIsReported();
    void theFocusComesBackFromTheBox_data();
    void theFocusComesBackFromTheBox();
    void playListEntriesPlayTheirStoredPath();
    void twoSelectedOpenTheChainWindow();
    void closingTheChainWindowByItsFrameAborts();
    void folderChangesWaitUntilTheChainIsOver();
    void enterPressesTheFocusedChainButton();
    void menuPlayPausesFirst();

private:
};

void TestPlayback::init()
{
    makeFolder({"a.wav", "b.wav", "c.wav"});
    m_fakes->waveLength.fallback = 60000;
    makeForm();
}

void TestPlayback::chainWindowControlsAtTheirPlaces()
{
    ChainPlayer player(m_fakes->sound, m_fakes->waveLength, m_fakes->clock);
    Form2 chain(player, {}, {}, nullptr);
    QVERIFY(chain.windowTitle().isEmpty());
    QCOMPARE(chain.size(), QSize(233, 153));
    QCOMPARE(chain.Label5->geometry(), QRect(8, 8, 217, 17));
    QCOMPARE(chain.Picture1->geometry(), QRect(8, 24, 217, 25));
    QCOMPARE(chain.Command8->text(), QString("A&bort chain playing"));
    QCOMPARE(chain.Command8->geometry(), QRect(8, 56, 217, 25));
    QCOMPARE(chain.Command10->text(), QString("&Add to list"));
    QCOMPARE(chain.Command10->geometry(), QRect(8, 88, 217, 25));
    QCOMPARE(chain.Command11->text(), QString("&Next wav"));
    QCOMPARE(chain.Command11->geometry(), QRect(8, 120, 217, 25));
    QCOMPARE(chain.Command11->nextInFocusChain(), static_cast<QWidget *>(chain.Command10));
    QCOMPARE(chain.Command10->nextInFocusChain(), static_cast<QWidget *>(chain.Command8));
    QCOMPARE(chain.Picture1->accessibleName(), QString("Progress"));
    chain.fillBar(chain.barWidth() / 4);
    QCOMPARE(chain.Picture1->accessibleDescription(), QString("25 %"));
    const QRect screen = chain.screen()->geometry();
    QVERIFY(qAbs(chain.x() - (screen.width() - chain.frameGeometry().width()) / 2.0) <= 0.5);
}

void TestPlayback::longNamesAreCut()
{
    const QFontMetrics metrics(QApplication::font());
    QCOMPARE(Form2::nameToShow("DING.WAV", metrics, 217), QString("DING.WAV"));
    // 217 pixels are 3255 twips: a name wider than the label keeps its first 407 characters,
    // with nothing added; the label shows of them what fits.
    QCOMPARE(Form2::cutLength(217), 407);
    const QString longName = QString("X").repeated(600) + ".WAV";
    QCOMPARE(Form2::nameToShow(longName, metrics, 217), longName.left(407));
    // Wider than the label but shorter than the cut: shown whole.
    const QString wide = QString("W").repeated(60) + ".WAV";
    QVERIFY(metrics.horizontalAdvance(wide) > 217);
    QCOMPARE(Form2::nameToShow(wide, metrics, 217), wide);
}

void TestPlayback::oneSelectedFilePlaysAtOnce()
{
    Form1 &form = *m_form;
    form.Command1_Click(); // nothing selected: nothing at all
    QVERIFY(m_fakes->sound.attempts.isEmpty());
    selectRows(File1(form), {1});
    Command1(form)->click();
    QCOMPARE(m_fakes->sound.played, QStringList({m_dir->filePath("b.wav")}));
    QVERIFY(!form.findChild<Form2 *>()); // no chain window for one file
    // A double click plays the selection just as the button does.
    form.File1_DblClick();
    QCOMPARE(m_fakes->sound.played.size(), 2);
}

void TestPlayback::aFileThatCannotBePlayedIsReported_data()
{
    QTest::addColumn<bool>("later");
    QTest::newRow("refused at once") << false;
    // Opened on a worker: the box comes when it answers.
    QTest::newRow("refused by the worker") << true;
}

void TestPlayback::aFileThatCannotBePlayedIsReported()
{
    QFETCH(bool, later);
    Form1 &form = *m_form;
    FakeSoundOutput &sound = m_fakes->sound;
    (later ? sound.refusedLater : sound.unplayable).insert(m_dir->filePath("a.wav"));
    selectRows(File1(form), {0});
    ModalAnswerer answerer;
    form.Command1_Click();
    if (later) {
        QVERIFY(answerer.seen.isEmpty());
        QCOMPARE(form.mediaControl({}).now->path(), m_dir->filePath("a.wav"));
        // An answer told late, once another file was started, is that file's: no box.
        selectRows(File1(form), {1});
        form.Command1_Click();
        sound.answer();
        QTest::qWait(50); // a box would have opened by now
        QVERIFY(answerer.seen.isEmpty());
        selectRows(File1(form), {0});
        form.Command1_Click();
        sound.answer();
        QTRY_COMPARE(answerer.seen.size(), 1);
        QVERIFY(form.mediaControl({}).now->path().isEmpty());
    }
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].text, QString("Sound file cannot be played !!!"));
    QCOMPARE(answerer.seen[0].title, QString("Error"));
    QCOMPARE(answerer.seen[0].icon, QMessageBox::Critical);
    QCOMPARE(selectedRowsIn(File1(form)), QList<int>({0}));

    // A click on the band, on a file its worker finds it cannot play: the same box.
    auto *band = form.findChild<AuditionBand *>("AuditionBand");
    QVERIFY(band);
    PlayRequest part = PlayRequest::whole(m_dir->filePath("a.wav"));
    part.startFrame = 100;
    emit band->playRequested(part);
    if (later)
        sound.answer();
    QTRY_COMPARE(answerer.seen.size(), 2);
    QCOMPARE(answerer.seen[1].text, QString("Sound file cannot be played !!!"));
}

void TestPlayback::theFocusComesBackFromTheBox_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<bool>("later");
    QTest::addColumn<QString>("focusAfter");
    QTest::newRow("Enter on the play list, refused at once") << "List1" << false << "List1";
    // The box comes from the worker's answer, after the key's handler has returned.
    QTest::newRow("Enter on the play list, refused by the worker") << "List1" << true << "List1";
    QTest::newRow("Enter on the file list, refused by the worker") << "File1" << true << "File1";
    // The band takes no focus from a click: the list the user was in keeps it.
    QTest::newRow("band, refused by the worker") << "band" << true << "List1";
    // The chain window closes after its box: back from it, the file list has the focus.
    QTest::newRow("chain of the play list") << "chain" << false << "File1";
}

void TestPlayback::theFocusComesBackFromTheBox()
{
    QFETCH(QString, from);
    QFETCH(bool, later);
    QFETCH(QString, focusAfter);
    Form1 &form = *m_form;
    FakeSoundOutput &sound = m_fakes->sound;
    const QString gone = m_dir->filePath("b.wav");
    (later ? sound.refusedLater : sound.unplayable).insert(gone);
    form.playList().AddEntry("b.wav", gone);
    form.playList().AddEntry("a.wav", m_dir->filePath("a.wav"));
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QAbstractItemView *list = from == "File1" ? static_cast<QAbstractItemView *>(File1(form))
                                              : static_cast<QAbstractItemView *>(List1(form));
    list->setFocus(Qt::MouseFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(list));
    const QModelIndex entry = list->model()->index(from == "File1" ? 1 : 0, 0);
    list->selectionModel()->setCurrentIndex(entry, QItemSelectionModel::ClearAndSelect);
    if (from == "chain")
        list->selectionModel()->select(list->model()->index(1, 0), QItemSelectionModel::Select);

    ModalAnswerer answerer;
    answerer.onOther = [](QWidget *) {}; // the chain runs until its box
    if (from == "band") {
        auto *band = form.findChild<AuditionBand *>("AuditionBand");
        QVERIFY(band);
        emit band->playRequested(PlayRequest::whole(gone));
    } else {
        QTest::keyClick(list, Qt::Key_Return);
    }
    if (later)
        sound.answer();
    QTRY_COMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].text, QString("Sound file cannot be played !!!"));
    QTRY_VERIFY(!QApplication::activeModalWidget());
    // The window manager hands the window back its activation once the box has gone.
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QTRY_COMPARE(QApplication::focusWidget()->objectName(), focusAfter);
    // Keys go on to that list: Delete on the play list takes its entry off, and asks nothing.
    if (focusAfter == "List1") {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete);
        QCOMPARE(form.playList().names(), QStringList({"a.wav"}));
        QCOMPARE(answerer.seen.size(), 1);
    }
}

void TestPlayback::playListEntriesPlayTheirStoredPath()
{
    Form1 &form = *m_form;
    form.playList().AddEntry("shown.wav", "/elsewhere/real.wav");
    selectRows(List1(form), {0});
    form.List1_DblClick();
    QCOMPARE(m_fakes->sound.played, QStringList({"/elsewhere/real.wav"}));
}

void TestPlayback::twoSelectedOpenTheChainWindow()
{
    Form1 &form = *m_form;
    selectRows(File1(form), {2, 0});
    ModalAnswerer answerer;
    answerer.onOther = [&](QWidget *w) {
        auto *chain = qobject_cast<Form2 *>(w);
        QVERIFY(chain);
        QVERIFY(chain->Command10->isEnabled());
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(chain->Command11));
        chain->Command10->click(); // add a.wav, go on with c.wav
        QTimer::singleShot(50, chain, [chain] { chain->Command8->click(); });
    };
    form.Command1_Click();
    // Back once "A&bort chain playing" ended it: c.wav never drains here, so nothing else
    // ends the chain.
    QVERIFY(!form.findChild<Form2 *>());
    QCOMPARE(m_fakes->sound.played,
             QStringList({m_dir->filePath("a.wav"), m_dir->filePath("c.wav")}));
    QCOMPARE(form.playList().names(), QStringList({"a.wav"}));

    // From the play list: the add button is off.
    form.playList().AddEntry("c.wav", m_dir->filePath("c.wav"));
    selectRows(List1(form), {0, 1});
    bool addEnabled = true;
    answerer.onOther = [&](QWidget *w) {
        auto *chain = qobject_cast<Form2 *>(w);
        QTimer::singleShot(20, chain, [chain, &addEnabled] {
            addEnabled = chain->Command10->isEnabled();
            chain->Command8->click();
        });
    };
    form.ListPlay();
    QVERIFY(!addEnabled);
}

void TestPlayback::closingTheChainWindowByItsFrameAborts()
{
    Form1 &form = *m_form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    selectRows(File1(form), {0, 1, 2});
    ModalAnswerer answerer;
    answerer.onOther = [&](QWidget *w) { QTimer::singleShot(50, w, [w] { w->close(); }); };
    form.Command1_Click();
    QCOMPARE(m_fakes->sound.played.size(), 1);
    // Back in the main window, the focus returns to the file list.
    QCOMPARE(form.focusWidget(), static_cast<QWidget *>(File1(form)));
}

void TestPlayback::folderChangesWaitUntilTheChainIsOver()
{
    // Another program saves 0.wav while the chain plays a.wav: the rows would shift under
    // the chain, which would play a.wav again and never c.wav.
    Form1 &form = *m_form;
    selectRows(File1(form), {0, 2});
    ModalAnswerer answerer;
    answerer.onOther = [&](QWidget *w) {
        auto *chain = qobject_cast<Form2 *>(w);
        QFile file(m_dir->filePath("0.wav"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("RIFF0.wav");
        file.close();
        // Longer than the watch gathers changes for.
        QTimer::singleShot(900, chain, [chain] {
            chain->Command11->click();
            QTimer::singleShot(50, chain, [chain] { chain->Command8->click(); });
        });
    };
    form.Command1_Click();
    QCOMPARE(m_fakes->sound.played,
             QStringList({m_dir->filePath("a.wav"), m_dir->filePath("c.wav")}));
    // Once the chain is over, the list follows the folder, with the same files selected.
    QTRY_COMPARE_WITH_TIMEOUT(File1(form)->listCount(), 4, 5000);
    QCOMPARE(File1(form)->selectedNames(), QStringList({"a.wav", "c.wav"}));
}

void TestPlayback::enterPressesTheFocusedChainButton()
{
    // Enter on each button presses that button, whichever had the focus before.
    m_fakes->waveLength.fallback = 60000;
    ChainPlayer player(m_fakes->sound, m_fakes->waveLength, m_fakes->clock);
    const ChainSource source{[] { return 4; }, [](int) { return true; },
                             [](int i) {
                                 return ChainEntry{QString("/w/%1.wav").arg(i), "x.wav"};
                             }};
    QList<ChainEntry> added;
    Form2 chain(
        player, source, [&](const ChainEntry &e) { added.append(e); }, nullptr);
    QList<QPushButton *> pressed;
    int step = 0;
    QTimer keys;
    keys.setInterval(30);
    connect(&keys, &QTimer::timeout, &chain, [&] {
        // Add on the first file, next on the second, abort on the third.
        QPushButton *button =
            QList<QPushButton *>{chain.Command10, chain.Command11, chain.Command8}.value(step++);
        if (!button)
            return;
        button->setFocus();
        QTest::keyClick(button, Qt::Key_Return);
    });
    keys.start();
    chain.exec();
    // Aborted on the third: the fourth was never tried.
    QCOMPARE(m_fakes->sound.attempts, QStringList({"/w/0.wav", "/w/1.wav", "/w/2.wav"}));
    QVERIFY(!chain.isVisible());
    QCOMPARE(added.size(), 1);
    QCOMPARE(added[0].path, QString("/w/0.wav"));
}

void TestPlayback::menuPlayPausesFirst()
{
    Form1 &form = *m_form;
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    File1(form)->setFocus();
    selectRows(File1(form), {0});
    m_fakes->clock.step = 0.01;
    // The file menu's "&Play" waits first; Enter, the same command, does not.
    ModalAnswerer answerer;
    answerer.onMenu = choose("&Play");
    const double before = m_fakes->clock.now;
    const QPoint onFirst = File1(form)->visualRect(File1(form)->model()->index(0, 0)).center();
    QTest::mouseClick(File1(form)->viewport(), Qt::RightButton, {}, onFirst);
    QCOMPARE(answerer.menusSeen, 1);
    QVERIFY(m_fakes->clock.now - before >= 0.3);
    QCOMPARE(m_fakes->sound.played, QStringList({m_dir->filePath("a.wav")}));
    const double beforeKey = m_fakes->clock.now;
    QTest::keyClick(File1(form), Qt::Key_Return);
    QCOMPARE(m_fakes->sound.played.size(), 2);
    QVERIFY(m_fakes->clock.now - beforeKey < 0.3);
}

QTEST_MAIN(TestPlayback)
#include "tst_playback.moc"
