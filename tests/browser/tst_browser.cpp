#include "FormFixture.h"
#include "ModalAnswerer.h"
#include "TestFiles.h"
#include "app/Form1.h"
#include "app/Mpris.h"
#include "audition/AuditionBand.h"
#include "browser/Browser.h"
#include "browser/DetailsPanel.h"
#include "browser/FileList.h"
#include "files/DirList.h"
#include "files/DriveList.h"
#include "files/EntryLooks.h"
#include "files/FileFacts.h"
#include "files/FolderWatch.h"
#include "platform/WaveFile.h"
#include "platform/WaveInfo.h"
#include "playback/NowPlaying.h"

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QDir>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QLabel>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QToolTip>
#include <sys/inotify.h>

class TestBrowser : public QObject, protected FormFixture
{
    Q_OBJECT
private slots:
    void init();
    void openingADirectoryClearsPanelAndSelection();
    void aDirectoryThatCannotBeOpenedLeavesTheLists();
    void failingVolumeBeepsOnceAndReturns();
    void twoFailingVolumesGiveAtMostTwoMessages();
    void startInsideAFolderThatCannotBeRead_data();
    void startInsideAFolderThatCannotBeRead();
    void readyVolumeOpensItsCurrentDirectory();
    void theDriveListFillsWhenTheVolumesAreKnown();
    void panelFollowsTheSelection();
    void refreshKeepsThePathAndClearsTheSelection();
    void brokenFilesAreMarkedInViewOnlyAndTellWhy();
    void aStalledDiskNeverHoldsTheWindow();
    void whatTheUserDoesNeverWaitsForTheDisk();
    void theShownFolderFollowsTheDisk();
    void aFolderTheSystemWillNotWatchIsLookedAt();
    void aFolderListAnswersInTimeOrWhenItComes_data();
    void aFolderListAnswersInTimeOrWhenItComes();

private:
};

void TestBrowser::init()
{
    makeFolder({"a.wav", "b.wav", "sub/c.wav"});
    // Sizes the details panel adds up.
    touch(m_dir->filePath("a.wav"), 1000);
    touch(m_dir->filePath("b.wav"), 2500);
}

void TestBrowser::openingADirectoryClearsPanelAndSelection()
{
    Form1 form(m_fakes->services());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(File1(form)->listCount(), 2);
    File1(form)->selectAll();
    QTRY_COMPARE(Label1(form)->text(), QString("var"));
    QTRY_VERIFY(!Label2(form)->text().isEmpty());

    // Double click on "sub" in the directory list.
    QTreeWidgetItem *sub =
        Dir1(form)->findItems("sub", Qt::MatchExactly | Qt::MatchRecursive).value(0);
    QVERIFY(sub);
    const QRect rect = Dir1(form)->visualItemRect(sub);
    QTest::mouseClick(Dir1(form)->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(Dir1(form)->viewport(), Qt::LeftButton, {}, rect.center());
    QCOMPARE(Dir1(form)->path(), m_dir->filePath("sub"));
    QCOMPARE(File1(form)->path(), m_dir->filePath("sub"));
    QCOMPARE(File1(form)->listCount(), 1);
    QVERIFY(selectedRowsIn(File1(form)).isEmpty());
    QTRY_VERIFY(Label1(form)->text().isEmpty());
    QTRY_VERIFY(Label2(form)->text().isEmpty());
    QCOMPARE(m_fakes->volumes.current, m_dir->path()); // the process stays where it was

    // Backspace goes up again; the path never ends in "/".
    Dir1(form)->setFocus();
    QTest::keyClick(Dir1(form), Qt::Key_Backspace);
    QCOMPARE(Dir1(form)->path(), m_dir->path());
    QVERIFY(!Dir1(form)->path().endsWith('/'));
    QVERIFY(Dir1(form)->setPath("/").ok());
    QCOMPARE(Dir1(form)->path(), QString("/"));
}

void TestBrowser::aDirectoryThatCannotBeOpenedLeavesTheLists()
{
    Form1 form(m_fakes->services());
    QTreeWidgetItem *sub =
        Dir1(form)->findItems("sub", Qt::MatchExactly | Qt::MatchRecursive).value(0);
    QVERIFY(sub);
    QVERIFY(QDir(m_dir->filePath("sub")).removeRecursively());
    ModalAnswerer answerer;
    emit Dir1(form)->itemActivated(sub, 0);
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].title, QString("Error"));
    QCOMPARE(answerer.seen[0].text, QString::fromLocal8Bit(strerror(ENOENT)));
    QCOMPARE(answerer.seen[0].icon, QMessageBox::Critical);
    QCOMPARE(Dir1(form)->path(), m_dir->path());
    QCOMPARE(File1(form)->path(), m_dir->path());
    QCOMPARE(File1(form)->listCount(), 2);

    // A folder that opened but vanished before it could be listed: both lists go back to
    // the folder that was read, so no name is ever joined with another folder's path.
    QVERIFY(QDir(m_dir->path()).mkdir("brief"));
    {
        const QSignalBlocker quiet(Dir1(form));
        QVERIFY(Dir1(form)->setPath(m_dir->filePath("brief")).ok());
    }
    QVERIFY(QDir(m_dir->path()).rmdir("brief"));
    form.Dir1_Change();
    QCOMPARE(answerer.seen.size(), 2);
    QCOMPARE(Dir1(form)->path(), m_dir->path());
    QCOMPARE(File1(form)->path(), m_dir->path());
    QCOMPARE(File1(form)->listCount(), 2);
}

