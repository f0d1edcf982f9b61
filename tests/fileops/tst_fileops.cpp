#include "FormFixture.h"
#include "ModalAnswerer.h"
#include "TestFiles.h"
#include "app/Form1.h"
#include "browser/FileList.h"
#include "browser/WaveFolderModel.h"
#include "fileops/EditorCommand.h"
#include "fileops/Form3.h"
#include "fileops/Form4.h"
#include "fileops/PublicDeclares.h"
#include "fileops/TransferJob.h"
#include "files/DirList.h"
#include "files/DriveList.h"
#include "files/DriveNavigator.h"
#include "files/Loudness.h"
#include "platform/NativeName.h"
#include "platform/WorkPool.h"
#include "playlist/PlayListModel.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <fcntl.h>
#include <unistd.h>

namespace {
void write(const QString &path, const QByteArray &bytes = "RIFF")
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Records the order of the calls (copies, folder syncs, deletions), then does them for
// real; paths in `undeletable` cannot be deleted, as on a read-only medium.
class RecordingFiles final : public FileOperations
{
public:
    Result<> moveToTrash(const QString &path) override
    {
        trashed.append(path);
        return real.removeFile(path);
    }
    Result<> removeFile(const QString &path) override
    {
        removed.append(path);
        calls.append("remove " + path);
        if (undeletable.contains(path))
            return Result<>::failure("Read-only file system");
        return real.removeFile(path);
    }
    Result<> copy(const QString &source, const QString &destination, Sync sync,
                  const CopyProgress &progress) override
    {
        calls.append(QString(sync == Sync::Durable ? "durable copy " : "copy ") + destination);
        // A slow medium: the copy of this source waits, as a stick would, after its first
        // block, and tells the test it is half done.
        const CopyProgress slowed = [&](qint64 copied) {
            if (source == slowSource && !halfDone.exchange(true))
                QThread::msleep(slowMs);
            return progress ? progress(copied) : true;
        };
        return real.copy(source, destination, sync, slowed);
    }
    Result<> syncFolder(const QString &folder) override
    {
        calls.append("sync " + folder);
        return real.syncFolder(folder);
    }
    SystemFileOperations real;
    QStringList trashed;
    QStringList removed;
    QStringList calls;
    QSet<QString> undeletable;
    QString slowSource;
    int slowMs = 0;
    std::atomic_bool halfDone = false;
};
} // namespace

class TestFileOps : public QObject, protected FormFixture
{
    Q_OBJECT
private slots:
    void init();
    // Delete
    void deleteWithNothingSelectedDoesNothing();
    void deleteAsksOnceThenDeletesInListOrder();
    void cancelDeletesNothingButRefreshes();
    void theDamagedMarksStayWhileDeleteAsks_data();
    void theDamagedMarksStayWhileDeleteAsks();
    void aReadOnlyFileIsReportedOnceAndTheOthersGo();
    void aFailurePausesTheJobUntilTheUserIsTold();
    // Copy
    void copyDialogControlsAndKeys();
    void anEmptyPlayListOpensNoDialog();
    void noneSelectedCopiesAllAndEmptiesTheList();
    void onlyTheSelectedEntryIsCopied();
    void cancelOrClosingTheDialogChangesNothing();
    void moveDeletesEachSourceAfterItsCopy();
    void copyingOntoTheSourceFolderFailsAndKeepsTheSources();
    void cancelStopsMidFileLeavingNoTrace_data();
    void cancelStopsMidFileLeavingNoTrace();
    // Editor
    void editWavStartsTheEditorOnTheCurrentFile();
    void theEditorGetsThePathAsOneArgument();
    void aMissingEditorOffersTheChooserOnce();
    void chooserAcceptBlankAndDefault();
    void enterAndEscapeInTheCommandField();

private:
    // Opens the copy dialog through "&Copy files" and answers it with `answer`.
    void copyThrough(std::function<void(Form3 *)> answer, ModalAnswerer &answerer);
    // The answer "&Copy" into folder, with "Delete origin after copying" ticked for a move.
    static std::function<void(Form3 *)> copyTo(const QString &folder, bool move = false)
    {
        return [folder, move](Form3 *d) {
            QVERIFY(d->Dir1->setPath(folder).ok());
            d->Check1->setChecked(move);
            d->Command1->click();
        };
    }

    RecordingFiles m_files;
    QString m_to;
};

void TestFileOps::init()
{
    makeFolder({"a.wav", "b.wav", "c.wav", "to/"});
    m_to = m_dir->filePath("to");
    m_files.trashed.clear();
    m_files.removed.clear();
    m_files.calls.clear();
    m_files.undeletable.clear();
    m_files.slowSource.clear();
    m_files.halfDone = false;
    makeForm(Services{m_fakes->settings, m_fakes->sound, m_fakes->waveLength, m_fakes->clock,
                      m_fakes->volumes, m_fakes->desktop, m_files});
}