void TestBrowser::startInsideAFolderThatCannotBeRead_data()
{
    QTest::addColumn<bool>("exists");
    QTest::newRow("gone") << false;
    QTest::newRow("no permission") << true;
}

void TestBrowser::startInsideAFolderThatCannotBeRead()
{
    QFETCH(bool, exists);
    const QString locked = m_dir->filePath("sub/locked");
    if (exists) {
        QVERIFY(QDir(m_dir->path()).mkdir("sub/locked"));
        QVERIFY(QFile::setPermissions(locked, QFileDevice::WriteOwner));
        if (QDir(locked).isReadable())
            QSKIP("running as a user who reads every folder");
    }
    m_fakes->volumes.current = locked;
    ModalAnswerer answerer;
    Form1 form(m_fakes->services());
    QTest::qWait(20);                 // nothing to wait for: a box that opened would be seen by now
    QVERIFY(answerer.seen.isEmpty()); // no message at start: the folder just shows empty
    // The way up from "/" to the folder, and nothing below it; the file list is empty there.
    QCOMPARE(Dir1(form)->path(), locked);
    QCOMPARE(Dir1(form)->topLevelItem(0)->text(0), QString("/"));
    QCOMPARE(Dir1(form)->currentItem()->text(0), QString("locked"));
    QCOMPARE(Dir1(form)->currentItem()->childCount(), 0);
    QCOMPARE(File1(form)->path(), locked);
    QCOMPARE(File1(form)->listCount(), 0);
    // The user walks up and out.
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    Dir1(form)->setFocus();
    QTest::keyClick(Dir1(form), Qt::Key_Backspace);
    QCOMPARE(Dir1(form)->path(), m_dir->filePath("sub"));
    QCOMPARE(nameAt(File1(form), 0), QString("c.wav"));
    QFile::setPermissions(locked,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void TestBrowser::failingVolumeBeepsOnceAndReturns()
{
    m_fakes->volumes.volumes = {{"/", ""}, {"/media/stick", "STICK"}};
    m_fakes->volumes.failing["/media/stick"] = "No medium found";
    Form1 form(m_fakes->services());
    File1(form)->selectAll();
    ModalAnswerer answerer;
    Drive1(form)->setDrive("/media/stick");
    QCOMPARE(m_fakes->desktop.beeps, 1);
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].text, QString("No medium found"));
    QCOMPARE(answerer.seen[0].title, QString("Error"));
    QCOMPARE(Drive1(form)->drive(), QString("/"));
    // Back on the directory list's volume, in that volume's current directory.
    QCOMPARE(Dir1(form)->path(), m_dir->path());
    QTRY_VERIFY(Label1(form)->text().isEmpty() && Label2(form)->text().isEmpty());
}

void TestBrowser::twoFailingVolumesGiveAtMostTwoMessages()
{
    m_fakes->volumes.volumes = {{"/", ""}, {"/media/stick", "STICK"}};
    m_fakes->volumes.failing["/media/stick"] = "No medium found";
    m_fakes->volumes.failing["/"] = "Input/output error";
    Form1 form(m_fakes->services());
    ModalAnswerer answerer;
    Drive1(form)->setDrive("/media/stick");
    QCOMPARE(answerer.seen.size(), 2);
    QCOMPARE(answerer.seen[1].text, QString("Input/output error"));
    QCOMPARE(m_fakes->desktop.beeps, 2);
    QCOMPARE(Drive1(form)->drive(), QString("/"));
    QCOMPARE(Dir1(form)->path(), m_dir->path()); // never moved to a volume that failed
}