void TestFileOps::deleteWithNothingSelectedDoesNothing()
{
    ModalAnswerer answerer;
    m_form->Command2_Click();
    QTest::qWait(50); // nothing to wait for: a box that opened would be seen by now
    QVERIFY(answerer.seen.isEmpty());
    QVERIFY(m_files.trashed.isEmpty());
}

void TestFileOps::deleteAsksOnceThenDeletesInListOrder()
{
    Form1 &form = *m_form;
    ModalAnswerer answerer(QMessageBox::Ok);
    selectRows(File1(form), {1});
    form.Command2_Click();
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].text, QString("Delete file b.wav ?"));
    QCOMPARE(answerer.seen[0].title, QString("Delete"));
    QCOMPARE(answerer.seen[0].icon, QMessageBox::Question);
    QCOMPARE(answerer.seen[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(File1(form)->listCount(), 2);

    write(m_dir->filePath("d.wav"));
    File1(form)->refresh();
    selectRows(File1(form), {2, 0, 1});
    Command2(form)->click();
    QCOMPARE(answerer.seen.size(), 2);
    QCOMPARE(answerer.seen[1].text, QString("Delete files ?"));
    QCOMPARE(m_files.trashed, QStringList({m_dir->filePath("b.wav"), m_dir->filePath("a.wav"),
                                           m_dir->filePath("c.wav"), m_dir->filePath("d.wav")}));
    QCOMPARE(File1(form)->listCount(), 0);
    QCOMPARE(List2(form)->item(2)->text(), QString("d.wav")); // the scratch list of names
}

void TestFileOps::cancelDeletesNothingButRefreshes()
{
    Form1 &form = *m_form;
    form.playList().AddEntry("a.wav", m_dir->filePath("a.wav"));
    write(m_dir->filePath("new.wav"));
    ModalAnswerer answerer(QMessageBox::Cancel);
    File1(form)->selectAll();
    form.Command2_Click();
    QCOMPARE(answerer.seen.size(), 1);
    QVERIFY(m_files.trashed.isEmpty());
    QCOMPARE(File1(form)->listCount(), 4); // the refresh shows the new file
    QVERIFY(selectedRowsIn(File1(form)).isEmpty());
    QCOMPARE(form.playList().count(), 1); // the play list is not consulted
}

void TestFileOps::theDamagedMarksStayWhileDeleteAsks_data()
{
    QTest::addColumn<bool>("playing");
    QTest::newRow("nothing playing") << false;
    QTest::newRow("a sound playing") << true;
}

void TestFileOps::theDamagedMarksStayWhileDeleteAsks()
{
    QFETCH(bool, playing);
    // The question is a modal box, the window busy under it, and Cancel lists the folder
    // again: the marks of what was measured stay, in the model and on the screen.
    // b.wav and c.wav clip, a.wav does not.
    const LoudnessMeasure measure = [](const QString &path, const std::function<bool()> &) {
        Loudness loudness;
        loudness.integratedLufs = -20;
        loudness.rangeLu = 3;
        loudness.truePeakDbtp = path.endsWith("/a.wav") ? -3 : 0.4;
        loudness.samplePeakDbfs = loudness.truePeakDbtp - 0.1;
        return std::optional<Loudness>(loudness);
    };
    Form1 &form =
        makeForm(Services{m_fakes->settings, m_fakes->sound, m_fakes->waveLength, m_fakes->clock,
                          m_fakes->volumes, m_fakes->desktop, m_files, measure});
    FileList *list = File1(form);
    const auto marks = [list] {
        QList<bool> damaged;
        for (int row = 0; row < list->listCount(); ++row)
            damaged.append(
                list->model()->index(row, 0).data(WaveFolderModel::DamagedRole).toBool());
        return damaged;
    };
    // What is drawn: the rows with the mark's red in them.
    const auto redRows = [list] {
        const QImage drawn = list->viewport()->grab().toImage();
        QList<bool> red;
        for (int row = 0; row < list->listCount(); ++row) {
            const QRect rect = list->visualRect(list->model()->index(row, 0)) & drawn.rect();
            bool found = false;
            for (int y = rect.top(); y <= rect.bottom() && !found; ++y)
                for (int x = rect.left(); x <= rect.right() && !found; ++x)
                    found = drawn.pixelColor(x, y) == QColor(200, 30, 30);
            red.append(found);
        }
        return red;
    };
    const QList<bool> measured{false, true, true};
    QTRY_COMPARE_WITH_TIMEOUT(marks(), measured, 10000);
    QTRY_COMPARE(redRows(), measured);
    if (playing) {
        selectRows(list, {2});
        Command1(form)->click();
        QTRY_COMPARE(m_fakes->sound.played.value(0), m_dir->filePath("c.wav"));
    }
    ModalAnswerer answerer(QMessageBox::Cancel);
    QList<bool> whileAsked;
    QList<bool> reds;
    bool lost = true;
    answerer.onBox = [&](const ModalAnswerer::Seen &) {
        // Given the time a mark that goes would take to go: the list's timer, a worker.
        lost = QTest::qWaitFor([&] { return marks() != measured; }, 1000);
        whileAsked = marks();
        reds = redRows();
    };
    selectRows(list, {0});
    form.Command2_Click();
    QCOMPARE(answerer.seen.size(), 1);
    QVERIFY(m_files.trashed.isEmpty());
    QVERIFY(!lost);
    QCOMPARE(whileAsked, measured);
    QCOMPARE(reds, measured);
    QCOMPARE(marks(), measured);
    QTRY_COMPARE(redRows(), measured);
    QVERIFY(!QTest::qWaitFor([&] { return marks() != measured; }, 1000));
}

void TestFileOps::aReadOnlyFileIsReportedOnceAndTheOthersGo()
{
    Form1 &form = *m_form;
    QVERIFY(QFile::setPermissions(m_dir->filePath("a.wav"), QFileDevice::ReadOwner));
    QVERIFY(QFile::setPermissions(m_dir->filePath("b.wav"), QFileDevice::ReadOwner));
    ModalAnswerer answerer(QMessageBox::Ok);
    File1(form)->selectAll();
    form.Command2_Click();
    QCOMPARE(answerer.seen.size(), 2); // the question, then one failure message
    QCOMPARE(answerer.seen[1].text, QString("Cant delete file !"));
    QCOMPARE(answerer.seen[1].title, QString("Error"));
    QCOMPARE(answerer.seen[1].icon, QMessageBox::Critical);
    QVERIFY(QFile::exists(m_dir->filePath("a.wav")));
    QVERIFY(!QFile::exists(m_dir->filePath("c.wav")));
    QCOMPARE(File1(form)->listCount(), 2);
}

void TestFileOps::aFailurePausesTheJobUntilTheUserIsTold()
{
    // The sources of a move cannot be removed: the first failure pauses the worker, which
    // does nothing more until told to go on, and an interruption ends a paused job at once.
    for (const bool interrupt : {false, true}) {
        QTemporaryDir to;
        const QStringList sources = {m_dir->filePath("a.wav"), m_dir->filePath("b.wav"),
                                     m_dir->filePath("c.wav")};
        m_files.undeletable = {sources[0], sources[1]};
        m_files.calls.clear();
        const std::unique_ptr<TransferJob> job =
            TransferJob::copying(m_files, sources, {0, 1, 2}, to.path(), true);
        QSignalSpy failed(job.get(), &TransferJob::failed);
        QSignalSpy finished(job.get(), &TransferJob::finished);
        workPool().start(Lane::now, [job = job.get()] { job->run(); });
        QTRY_COMPARE(failed.size(), 1);
        QCOMPARE(failed[0][0].toString(), QString("Error while copying ..."));
        QTest::qWait(100); // a worker that did not pause would be on the next file by now
        const qsizetype callsWhilePaused = m_files.calls.size();
        QVERIFY(!m_files.calls.join(' ').contains("b.wav"));
        QVERIFY(finished.isEmpty());
        if (interrupt)
            job->requestInterruption();
        else
            job->resume();
        QTRY_COMPARE(finished.size(), 1);
        job->waitForExit();
        QCOMPARE(failed.size(), 1); // once, whatever fails after
        if (interrupt) {
            QCOMPARE(m_files.calls.size(), callsWhilePaused);
            QCOMPARE(finished[0][0].value<QList<int>>(), QList<int>());
        } else {
            QCOMPARE(finished[0][0].value<QList<int>>(), QList<int>({2})); // c.wav moved
            QVERIFY(!QFile::exists(sources[2]));
        }
        m_files.undeletable.clear();
        for (const QString &source : sources)
            if (!QFile::exists(source))
                QVERIFY(QFile::copy(to.filePath(QFileInfo(source).fileName()), source));
    }
}

void TestFileOps::copyDialogControlsAndKeys()
{
    CurrentDrive drive(m_fakes->volumes);
    Form3 dialog(m_fakes->volumes, drive, m_fakes->desktop, nullptr);
    QCOMPARE(dialog.windowTitle(), QString("Copy selected file(s) to where ?"));
    QCOMPARE(dialog.size(), QSize(249, 273));
    QCOMPARE(dialog.Dir1->geometry(), QRect(8, 8, 233, 171));
    QCOMPARE(dialog.Drive1->geometry(), QRect(8, 184, 233, 21));
    QCOMPARE(dialog.Check1->text(), QString("Delete origin after copying"));
    QVERIFY(!dialog.Check1->isChecked());
    QCOMPARE(dialog.Command1->text(), QString("&Copy"));
    QCOMPARE(dialog.Command1->geometry(), QRect(88, 240, 73, 25));
    QCOMPARE(dialog.Command2->text(), QString("C&ancel"));
    QCOMPARE(dialog.Drive1->nextInFocusChain(), static_cast<QWidget *>(dialog.Dir1));
    QCOMPARE(dialog.Dir1->accessibleName(), QString("Directories"));
    QCOMPARE(dialog.Drive1->accessibleName(), QString("Drives"));
    QCOMPARE(dialog.Dir1->path(), m_dir->path());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.focusWidget(), static_cast<QWidget *>(dialog.Dir1));
    // Enter opens the folder and nothing else; Enter on the check box copies nothing either.
    QTest::keyClick(dialog.Dir1, Qt::Key_Down);
    QTest::keyClick(dialog.Dir1, Qt::Key_Return);
    QCOMPARE(dialog.Dir1->path(), m_to);
    dialog.Check1->setFocus();
    QTest::keyClick(dialog.Check1, Qt::Key_Return);
    QTest::keyClick(dialog.Check1, Qt::Key_Enter);
    QVERIFY(dialog.isVisible());
    QVERIFY(!dialog.choice());
    // "&Copy" acts when it is the button with the focus.
    dialog.Command1->setFocus();
    QTest::keyClick(dialog.Command1, Qt::Key_Return);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.choice()->folder, m_to);
    QVERIFY(!dialog.choice()->deleteOrigin);

    // Its own volume list reports a volume that cannot be read and goes back, without the
    // main window's beep.
    m_fakes->volumes.volumes = {{"/", ""}, {"/media/cd", "CD"}};
    m_fakes->volumes.failing["/media/cd"] = "No medium found";
    Form3 again(m_fakes->volumes, drive, m_fakes->desktop, nullptr);
    ModalAnswerer answerer;
    again.Drive1->setDrive("/media/cd");
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].text, QString("No medium found"));
    QCOMPARE(again.Drive1->drive(), QString("/"));
    QCOMPARE(m_fakes->desktop.beeps, 0);
}