void TestBrowser::readyVolumeOpensItsCurrentDirectory()
{
    const QString stick = m_dir->filePath("sub");
    m_fakes->volumes.volumes = {{"/", ""}, {stick, "STICK"}};
    Form1 form(m_fakes->services());
    ModalAnswerer answerer;
    Drive1(form)->setDrive(stick);
    QVERIFY(answerer.seen.isEmpty());
    QCOMPARE(Dir1(form)->path(), stick); // never been there: its root
    QCOMPARE(nameAt(File1(form), 0), QString("c.wav"));
    QCOMPARE(m_fakes->volumes.current, stick); // now the current drive
    Drive1(form)->setDrive("/");
    QCOMPARE(Dir1(form)->path(), m_dir->path()); // the directory last current on "/"
    QCOMPARE(m_fakes->volumes.current, m_dir->path());

    // Walking into the volume and out of it again: the volume list follows the folder,
    // without a drive change, and choosing the volume again moves the lists there.
    emit Dir1(form)->openRequested(stick);
    QCOMPARE(Drive1(form)->drive(), stick);
    emit Dir1(form)->openRequested(m_dir->path());
    QCOMPARE(Drive1(form)->drive(), QString("/"));
    QCOMPARE(m_fakes->volumes.current, m_dir->path()); // no drive change ran
    Drive1(form)->setDrive(stick);
    QCOMPARE(Dir1(form)->path(), stick);
    QVERIFY(answerer.seen.isEmpty());
}

void TestBrowser::theDriveListFillsWhenTheVolumesAreKnown()
{
    // The program starts inside a card before the system's volumes are read: only the root
    // is known.
    const QString card = m_dir->path();
    const QString takes = m_dir->filePath("sub");
    m_fakes->volumes.volumes = {{"/", ""}};
    m_fakes->volumes.current = takes;
    Form1 form(m_fakes->services());
    ModalAnswerer answerer;
    QCOMPARE(Drive1(form)->count(), 1);
    QCOMPARE(Drive1(form)->drive(), QString("/"));
    QCOMPARE(Dir1(form)->path(), takes);
    // The start moves the process to the program's folder, before the answer comes.
    form.Form_Load();
    QCOMPARE(m_fakes->volumes.current, QCoreApplication::applicationDirPath());

    // The answer: the list shows the card chosen, as it would have from the start, and no
    // drive change runs.
    m_fakes->volumes.answer({{"/", ""}, {card, "CARD"}});
    QCOMPARE(Drive1(form)->count(), 2);
    QCOMPARE(Drive1(form)->drive(), card);
    QCOMPARE(Drive1(form)->currentText(), card + "  [CARD]");
    QCOMPARE(Dir1(form)->path(), takes);
    QCOMPARE(m_fakes->volumes.probes, 0);

    // The process left the card's folder before the card was known: the card still goes back
    // to that folder, not to its root.
    Drive1(form)->setDrive("/");
    QCOMPARE(Dir1(form)->path(), QCoreApplication::applicationDirPath());
    Drive1(form)->setDrive(card);
    QCOMPARE(Dir1(form)->path(), takes);
    QVERIFY(answerer.seen.isEmpty());
    QCOMPARE(m_fakes->desktop.beeps, 0);
}

void TestBrowser::panelFollowsTheSelection()
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    touch(m_dir->filePath("big.wav"), 1234567);
    Form1 form(m_fakes->services());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    File1(form)->setFocus();
    QTest::keyClick(File1(form), Qt::Key_A, Qt::ControlModifier);
    QTRY_COMPARE(Label1(form)->text(), QString("var"));
    QTRY_COMPARE(Label2(form)->text(), QString("1.238.067"));
    // A click on one entry: its date above its time.
    const QRect first = File1(form)->visualRect(File1(form)->model()->index(1, 0));
    QTest::mouseClick(File1(form)->viewport(), Qt::LeftButton, {}, first.center());
    QCOMPARE(File1(form)->selectedNames(), QStringList({"b.wav"}));
    QCOMPARE(File1(form)->fileName(), QString("b.wav"));
    QTRY_COMPARE(Label2(form)->text(), QString("2.500"));
    QTRY_VERIFY(Label1(form)->text().contains('\n'));
    // Ctrl+click takes it off again: nothing is selected, nothing is shown.
    QTest::mouseClick(File1(form)->viewport(), Qt::LeftButton, Qt::ControlModifier, first.center());
    QVERIFY(selectedRowsIn(File1(form)).isEmpty());
    QTRY_VERIFY(Label1(form)->text().isEmpty());
    QTRY_VERIFY(Label2(form)->text().isEmpty());
    QLocale::setDefault(QLocale::c());
}