void TestFileOps::copyThrough(std::function<void(Form3 *)> answer, ModalAnswerer &answerer)
{
    answerer.onOther = [answer](QWidget *w) {
        if (qobject_cast<QProgressDialog *>(w))
            return; // a slow copy's progress: it goes when the copy is over
        auto *dialog = qobject_cast<Form3 *>(w);
        QVERIFY(dialog);
        answer(dialog);
    };
    m_form->Command5_Click();
    QVERIFY(!QApplication::overrideCursor());
}

void TestFileOps::anEmptyPlayListOpensNoDialog()
{
    ModalAnswerer answerer;
    bool opened = false;
    copyThrough(
        [&](Form3 *d) {
            opened = true;
            d->reject();
        },
        answerer);
    QVERIFY(!opened);
}

void TestFileOps::noneSelectedCopiesAllAndEmptiesTheList()
{
    Form1 &form = *m_form;
    File1(form)->selectAll();
    form.Command3_Click();
    ModalAnswerer answerer;
    copyThrough(copyTo(m_to), answerer);
    QVERIFY(answerer.seen.isEmpty());
    // Into the folder chosen, a plain copy each (only a move waits for the disk), and no
    // source removed.
    QStringList expected;
    for (const char *name : {"a.wav", "b.wav", "c.wav"})
        expected << "copy " + m_to + "/" + name;
    QCOMPARE(m_files.calls, expected);
    QCOMPARE(QDir(m_to).entryList(QDir::Files), QStringList({"a.wav", "b.wav", "c.wav"}));
    QVERIFY(QFile::exists(m_dir->filePath("a.wav")));
    QCOMPARE(form.playList().count(), 0);
    QCOMPARE(List3(form)->model()->rowCount(), 0);
}

void TestFileOps::onlyTheSelectedEntryIsCopied()
{
    Form1 &form = *m_form;
    File1(form)->selectAll();
    form.Command3_Click();
    selectRows(List1(form), {1});
    ModalAnswerer answerer;
    copyThrough(copyTo(m_to), answerer);
    QCOMPARE(QDir(m_to).entryList(QDir::Files), QStringList({"b.wav"}));
    QCOMPARE(form.playList().names(), QStringList({"a.wav", "c.wav"}));
    QCOMPARE(form.playList().paths(),
             QStringList({m_dir->filePath("a.wav"), m_dir->filePath("c.wav")}));
}

void TestFileOps::cancelOrClosingTheDialogChangesNothing()
{
    Form1 &form = *m_form;
    File1(form)->selectAll();
    form.Command3_Click();
    ModalAnswerer answerer;
    copyThrough(
        [&](Form3 *d) {
            QVERIFY(d->Dir1->setPath(m_to).ok());
            d->Check1->setChecked(true);
            d->Command2->click();
        },
        answerer);
    QVERIFY(m_files.calls.isEmpty());
    copyThrough(
        [&](Form3 *d) {
            QVERIFY(d->Dir1->setPath(m_to).ok());
            d->close(); // the frame's close box
        },
        answerer);
    QVERIFY(m_files.calls.isEmpty());
    QVERIFY(QDir(m_to).entryList(QDir::Files).isEmpty());
    QCOMPARE(form.playList().count(), 3);
    QCOMPARE(QDir(m_dir->path()).entryList({"*.wav"}, QDir::Files).size(), 3);
}