void TestBrowser::refreshKeepsThePathAndClearsTheSelection()
{
    Form1 form(m_fakes->services());
    File1(form)->selectAll();
    touch(m_dir->filePath("new.wav"));
    QVERIFY(QFile::remove(m_dir->filePath("a.wav")));
    File1(form)->refresh();
    QCOMPARE(File1(form)->path(), m_dir->path());
    QCOMPARE(File1(form)->listCount(), 2);
    QCOMPARE(nameAt(File1(form), 0), QString("b.wav"));
    QCOMPARE(nameAt(File1(form), 1), QString("new.wav"));
    QVERIFY(selectedRowsIn(File1(form)).isEmpty());
}

void TestBrowser::brokenFilesAreMarkedInViewOnlyAndTellWhy()
{
    // The largest folder the list takes; every file is empty (broken) but the second.
    constexpr int count = 32767;
    const QString folder = m_dir->filePath("many");
    QVERIFY(QDir().mkdir(folder));
    for (int i = 1; i <= count; ++i)
        touch(folder + QStringLiteral("/f%1.wav").arg(i, 5, 10, QLatin1Char('0')));
    QVERIFY(writeTone(folder + "/f00002.wav", 0.5));
    // A take that clips, further down.
    QVERIFY(writeSignal(folder + "/f00040.wav", 0x010000 | 0x0002 /* WAV, 16-bit */, 8000, 1, 4000,
                        [](qint64 frame) { return frame % 100 < 10 ? 1.0f : 0.1f; }));
    std::atomic_int reads = 0;
    FileFacts facts(nullptr, [&reads](const QString &path) {
        ++reads;
        return readWaveInfo(path);
    });
    FileList list(nullptr);
    list.resize(200, 300);
    list.setFacts(&facts);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QSignalSpy changedRows(list.model(), &QAbstractItemModel::dataChanged);
    // Counted as the entries come: the rows in view are asked for a moment after, and once
    // the wait for a late listing lets workers run, they may have been read already.
    int readsWhenListed = -1;
    connect(list.model(), &QAbstractItemModel::modelReset, &list, [&] {
        if (list.listCount() == count)
            readsWhenListed = reads;
    });
    QVERIFY(list.setPath(folder).ok());
    // So large a folder may take longer than the window waits: it fills in when it comes.
    QTRY_COMPARE_WITH_TIMEOUT(list.listCount(), count, 5000);
    QCOMPARE(readsWhenListed, 0); // the listing itself opens nothing

    // Marked (and so drawn greyed) once a worker found it cannot be played.
    const auto marked = [&list](int row) {
        const QVariant playable = list.model()->index(row, 0).data(WaveFolderModel::PlayableRole);
        return playable.isValid() && !playable.toBool();
    };
    QTRY_VERIFY_WITH_TIMEOUT(marked(0), 5000);
    const int visible = list.indexAt(QPoint(1, list.viewport()->height() - 1)).row() + 1;
    QTRY_COMPARE_WITH_TIMEOUT(int(reads), visible, 5000);
    // Each answer changes its own row, not the whole list (the loudness of the folder's
    // files, measured apart, changes rows of its own).
    const auto detailsChanges = [&changedRows] {
        int changes = 0;
        for (const QList<QVariant> &change : std::as_const(changedRows)) {
            if (!change.at(2).value<QList<int>>().contains(WaveFolderModel::PlayableRole))
                continue;
            ++changes;
            if (change.at(0).toModelIndex().row() != change.at(1).toModelIndex().row())
                return -1;
        }
        return changes;
    };
    QTRY_COMPARE(detailsChanges(), visible);
    QVERIFY(!marked(1));
    QVERIFY(!marked(visible));
    QVERIFY(!marked(count - 1));

    // Resting the pointer: the reason, or the details and then the picture.
    const auto rest = [&list](int row) {
        const QPoint at = list.visualRect(list.model()->index(row, 0)).center();
        QHelpEvent help(QEvent::ToolTip, at, list.viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(list.viewport(), &help);
    };
    // The text is the entry's tooltip role, whatever the tooltip shows when; the grey is its
    // colour role, the view's disabled text colour.
    const auto tip = [&list](int row) {
        return list.model()->index(row, 0).data(Qt::ToolTipRole).toString();
    };
    const auto colour = [&list](int row) {
        return list.model()->index(row, 0).data(Qt::ForegroundRole);
    };
    QCOMPARE(colour(0).value<QBrush>(), list.palette().brush(QPalette::Disabled, QPalette::Text));
    QVERIFY(!colour(1).isValid());
    rest(0);
    QTRY_VERIFY(QToolTip::text().contains("Cannot be played: "));
    QCOMPARE(QToolTip::text(), tip(0));
    rest(1);
    QTRY_VERIFY(QToolTip::text().contains("PCM 16-bit, 8,000 Hz, mono"));
    QTRY_VERIFY_WITH_TIMEOUT(QToolTip::text().contains("<img src=\"data:image/png;base64,"), 5000);
    // Then its loudness, measured ahead of the folder's other files.
    QTRY_VERIFY_WITH_TIMEOUT(QToolTip::text().contains(" LUFS, range "), 10000);
    QVERIFY(!QToolTip::text().contains("clipped"));
    QCOMPARE(QToolTip::text(), tip(1));
    // The folder is measured in list order, past the rows in view: the take that clips is
    // marked, the others not.
    const auto damaged = [&list](int row) {
        return list.model()->index(row, 0).data(WaveFolderModel::DamagedRole).toBool();
    };
    QTRY_VERIFY_WITH_TIMEOUT(damaged(39), 10000);
    QVERIFY(!damaged(1));
    // The mark is a role too: a red dot for the take that clips, nothing for the others.
    QCOMPARE(list.model()->index(39, 0).data(EntryLooks::markRole).value<QColor>(),
             QColor(200, 30, 30));
    QVERIFY(!list.model()->index(1, 0).data(EntryLooks::markRole).isValid());
    // The first file goes: the good one moves up, a broken one comes under the pointer, and
    // the tooltip that stays says so.
    QVERIFY(QFile::remove(folder + "/f00001.wav"));
    list.refresh();
    QTRY_COMPARE_WITH_TIMEOUT(nameAt(&list, 1), QString("f00003.wav"), 5000);
    QVERIFY(QToolTip::isVisible());
    QTRY_VERIFY(QToolTip::text().contains("Cannot be played: "));
}

void TestBrowser::aStalledDiskNeverHoldsTheWindow()
{
    // A stand-in disk that answers nothing until the test lets it, and notes who asked.
    QSemaphore disk;
    std::atomic_int askedByWindow = 0;
    std::atomic_int asked = 0;
    const auto stall = [&] {
        ++asked;
        if (QThread::currentThread() == qApp->thread())
            ++askedByWindow;
        QVERIFY(disk.tryAcquire(1, 20000));
        disk.release();
    };
    FileFacts facts(
        nullptr,
        [&](const QString &path) {
            stall();
            return readWaveInfo(path);
        },
        [&](const QString &path, int columns) {
            stall();
            return readWavePeaks(path, columns);
        },
        [&](const QString &path) {
            stall();
            return stampOf(path);
        });
    QVERIFY(writeTone(m_dir->filePath("b.wav"), 0.5));
    FileList list(nullptr);
    list.resize(200, 300);
    list.setFacts(&facts);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QVERIFY(list.setPath(m_dir->path()).ok());

    // Marks, a resize, a scroll and a tooltip: each answers at once, the name shown until the
    // details come, and only the workers wait.
    list.resize(220, 320);
    list.scrollToBottom();
    const QPoint at = list.visualRect(list.model()->index(1, 0)).center();
    QHelpEvent help(QEvent::ToolTip, at, list.viewport()->mapToGlobal(at));
    QCoreApplication::sendEvent(list.viewport(), &help);
    QTRY_VERIFY(asked >= 2); // the marks and the tooltip are both waiting on the disk
    QVERIFY(QToolTip::isVisible());
    QVERIFY2(QToolTip::text().contains(">b.wav<"), qPrintable(QToolTip::text()));
    QTest::qWait(100); // the window goes on answering events meanwhile
    QVERIFY(!list.model()->index(0, 0).data(WaveFolderModel::PlayableRole).isValid());

    disk.release();
    QTRY_VERIFY_WITH_TIMEOUT(QToolTip::text().contains("PCM 16-bit, 8,000 Hz, mono"), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(QToolTip::text().contains("<img src="), 5000);
    QCOMPARE(int(askedByWindow), 0);
}

void TestBrowser::whatTheUserDoesNeverWaitsForTheDisk()
{
    // A disk that, once held, answers nothing until the test lets it go, and notes who asked.
    // It outlives the test: a worker may let go of it after the window has gone.
    struct Disk
    {
        std::atomic_bool holding = false;
        QSemaphore gate;
        std::atomic_int asked = 0;
        std::atomic_int askedByWindow = 0;
        void stall()
        {
            if (QThread::currentThread() == qApp->thread())
                ++askedByWindow;
            if (!holding)
                return;
            ++asked;
            if (gate.tryAcquire(1, 20000))
                gate.release();
        }
    };
    const auto disk = std::make_shared<Disk>();
    QVERIFY(writeTone(m_dir->filePath("a.wav"), 3.0));
    QVERIFY(writeTone(m_dir->filePath("b.wav"), 0.5, 8000, 2));
    SdlSoundOutput sound([disk](const QString &path) {
        disk->stall();
        return WaveFile::open(path);
    });
    Services services = m_fakes->services();
    Services held{services.settings,   sound,
                  services.waveLength, services.clock,
                  services.volumes,    services.desktop,
                  services.files,      services.measureLoudness};
    Form1 form(held);
    form.browser().panel().setRead([disk](const QString &directory, const QStringList &names) {
        disk->stall();
        return detailsOf(directory, names);
    });
    form.browser().watch().setWatchFile([disk](int fd, const QString &path, uint32_t events) {
        disk->stall();
        return inotify_add_watch(fd, QFile::encodeName(path).constData(), events);
    });
    Mpris mpris(form.mediaControl({}), nullptr);
    form.toggleWaveform();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto *band = form.findChild<AuditionBand *>("AuditionBand");
    QVERIFY(band);
    FileList *list = File1(form);
    list->setFocus();
    const auto clickRow = [list](int row) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualRect(list->model()->index(row, 0)).center());
    };
    // Before the disk stalls, the band has read both files: what it shows is read apart.
    clickRow(1);
    QTRY_COMPARE(band->strip()->lanes().size(), 2);
    clickRow(0);
    QTRY_COMPARE(band->strip()->lanes().size(), 1);
    const QString aBytes = groupedBytes(QFileInfo(m_dir->filePath("a.wav")).size());
    QTRY_COMPARE(Label2(form)->text(), aBytes);
    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
    QTRY_COMPARE(Label1(form)->text(), QString("var"));

    // Held: a click, an arrow key, Enter, Space and a click on the band each answer at once;
    // the panel keeps what it showed and nothing sounds until the disk lets go.
    disk->holding = true;
    clickRow(1);
    QCOMPARE(list->selectedNames(), QStringList({"b.wav"}));
    QTRY_VERIFY(disk->asked >= 2); // the panel and the selection's watch
    QTest::keyClick(list, Qt::Key_Up);
    QCOMPARE(list->selectedNames(), QStringList({"a.wav"}));
    QTest::keyClick(list, Qt::Key_Return);
    NowPlaying &now = *form.mediaControl({}).now;
    QCOMPARE(now.path(), m_dir->filePath("a.wav"));
    // Space ends the sound still opening, as it ends one that sounds.
    QTest::keyClick(list, Qt::Key_Space);
    QVERIFY(now.path().isEmpty());
    QCOMPARE(band->strip()->lanes().size(), 1);
    const quint64 starts = now.starts();
    const int middle = band->strip()->waveArea().center().x();
    QTest::mouseClick(band->strip(), Qt::LeftButton, {}, {middle, 30});
    QCOMPARE(now.starts(), starts + 1);
    QTest::qWait(100); // the window goes on answering events meanwhile
    QCOMPARE(Label1(form)->text(), QString("var"));
    QVERIFY(!sound.heard());
    // The media controls answer from what is known while the disk is held (a length, if
    // any, comes from the file's facts, read by their own worker).
    QCOMPARE(mpris.metadata().value("xesam:title").toString(), QString("a.wav"));

    // Let go: the newest selection's figures, and the band's sound with its length; b.wav's
    // figures, coming late, are dropped.
    disk->gate.release();
    QTRY_VERIFY_WITH_TIMEOUT(Label1(form)->text() != "var", 5000);
    QCOMPARE(Label2(form)->text(), aBytes);
    QTRY_VERIFY_WITH_TIMEOUT(sound.heard().has_value(), 5000);
    QVERIFY(sound.heard()->frame >= band->strip()->frameAt(middle)); // from the band's middle
    QTRY_COMPARE_WITH_TIMEOUT(mpris.metadata().value("mpris:length").toLongLong(), 3000000, 5000);
    QCOMPARE(Label2(form)->text(), aBytes);
    QCOMPARE(int(disk->askedByWindow), 0);
    QCOMPARE(m_fakes->waveLength.asked, 0);
}