void TestFileOps::moveDeletesEachSourceAfterItsCopy()
{
    Form1 &form = *m_form;
    File1(form)->selectAll();
    form.Command3_Click();
    selectRows(List1(form), {0, 1, 2});
    // b.wav sits on a medium where it cannot be deleted: copied, but not moved.
    m_files.undeletable.insert(m_dir->filePath("b.wav"));
    ModalAnswerer answerer;
    copyThrough(copyTo(m_to, true), answerer);
    QCOMPARE(QDir(m_to).entryList(QDir::Files), QStringList({"a.wav", "b.wav", "c.wav"}));
    // Each source goes only once its copy and the copy's name in the folder are on the disk.
    QStringList expected;
    for (const char *name : {"a.wav", "b.wav", "c.wav"})
        expected << "durable copy " + m_to + "/" + name << "sync " + m_to + "/"
                 << "remove " + m_dir->filePath(name);
    QCOMPARE(m_files.calls, expected);
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].text, QString("Error while copying ..."));
    QCOMPARE(File1(form)->listCount(), 1); // only b.wav is left in the shown folder
    // The source that stayed keeps its entry, selected, as a failed copy does.
    QCOMPARE(form.playList().names(), QStringList({"b.wav"}));
    QCOMPARE(form.playList().path(0), m_dir->filePath("b.wav"));
    QCOMPARE(selectedRowsIn(List1(form)), QList<int>({0}));
    QFile moved(m_dir->filePath("to/c.wav"));
    QVERIFY(moved.open(QIODevice::ReadOnly));
    QCOMPARE(moved.readAll(), QByteArray("RIFFc.wav"));
}

void TestFileOps::copyingOntoTheSourceFolderFailsAndKeepsTheSources()
{
    Form1 &form = *m_form;
    File1(form)->selectAll();
    form.Command3_Click();
    write(m_dir->filePath("to/c.wav"), "already here");
    write(m_dir->filePath("to/elsewhere.wav"));
    form.playList().AddEntry("elsewhere.wav", m_dir->filePath("to/elsewhere.wav"));
    selectRows(List1(form), {0, 2, 3});
    ModalAnswerer answerer;
    answerer.onBox = [](const ModalAnswerer::Seen &) {
        QVERIFY(!QApplication::overrideCursor()); // the pointer is restored before the box
    };
    // Into the folder that holds a.wav and c.wav: a.wav cannot be copied onto itself; c.wav
    // exists at the destination "to"... here the destination is the source folder itself.
    copyThrough(copyTo(m_dir->path(), true), answerer);
    QCOMPARE(answerer.seen.size(), 1); // once per run
    QCOMPARE(answerer.seen[0].text, QString("Error while copying ..."));
    QCOMPARE(answerer.seen[0].title, QString("Copy"));
    QCOMPARE(answerer.seen[0].icon, QMessageBox::Critical);
    // The sources that could not be copied are untouched; the one that could was moved.
    QFile a(m_dir->filePath("a.wav"));
    QVERIFY(a.open(QIODevice::ReadOnly));
    QCOMPARE(a.readAll(), QByteArray("RIFFa.wav"));
    QVERIFY(QFile::exists(m_dir->filePath("c.wav")));
    QVERIFY(QFile::exists(m_dir->filePath("elsewhere.wav")));
    QVERIFY(!QFile::exists(m_dir->filePath("to/elsewhere.wav")));
    // Failed entries stay listed and selected, paired with their paths.
    QCOMPARE(form.playList().names(), QStringList({"a.wav", "b.wav", "c.wav"}));
    QCOMPARE(form.playList().path(2), m_dir->filePath("c.wav"));
    QCOMPARE(selectedRowsIn(List1(form)), QList<int>({0, 2}));

    // An existing file at the destination is kept and reported.
    selectRows(List1(form), {2});
    copyThrough(copyTo(m_to), answerer);
    QCOMPARE(answerer.seen.size(), 2);
    QFile kept(m_dir->filePath("to/c.wav"));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("already here"));
    QCOMPARE(form.playList().count(), 3);
}