void TestBrowser::theShownFolderFollowsTheDisk()
{
    makeFolder({"a.wav", "c.wav", "e.wav", "sub/x.wav"});
    Form1 &form = makeForm();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QSignalSpy listings(File1(form)->model(), &QAbstractItemModel::modelReset);
    selectRows(File1(form), {0, 2}); // a.wav and e.wav
    File1(form)->selectionModel()->setCurrentIndex(File1(form)->model()->index(2, 0),
                                                   QItemSelectionModel::NoUpdate);
    const auto names = [&form] {
        QStringList names;
        for (int i = 0; i < File1(form)->listCount(); ++i)
            names.append(nameAt(File1(form), i));
        return names;
    };

    // Another program adds, renames and removes files: the list follows, in its order, with
    // the selection and the current entry kept by name.
    touch(m_dir->filePath("b.wav"));
    QVERIFY(QFile::rename(m_dir->filePath("c.wav"), m_dir->filePath("d.wav")));
    QVERIFY(QFile::remove(m_dir->filePath("a.wav")));
    QTRY_COMPARE_WITH_TIMEOUT(names(), QStringList({"b.wav", "d.wav", "e.wav"}), 2000);
    QCOMPARE(File1(form)->selectedNames(), QStringList({"e.wav"}));
    QCOMPARE(File1(form)->fileName(), QString("e.wav"));
    QVERIFY(!File1(form)->selectionModel()->isSelected(
        File1(form)->model()->index(0, 0))); // b.wav, new, is not

    // A burst of 500 new files is one listing.
    QTest::qWait(600);
    listings.clear();
    for (int i = 0; i < 500; ++i)
        touch(m_dir->filePath(QStringLiteral("burst%1.wav").arg(i)));
    QTRY_COMPARE_WITH_TIMEOUT(File1(form)->listCount(), 503, 2000);
    QTest::qWait(600);
    QCOMPARE(listings.size(), 1);

    // A run of entries and one apart keep their selection through a listing that moves them
    // all, and the names asked for after it are those of the rows selected then.
    selectRows(File1(form), {0, 1, 2, 3, 5});
    const QStringList run = File1(form)->selectedNames();
    QCOMPARE(run.size(), 5);
    touch(m_dir->filePath("a0.wav")); // named first: every selected entry moves down one
    QTRY_COMPARE_WITH_TIMEOUT(File1(form)->listCount(), 504, 2000);
    QCOMPARE(selectedRowsIn(File1(form)), QList<int>({1, 2, 3, 4, 6}));
    QCOMPARE(File1(form)->selectedNames(), run);
    selectRows(File1(form), {0});
    QCOMPARE(File1(form)->selectedNames(), QStringList({"a0.wav"}));

    // The selected file grows, as a recording does: the panel shows its new size.
    selectRows(File1(form), {File1(form)->listCount() - 1}); // e.wav
    QTRY_COMPARE(Label2(form)->text(), QString("9"));
    touch(m_dir->filePath("e.wav"), 123456);
    QTRY_COMPARE_WITH_TIMEOUT(Label2(form)->text(), QString("123,456"), 2000);

    // A sub-folder made meanwhile shows; the shown folder removed gives way to its parent.
    QVERIFY(QDir(m_dir->path()).mkdir("new folder"));
    QTRY_VERIFY_WITH_TIMEOUT(
        !Dir1(form)->findItems("new folder", Qt::MatchExactly | Qt::MatchRecursive).isEmpty(),
        2000);
    QVERIFY(Dir1(form)->setPath(m_dir->filePath("sub")).ok());
    QCOMPARE(File1(form)->listCount(), 1);
    QVERIFY(QDir(m_dir->filePath("sub")).removeRecursively());
    QTRY_COMPARE_WITH_TIMEOUT(Dir1(form)->path(), m_dir->path(), 2000);
    QCOMPARE(File1(form)->path(), m_dir->path());
    QCOMPARE(File1(form)->listCount(), 504);
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(TestBrowser)
void TestBrowser::aFolderTheSystemWillNotWatchIsLookedAt()
{
    // The system's inotify watches used up: every watch is refused.
    QVERIFY(QDir().mkdir(m_dir->filePath("refused")));
    FolderWatch watch(nullptr, [](QFileSystemWatcher &, const QString &) { return false; });
    QSignalSpy changes(&watch, &FolderWatch::folderChanged);
    watch.setFolder(m_dir->filePath("refused"));
    QVERIFY(watch.polling());
    // Names come (the first look, in a worker, only notes the change time, so they keep
    // coming until one is seen), then one goes: each is seen within the period of the look.
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; changes.isEmpty() && clock.elapsed() < 3 * FolderWatch::pollMs; ++i) {
        touch(m_dir->filePath(QStringLiteral("refused/new%1.wav").arg(i)));
        QTest::qWait(200);
    }
    QTRY_COMPARE_WITH_TIMEOUT(changes.size(), 1, FolderWatch::pollMs);
    QVERIFY(QFile::remove(m_dir->filePath("refused/new0.wav")));
    QTRY_COMPARE_WITH_TIMEOUT(changes.size(), 2, 3 * FolderWatch::pollMs);
    // Nothing happens: nothing is reported.
    QTest::qWait(FolderWatch::pollMs + 500);
    QCOMPARE(changes.size(), 2);
    // A folder the system watches is not looked at.
    FolderWatch watched(nullptr);
    watched.setFolder(m_dir->filePath("refused"));
    QVERIFY(!watched.polling());
}