void TestFileOps::cancelStopsMidFileLeavingNoTrace_data()
{
    QTest::addColumn<bool>("move");
    QTest::addColumn<QString>("how"); // "Cancel", Escape, or the program told to end
    QTest::newRow("copy, Cancel") << false << "Cancel";
    QTest::newRow("move, Cancel") << true << "Cancel";
    QTest::newRow("move, Escape") << true << "Escape";
    QTest::newRow("copy, then a logout") << false << "end";
}

void TestFileOps::cancelStopsMidFileLeavingNoTrace()
{
    QFETCH(bool, move);
    QFETCH(QString, how);
    const bool quit = how == "end";
    Form1 &form = *m_form;
    // b.wav is large and on a slow medium: the copy lasts long enough for the progress window.
    write(m_dir->filePath("b.wav"), QByteArray(3 * 1024 * 1024, 'x'));
    write(m_dir->filePath("d.wav"));
    m_files.slowSource = m_dir->filePath("b.wav");
    m_files.slowMs = 1500;
    File1(form)->selectAll();
    form.Command3_Click();
    List1(form)->clearSelection(); // nothing selected: the whole play list
    ModalAnswerer answerer;
    bool progressShown = false;
    int countWhileCopying = -1;
    QElapsedTimer clock;
    answerer.onOther = [&](QWidget *w) {
        if (auto *dialog = qobject_cast<Form3 *>(w)) {
            clock.start();
            copyTo(m_to, move)(dialog);
            // "Open with" in the first half second, before the progress window: it waits, so
            // the play list holds still under the worker.
            QTimer::singleShot(150, &form, [&] {
                form.openPaths({m_dir->filePath("d.wav")});
                countWhileCopying = form.playList().count();
            });
        } else if (auto *progress = qobject_cast<QProgressDialog *>(w)) {
            progressShown = true;
            QVERIFY(progress->labelText().contains("Copying b.wav"));
            QVERIFY(progress->labelText().contains("1 of 3 files"));
            // The main window is painted but takes no input meanwhile.
            QCOMPARE(QApplication::activeModalWidget(), progress);
            if (quit)
                QCoreApplication::exit(0); // as SIGTERM and the media controls' Quit do
            else if (how == "Escape") {
                QTRY_VERIFY(progress->isActiveWindow()); // it has the keys, not the main window
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            } else
                progress->findChild<QPushButton *>()->click();
        }
    };
    form.Command5_Click();
    if (quit) {
        // The test goes on after the "end": a main loop run once forgets the exit.
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }
    QVERIFY(progressShown);
    QCOMPARE(countWhileCopying, 3);
    QVERIFY2(clock.elapsed() < 1500 + 1000, "the cancel waited for more than the file at hand");
    QVERIFY(answerer.seen.isEmpty()); // a cancel is not a failure
    // a.wav is done; b.wav left no partial file and keeps its source; c.wav was not reached.
    QCOMPARE(QDir(m_to).entryList(QDir::Files | QDir::Hidden), QStringList({"a.wav"}));
    QCOMPARE(QFile::exists(m_dir->filePath("a.wav")), !move);
    QVERIFY(QFile::exists(m_dir->filePath("b.wav")));
    // The main loop run after the "end" also opened the waiting d.wav, alone selected.
    if (!quit) {
        QCOMPARE(form.playList().names(), QStringList({"b.wav", "c.wav"}));
        QCOMPARE(selectedRowsIn(List1(form)), QList<int>({0, 1}));
    } else
        QCOMPARE(form.playList().names().mid(0, 2), QStringList({"b.wav", "c.wav"}));
    QVERIFY(!QApplication::overrideCursor());
    QTRY_COMPARE(form.playList().names(), QStringList({"b.wav", "c.wav", "d.wav"}));
}

void TestFileOps::editWavStartsTheEditorOnTheCurrentFile()
{
    Form1 &form = *m_form;
    form.state.soundEditor = "audacity";
    // A folder just read has no current entry: nothing starts on a file nobody chose, also
    // once the list has the keyboard's focus (a view makes its first row current then).
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    File1(form)->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(File1(form)->hasFocus());
    form.Command6_Click();
    QVERIFY(m_fakes->desktop.started.isEmpty());
    QTest::keyClick(File1(form), Qt::Key_Down); // the keys start from the first row
    QCOMPARE(File1(form)->fileName(), QString("a.wav"));
    File1(form)->setCurrentIndex(File1(form)->model()->index(0, 0));
    form.Command6_Click();
    QCOMPARE(m_fakes->desktop.started.value(0),
             QStringList({"audacity", m_dir->filePath("a.wav")}));
    QVERIFY(QDir(m_dir->path()).mkdir("my wavs"));
    write(m_dir->filePath("my wavs/x.wav"));
    QVERIFY(Dir1(form)->setPath(m_dir->filePath("my wavs")).ok());
    form.Command6_Click();
    QCOMPARE(m_fakes->desktop.started.size(), 1);
    File1(form)->setCurrentIndex(File1(form)->model()->index(0, 0));
    form.Command6_Click();
    QCOMPARE(m_fakes->desktop.started.value(1),
             QStringList({"audacity", m_dir->filePath("my wavs/x.wav")}));
    QVERIFY(QDir(m_dir->filePath("empty")).mkpath("."));
    QVERIFY(Dir1(form)->setPath(m_dir->filePath("empty")).ok());
    form.Command6_Click();
    QCOMPARE(m_fakes->desktop.started.size(), 2); // no current file: nothing starts
}

void TestFileOps::theEditorGetsThePathAsOneArgument()
{
    // A small editor that writes down the arguments it gets, one a line.
    const QString log = m_dir->filePath("args.txt");
    const QString editor = m_dir->filePath("record-args");
    write(editor, QString("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '%1'\n")
                      .arg(log)
                      .toUtf8());
    QVERIFY(QFile::setPermissions(editor, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner));
    QVERIFY(QDir(m_dir->path()).mkdir("my wavs"));
    SystemDesktop desktop;
    // A name that is not UTF-8 reaches the editor byte for byte.
    for (const QString &file : {m_dir->filePath("my wavs/a;echo hacked.wav"),
                                m_dir->filePath("my wavs/") + pathFromNative("caf\xe9.wav")}) {
        QFile::remove(log);
        const int fd = ::open(nativePath(file).constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
        const EditorCommand command = editorCommandFor("'" + editor + "' --flag", file);
        QVERIFY(desktop.startDetached(command.program, command.arguments));
        QTRY_VERIFY(QFileInfo(log).size() > 0);
        QFile f(log);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), "--flag\n" + nativePath(file) + "\n");
        QCOMPARE(::unlink(nativePath(file).constData()), 0);
    }
    QVERIFY(!desktop.startDetached(m_dir->filePath("no-such-editor"), {log}));
}

void TestFileOps::aMissingEditorOffersTheChooserOnce()
{
    Form1 &form = *m_form;
    m_fakes->desktop.startResult = false;
    form.state.soundEditor = "missing-editor";
    ModalAnswerer answerer;
    int choosers = 0;
    answerer.onOther = [&](QWidget *w) {
        auto *chooser = qobject_cast<Form4 *>(w);
        QVERIFY(chooser);
        ++choosers;
        chooser->Command4->click(); // cancel: the operation ends
    };
    File1(form)->setCurrentIndex(File1(form)->model()->index(0, 0));
    form.Command6_Click();
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].text, QString("Sound editor not found !!!"));
    QCOMPARE(choosers, 1);
    QCOMPARE(m_fakes->desktop.started.size(), 1);

    // With a new editor accepted it is tried once more.
    answerer.onOther = [&](QWidget *w) {
        auto *chooser = qobject_cast<Form4 *>(w);
        chooser->Text1->setText("other-editor");
        chooser->Command1->click();
    };
    form.Command6_Click();
    QCOMPARE(m_fakes->desktop.started.size(), 3);
    QCOMPARE(m_fakes->desktop.started.last().first(), QString("other-editor"));
    QCOMPARE(answerer.seen.size(), 3); // not found, then not found again, and the end
}