void TestBrowser::aFolderListAnswersInTimeOrWhenItComes_data()
{
    QTest::addColumn<bool>("held");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<bool>("leftMeanwhile");
    QTest::newRow("in time") << false << false << false;
    QTest::newRow("in time, cannot be opened") << false << true << false;
    QTest::newRow("late") << true << false << false;
    QTest::newRow("late, cannot be opened") << true << true << false;
    QTest::newRow("late, for a folder left") << true << false << true;
}

void TestBrowser::aFolderListAnswersInTimeOrWhenItComes()
{
    QFETCH(bool, held);
    QFETCH(bool, fails);
    QFETCH(bool, leftMeanwhile);
    // A disk that holds the folder "/takes" until the test lets it go; "/other" answers.
    struct Disk
    {
        QSemaphore gate;
    };
    const auto disk = std::make_shared<Disk>();
    DirList list(nullptr);
    list.setRead([disk, held, fails](const QString &path, bool) {
        DirList::Reading reading;
        if (path == QLatin1String("/takes")) {
            if (held && disk->gate.tryAcquire(1, 20000))
                disk->gate.release();
            if (fails)
                reading.opened = Result<>::failure(QStringLiteral("Input/output error"));
            else
                reading.names = {QStringLiteral("drums")};
        } else {
            reading.names = {QStringLiteral("kept")};
        }
        return reading;
    });
    QVERIFY(list.setPath(QStringLiteral("/other")).ok());
    QCOMPARE(list.currentItem()->childCount(), 1);
    QSignalSpy unreadable(&list, &DirList::unreadable);
    const Result<> opened = list.setPath(QStringLiteral("/takes"));
    if (!held) {
        // In time: as if read on the spot.
        QCOMPARE(opened.ok(), !fails);
        QCOMPARE(list.path(), fails ? QStringLiteral("/other") : QStringLiteral("/takes"));
        QCOMPARE(list.topLevelItem(0)->child(0)->child(0)->text(0),
                 fails ? QStringLiteral("kept") : QStringLiteral("drums"));
        QVERIFY(unreadable.isEmpty());
        return;
    }
    // Late: the way up at once, nothing below it yet.
    QVERIFY(opened.ok());
    QCOMPARE(list.path(), QStringLiteral("/takes"));
    QCOMPARE(list.currentItem()->text(0), QStringLiteral("takes"));
    QCOMPARE(list.currentItem()->childCount(), 0);
    if (leftMeanwhile)
        QVERIFY(list.setPath(QStringLiteral("/other")).ok());
    disk->gate.release();
    if (leftMeanwhile) {
        // The answer for the folder left is dropped.
        QTest::qWait(200); // nothing to wait for: a late answer would have shown by now
        QCOMPARE(list.path(), QStringLiteral("/other"));
        QCOMPARE(list.topLevelItem(0)->child(0)->child(0)->text(0), QStringLiteral("kept"));
        return;
    }
    if (fails) {
        // Told late, and back on the folder before, as the user chose it.
        QTRY_COMPARE(unreadable.size(), 1);
        QCOMPARE(unreadable[0][1].toString(), QStringLiteral("Input/output error"));
        QCOMPARE(unreadable[0][2].value<DirList::Report>(), DirList::Report::Tell);
        QCOMPARE(list.path(), QStringLiteral("/other"));
        return;
    }
    QTRY_COMPARE(list.currentItem() ? list.currentItem()->childCount() : 0, 1);
    QCOMPARE(list.currentItem()->child(0)->text(0), QStringLiteral("drums"));
    QVERIFY(unreadable.isEmpty());
}

#include "tst_browser.moc"