void TestFileOps::chooserAcceptBlankAndDefault()
{
    Form1 &form = *m_form;
    form.state.soundEditor = "audacity";
    ModalAnswerer answerer;
    // "&New" with the chooser answered by `answer`.
    const auto choose = [&](std::function<void(Form4 *)> answer) {
        answerer.onOther = [answer](QWidget *w) {
            auto *chooser = qobject_cast<Form4 *>(w);
            QVERIFY(chooser);
            answer(chooser);
        };
        form.Command9_Click();
    };
    choose([](Form4 *chooser) {
        QCOMPARE(chooser->windowTitle(), QString("New editor"));
        QCOMPARE(chooser->size(), QSize(305, 121));
        QCOMPARE(chooser->Text1->text(), QString("audacity")); // as stored, not upper-cased
        QCOMPARE(chooser->Text1->accessibleName(), QString("Sound editor"));
        QCOMPARE(chooser->Command4->nextInFocusChain(), static_cast<QWidget *>(chooser->Command1));
        QCOMPARE(chooser->focusWidget(), static_cast<QWidget *>(chooser->Command1));
        chooser->Text1->setText("   ");
        chooser->Check1->setChecked(true);
        chooser->Command1->click();
    });
    QCOMPARE(form.state.soundEditor, QString("audacity")); // blank: nothing changes
    QVERIFY(m_fakes->settings.writes.isEmpty());
    choose([](Form4 *chooser) {
        chooser->Text1->setText("sox --play");
        chooser->Command1->click();
    });
    QCOMPARE(form.state.soundEditor, QString("sox --play"));
    QVERIFY(m_fakes->settings.writes.isEmpty()); // this run only
    choose([](Form4 *chooser) {
        QVERIFY(!chooser->Check1->isChecked());
        chooser->Text1->setText("ocenaudio");
        chooser->Check1->setChecked(true);
        chooser->Command1->click();
    });
    QCOMPARE(form.state.soundEditor, QString("ocenaudio"));
    QCOMPARE(m_fakes->settings.writes, QStringList({"SoundEditor/Default=ocenaudio"}));
    QVERIFY(answerer.seen.isEmpty());
    // Saved as default into a settings file that cannot be written: the user is told.
    m_fakes->settings.failing = true;
    choose([](Form4 *chooser) {
        chooser->Text1->setText("tenacity");
        chooser->Check1->setChecked(true);
        chooser->Command1->click();
    });
    QCOMPARE(form.state.soundEditor, QString("tenacity")); // for this run at least
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].title, QString("Error"));
    QCOMPARE(answerer.seen[0].icon, QMessageBox::Critical);
    QVERIFY(answerer.seen[0].text.contains("/fake/QuillonSonoret.ini"));
    // "&Cancel" changes nothing.
    choose([](Form4 *chooser) {
        chooser->Text1->setText("never-used");
        chooser->Command4->click();
    });
    QCOMPARE(form.state.soundEditor, QString("tenacity"));
    {
        // "B&rowse", then nothing chosen: the field keeps its text.
        Form4 chooser("tenacity", m_fakes->volumes, nullptr);
        QString title;
        answerer.onOther = [&](QWidget *w) {
            title = w->windowTitle();
            static_cast<QDialog *>(w)->reject();
        };
        chooser.Command3->click();
        QCOMPARE(title, QString("Choose a new editor"));
        QCOMPARE(chooser.Text1->text(), QString("tenacity"));
    }
    QCOMPARE(nameFiltersOf("Exes (*.exe)|*.exe|Coms (*.com)|*.com"),
             QStringList({"Programs (*)", "Exes (*.exe)", "Coms (*.com)"}));
}

void TestFileOps::enterAndEscapeInTheCommandField()
{
    Form4 chooser("audacity", m_fakes->volumes, nullptr);
    chooser.show();
    QVERIFY(QTest::qWaitForWindowActive(&chooser));
    chooser.Text1->setFocus();
    QTest::keyClick(chooser.Text1, Qt::Key_Escape);
    QVERIFY(chooser.isVisible());
    QTest::keyClick(chooser.Text1, Qt::Key_X);
    QTest::keyClick(chooser.Text1, Qt::Key_Return);
    QVERIFY(chooser.isVisible()); // Enter only moves to "&Accept"
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(chooser.Command1));
    QCOMPARE(chooser.Text1->text(), QString("audacityx"));
    // Enter on the check box opens no chooser ("B&rowse" acts only when pressed).
    ModalAnswerer answerer;
    int others = 0;
    answerer.onOther = [&](QWidget *w) {
        ++others;
        static_cast<QDialog *>(w)->reject();
    };
    chooser.Check1->setFocus();
    QTest::keyClick(chooser.Check1, Qt::Key_Space);
    QTest::keyClick(chooser.Check1, Qt::Key_Return);
    QTest::qWait(50); // a chooser would open from a queued click: give it the chance
    QCOMPARE(others, 0);
    QVERIFY(chooser.isVisible());
    chooser.Command1->setFocus();
    QTest::keyClick(chooser.Command1, Qt::Key_Return);
    QVERIFY(!chooser.isVisible());
    QCOMPARE(chooser.choice()->command, QString("audacityx"));
    QVERIFY(chooser.choice()->storeAsDefault);
}

QTEST_MAIN(TestFileOps)
#include "tst_fileops.moc"
