#include "FormFixture.h"
#include "TestFiles.h"
#include "WaveWriter.h"
#include "app/Form1.h"
#include "audition/AuditionBand.h"
#include "browser/FileList.h"
#include "files/DirList.h"
#include "files/DriveList.h"
#include "files/FileFacts.h"
#include "platform/NativeName.h"
#include "platform/WaveInfo.h"
#include "playlist/FileDrag.h"
#include "playlist/PlayListModel.h"
#include "playlist/PlayListView.h"

#include <QBrush>
#include <QDir>
#include <QHelpEvent>
#include <QLabel>
#include <QListView>
#include <QMimeData>
#include <QMouseEvent>
#include <QMutex>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <QUrl>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Entries whose file has gone are drawn in the disabled text colour.
bool missingAt(const QAbstractItemView *list, int row)
{
    return list->model()->index(row, 0).data(PlayListModel::MissingRole).toBool();
}

const QString internalType = QStringLiteral("application/x-quillon-sonoret-files");
} // namespace

class TestPlayList : public QObject, protected FormFixture
{
    Q_OBJECT
private slots:
    void init();
    void addingTwiceAndFromTwoFolders();
    void addingFromTheRootJoinsOneSlash();
    void fiveSelectedAreAddedInFileListOrder();
    void removingKeepsOrderSelectionAndPairing();
    void nothingSelectedChangesNothing();
    void onlyALeftPressOnAFullListArmsADrag();
    void pressingOnTheSelectionAndMovingStartsADrag_data();
    void pressingOnTheSelectionAndMovingStartsADrag();
    void dropOnThePlayListAddsTheSelection();
    void dragPictureFollowsThePointer();
    void filesDroppedFromAFileManager();
    void entriesWhoseFileHasGoneAreMarked();
    void entriesInViewAreReadAndTheirTooltipsFollow();
    void dragsOfferTheFilesToOtherPrograms_data();
    void dragsOfferTheFilesToOtherPrograms();

private:
    void sendDrag(QWidget *target, const QMimeData &mime, QEvent::Type type);
};

void TestPlayList::init()
{
    makeFolder({"a.wav", "b.wav", "c.wav", "d.wav", "e.wav", "other/a.wav"});
    makeForm();
}

void TestPlayList::addingTwiceAndFromTwoFolders()
{
    Form1 &form = *m_form;
    selectRows(File1(form), {0});
    form.Command3_Click();
    form.Command3_Click();
    QCOMPARE(form.playList().count(), 1);
    QVERIFY(Dir1(form)->setPath(m_dir->filePath("other")).ok());
    selectRows(File1(form), {0});
    form.Command3_Click();
    QCOMPARE(form.playList().names(), QStringList({"a.wav", "a.wav"}));
    QCOMPARE(form.playList().paths(),
             QStringList({m_dir->filePath("a.wav"), m_dir->filePath("other/a.wav")}));
    QCOMPARE(List3(form)->model()->rowCount(), List1(form)->model()->rowCount());
}

void TestPlayList::addingFromTheRootJoinsOneSlash()
{
    const QString name =
        QStringLiteral("quillon-test-%1.wav").arg(QCoreApplication::applicationPid());
    QFile file("/" + name);
    if (!file.open(QIODevice::WriteOnly))
        QSKIP("the root folder is not writable here");
    file.close();
    QVERIFY(Dir1(*m_form)->setPath("/").ok());
    const int row = File1(*m_form)->listCount() > 0
                        ? static_cast<int>(File1(*m_form)
                                               ->model()
                                               ->match(File1(*m_form)->model()->index(0, 0),
                                                       Qt::DisplayRole, name)
                                               .value(0)
                                               .row())
                        : -1;
    QVERIFY(row >= 0);
    selectRows(File1(*m_form), {row});
    m_form->Command3_Click();
    file.remove();
    QCOMPARE(m_form->playList().path(0), "/" + name);
    QCOMPARE(m_form->playList().name(0), name);
}

void TestPlayList::fiveSelectedAreAddedInFileListOrder()
{
    Form1 &form = *m_form;
    selectRows(File1(form), {3, 1});
    form.Command3_Click();
    // The user picks the five in any order; they are added in the list's order, after
    // those already there and without them again.
    selectRows(File1(form), {4, 0, 2, 1, 3});
    form.Command3_Click();
    QCOMPARE(form.playList().names(), QStringList({"b.wav", "d.wav", "a.wav", "c.wav", "e.wav"}));
    for (int i = 0; i < 5; ++i)
        QCOMPARE(form.playList().path(i), m_dir->filePath(form.playList().name(i)));
}

void TestPlayList::removingKeepsOrderSelectionAndPairing()
{
    Form1 &form = *m_form;
    File1(form)->selectAll();
    form.Command3_Click();
    selectRows(List1(form), {1, 3});
    form.Command4_Click();
    QCOMPARE(form.playList().names(), QStringList({"a.wav", "c.wav", "e.wav"}));
    QCOMPARE(form.playList().paths(),
             QStringList(
                 {m_dir->filePath("a.wav"), m_dir->filePath("c.wav"), m_dir->filePath("e.wav")}));
    QVERIFY(selectedRowsIn(List1(form)).isEmpty());
    // Removed entries may be added again: the duplicate check forgot them.
    selectRows(File1(form), {1});
    form.Command3_Click();
    QCOMPARE(form.playList().name(3), QString("b.wav"));

    // The band names the play list's entry with the focus frame; once that entry is taken
    // off, it names what is at hand then: nothing. Another entry taken off leaves it be.
    form.toggleWaveform();
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    auto *band = form.findChild<AuditionBand *>("AuditionBand");
    QVERIFY(band);
    List1(form)->setFocus(Qt::MouseFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(List1(form)));
    QItemSelectionModel *selection = List1(form)->selectionModel();
    selection->setCurrentIndex(form.playList().index(0), QItemSelectionModel::NoUpdate);
    selectRows(List1(form), {2});
    QCOMPARE(band->path(), m_dir->filePath("a.wav"));
    form.Command4_Click(); // e.wav
    QCOMPARE(form.playList().names(), QStringList({"a.wav", "c.wav", "b.wav"}));
    QCoreApplication::processEvents(); // the band looks again once the list is made anew
    QCOMPARE(band->path(), m_dir->filePath("a.wav"));
    selection->setCurrentIndex(form.playList().index(1), QItemSelectionModel::ClearAndSelect);
    QCOMPARE(band->path(), m_dir->filePath("c.wav"));
    QTest::keyClick(List1(form), Qt::Key_Delete);
    QCOMPARE(form.playList().names(), QStringList({"a.wav", "b.wav"}));
    QTRY_COMPARE(band->path(), QString());
}

void TestPlayList::nothingSelectedChangesNothing()
{
    Form1 &form = *m_form;
    form.Command3_Click();
    QCOMPARE(form.playList().count(), 0);
    File1(form)->selectAll();
    form.Command3_Click();
    List1(form)->clearSelection();
    form.Command4_Click();
    QCOMPARE(form.playList().count(), 5);
}

void TestPlayList::onlyALeftPressOnAFullListArmsADrag()
{
    Form1 &form = *m_form;
    form.File1_MouseDown(Qt::RightButton);
    QVERIFY(!form.dragArmed());
    form.File1_MouseDown(Qt::MiddleButton);
    QVERIFY(!form.dragArmed());
    form.File1_MouseDown(Qt::LeftButton);
    QVERIFY(form.dragArmed());
    QVERIFY(Dir1(form)->setPath(m_dir->filePath("other/..")).ok());
    QVERIFY(QDir(m_dir->filePath("empty")).mkpath("."));
    QVERIFY(Dir1(form)->setPath(m_dir->filePath("empty")).ok());
    form.File1_MouseDown(Qt::LeftButton);
    QVERIFY(!form.dragArmed());
}

void TestPlayList::pressingOnTheSelectionAndMovingStartsADrag_data()
{
    QTest::addColumn<bool>("fromFileList");
    QTest::newRow("file list") << true;
    QTest::newRow("play list") << false;
}

// The press and moves a user makes: a view starts a drag only from rows its model lets go,
// and otherwise the moves stretch the selection over the rows they cross.
void TestPlayList::pressingOnTheSelectionAndMovingStartsADrag()
{
    QFETCH(bool, fromFileList);
    Form1 &form = *m_form;
    if (!fromFileList) {
        File1(form)->selectAll();
        form.Command3_Click();
    }
    QAbstractItemView *view = fromFileList ? static_cast<QAbstractItemView *>(File1(form))
                                           : static_cast<QAbstractItemView *>(List1(form));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QSignalSpy fileDrags(File1(form), &FileList::dragRequested);
    QSignalSpy playListDrags(List1(form), &PlayListView::dragStarted);
    QWidget *viewport = view->viewport();
    const auto rowAt = [&](int row) {
        return view->visualRect(view->model()->index(row, 0)).center();
    };
    QTest::mouseClick(viewport, Qt::LeftButton, {}, rowAt(0));
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::ControlModifier, rowAt(2));
    const QList<int> chosen = {0, 2};
    QCOMPARE(fromFileList ? selectedRowsIn(File1(form)) : selectedRowsIn(List1(form)), chosen);
    // Pressed on c.wav, then down over d.wav and e.wav in small steps.
    QTest::mousePress(viewport, Qt::LeftButton, {}, rowAt(2));
    const QPoint from = rowAt(2);
    const QPoint to = rowAt(4);
    // Offscreen the drag ends as soon as it begins; a real one takes the moves after it.
    for (int step = 1; step <= 4 && fileDrags.isEmpty() && playListDrags.isEmpty(); ++step) {
        const QPoint at = from + (to - from) * step / 4;
        QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &move);
    }
    // The drag has begun, and the selection is as it was.
    QCOMPARE(fileDrags.size(), fromFileList ? 1 : 0);
    QCOMPARE(playListDrags.size(), fromFileList ? 0 : 1);
    QCOMPARE(fromFileList ? selectedRowsIn(File1(form)) : selectedRowsIn(List1(form)), chosen);
}

// Qt delivers moves and drops to the widget that took the last enter, as a real drag
// enters each widget it crosses: so enter first, as the pointer would.
void TestPlayList::sendDrag(QWidget *target, const QMimeData &mime, QEvent::Type type)
{
    const QPointF at = QRectF(target->rect()).center();
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(target, &enter);
    if (type == QEvent::DragEnter)
        return;
    if (type == QEvent::Drop) {
        QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(target, &drop);
    } else {
        QDragMoveEvent move(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, {}, type);
        QApplication::sendEvent(target, &move);
    }
}

void TestPlayList::dropOnThePlayListAddsTheSelection()
{
    Form1 &form = *m_form;
    selectRows(File1(form), {0, 2});
    QMimeData mime;
    mime.setData(internalType, {});
    for (QWidget *elsewhere :
         {Dir1(form)->viewport(), static_cast<QWidget *>(Drive1(form)), File1(form)->viewport()})
        sendDrag(elsewhere, mime, QEvent::Drop);
    QCOMPARE(form.playList().count(), 0);
    sendDrag(Command3(form), mime, QEvent::Drop);
    QDropEvent onBackground(QPointF(form.width() - 2, form.height() - 2), Qt::CopyAction, &mime,
                            Qt::LeftButton, {});
    QApplication::sendEvent(&form, &onBackground);
    QCOMPARE(form.playList().count(), 0);
    sendDrag(List1(form)->viewport(), mime, QEvent::Drop);
    QCOMPARE(form.playList().names(), QStringList({"a.wav", "c.wav"}));
}

void TestPlayList::dragPictureFollowsThePointer()
{
    Form1 &form = *m_form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QMimeData mime;
    mime.setData(internalType, {});
    QCOMPARE(form.File1DragIcon(), Image1(form));
    sendDrag(List1(form)->viewport(), mime, QEvent::DragMove);
    QCOMPARE(form.File1DragIcon(), Image3(form)); // the funnel over the play list
    // Over a button the window gets the event, but the picture stays the funnel.
    sendDrag(Command3(form), mime, QEvent::DragMove);
    QCOMPARE(form.File1DragIcon(), Image3(form));
    sendDrag(Dir1(form)->viewport(), mime, QEvent::DragMove);
    QCOMPARE(form.File1DragIcon(), Image2(form)); // the banana
    sendDrag(File1(form)->viewport(), mime, QEvent::DragMove);
    QCOMPARE(form.File1DragIcon(), Image1(form));
    sendDrag(Drive1(form), mime, QEvent::DragMove);
    QCOMPARE(form.File1DragIcon(), Image2(form));
    sendDrag(File1(form)->viewport(), mime, QEvent::DragMove);
    QDragEnterEvent overBackground(QPoint(form.width() - 2, form.height() - 2), Qt::CopyAction,
                                   &mime, Qt::LeftButton, {});
    QApplication::sendEvent(&form, &overBackground);
    QCOMPARE(form.File1DragIcon(), Image2(form));
}

void TestPlayList::filesDroppedFromAFileManager()
{
    Form1 &form = *m_form;
    touch(m_dir->filePath("LOUD.WAV"));
    // A FIFO and a folder named like wave files would never play: they stay out.
    QCOMPARE(::mkfifo(QFile::encodeName(m_dir->filePath("pipe.wav")).constData(), 0600), 0);
    QVERIFY(QDir(m_dir->path()).mkdir("folder.wav"));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(m_dir->filePath("b.wav")),
                  QUrl::fromLocalFile(m_dir->filePath("pipe.wav")),
                  QUrl::fromLocalFile(m_dir->filePath("folder.wav")),
                  QUrl::fromLocalFile(m_dir->filePath("notes.txt")),
                  QUrl("https://example.invalid/remote.wav"),
                  QUrl::fromLocalFile(m_dir->filePath("LOUD.WAV")),
                  QUrl::fromLocalFile(m_dir->filePath("b.wav"))});
    // A name in Latin-1, as a file manager offers it: its bytes, percent-encoded.
    const QString latin = m_dir->filePath(pathFromNative("caf\xe9.wav"));
    const int fd = ::open(nativePath(latin).constData(), O_CREAT | O_WRONLY, 0644);
    QVERIFY(fd >= 0);
    ::close(fd);
    const QByteArray latinUri = "file://" + nativePath(m_dir->path()) + "/caf%E9.wav";
    mime.setData("text/uri-list", mime.data("text/uri-list") + latinUri + "\r\n");
    // Not taken by the file list.
    QDragEnterEvent enterFiles(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(File1(form)->viewport(), &enterFiles);
    QVERIFY(!enterFiles.isAccepted());
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(List1(form)->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    sendDrag(List1(form)->viewport(), mime, QEvent::Drop);
    QCOMPARE(form.playList().names(),
             QStringList({"b.wav", "LOUD.WAV", pathFromNative("caf\xe9.wav")}));
    QCOMPARE(form.playList().path(1), m_dir->filePath("LOUD.WAV"));
    QCOMPARE(form.playList().path(2), latin);
    QCOMPARE(form.File1DragIcon(), Image1(form)); // no picture changes for outside drags
    // Offered to other programs by the same bytes.
    std::unique_ptr<QMimeData> offered(FileDrag::mimeDataFor({latin}, FileDrag::Origin::Elsewhere));
    QCOMPARE(offered->data("text/uri-list").trimmed(), latinUri);
    QCOMPARE(::unlink(nativePath(latin).constData()), 0);
}

void TestPlayList::entriesWhoseFileHasGoneAreMarked()
{
    Form1 &form = *m_form;
    const QString kept = m_dir->filePath("a.wav");
    const QString gone = m_dir->filePath("other/a.wav");
    form.playList().addFiles({kept, gone});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(!missingAt(List1(form), 0));
    QVERIFY(!missingAt(List1(form), 1));
    QVERIFY(QFile::rename(gone, gone + ".away"));
    QTRY_VERIFY_WITH_TIMEOUT(missingAt(List1(form), 1), 2000);
    QVERIFY(!missingAt(List1(form), 0));
    // On screen: the missing entry's darkest pixel is the disabled text colour, the other
    // entry's the normal one (no selection or focus frame is drawn over them).
    List1(form)->selectionModel()->clear();
    List1(form)->setCurrentIndex({});
    const QImage shot = List1(form)->viewport()->grab().toImage();
    const auto darkest = [&](int row) {
        const QRect rect = List1(form)->visualRect(List1(form)->model()->index(row, 0));
        int lightness = 255;
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x <= rect.right(); ++x)
                lightness = std::min(lightness, shot.pixelColor(x, y).lightness());
        return lightness;
    };
    const QPalette palette = List1(form)->palette();
    QCOMPARE(darkest(1), palette.color(QPalette::Disabled, QPalette::Text).lightness());
    QCOMPARE(darkest(0), palette.color(QPalette::Active, QPalette::Text).lightness());
    const QPoint at = List1(form)->visualRect(List1(form)->model()->index(1, 0)).center();
    QHelpEvent help(QEvent::ToolTip, at, List1(form)->viewport()->mapToGlobal(at));
    QCoreApplication::sendEvent(List1(form)->viewport(), &help);
    QTRY_VERIFY(QToolTip::text().contains("Missing: " + gone));
    // The text and the grey are the entry's roles.
    const QModelIndex missing = List1(form)->model()->index(1, 0);
    QCOMPARE(missing.data(Qt::ToolTipRole).toString(), QToolTip::text());
    QCOMPARE(missing.data(Qt::ForegroundRole).value<QBrush>(),
             palette.brush(QPalette::Disabled, QPalette::Text));
    QVERIFY(!List1(form)->model()->index(0, 0).data(Qt::ForegroundRole).isValid());
    // Back again: drawn as any other entry.
    QVERIFY(QFile::rename(gone + ".away", gone));
    QTRY_VERIFY_WITH_TIMEOUT(!missingAt(List1(form), 1), 2000);
}

// As the file list's: the files of the rows in view are read, the others when they come into
// view, and each answer changes the tooltip of its own entry.
void TestPlayList::entriesInViewAreReadAndTheirTooltipsFollow()
{
    QStringList paths;
    for (int i = 0; i < 60; ++i) {
        paths.append(m_dir->filePath(QStringLiteral("t%1.wav").arg(i, 2, 10, QLatin1Char('0'))));
        QVERIFY(writeTone(paths.last(), 0.1));
    }
    QMutex mutex;
    QStringList read;
    FileFacts facts(nullptr, [&](const QString &path) {
        const QMutexLocker lock(&mutex);
        read.append(path);
        return readWaveInfo(path);
    });
    const auto readSoFar = [&] {
        const QMutexLocker lock(&mutex);
        return read;
    };
    PlayListModel model(nullptr);
    PlayListView view(model, nullptr);
    view.resize(200, 120);
    view.setFacts(&facts);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    QCOMPARE(model.addFiles(paths), 60);
    const int visible = view.indexAt(QPoint(1, view.viewport()->height() - 1)).row() + 1;
    QVERIFY(visible > 1 && visible < 60);
    QTRY_COMPARE(readSoFar().size(), visible);
    QStringList inView = readSoFar();
    inView.sort();
    QCOMPARE(inView, paths.mid(0, visible));
    QTRY_COMPARE(changes.size(), visible);
    for (const QList<QVariant> &change : std::as_const(changes)) {
        QCOMPARE(change.at(0).toModelIndex().row(), change.at(1).toModelIndex().row());
        QVERIFY(change.at(2).value<QList<int>>().contains(Qt::ToolTipRole));
    }
    QVERIFY(model.index(0).data(Qt::ToolTipRole).toString().contains("PCM 16-bit, 8,000 Hz"));
    QVERIFY(!model.index(visible).data(Qt::ToolTipRole).toString().contains("PCM"));
    // Scrolled to the end: the last rows are read, and only once each.
    view.scrollToBottom();
    QTRY_VERIFY(facts.known(paths.last()));
    const QStringList all = readSoFar();
    QCOMPARE(QSet<QString>(all.cbegin(), all.cend()).size(), all.size());
    QVERIFY(!all.contains(paths[visible]));
}

void TestPlayList::dragsOfferTheFilesToOtherPrograms_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("ours");
    QTest::newRow("1 from the file list") << 1 << true;
    QTest::newRow("500 from the play list") << 500 << false;
}

void TestPlayList::dragsOfferTheFilesToOtherPrograms()
{
    QFETCH(int, count);
    QFETCH(bool, ours);
    QStringList paths;
    for (int i = 0; i < count; ++i)
        paths.append(QStringLiteral("/rec/day one/Café %1.wav").arg(i));
    std::unique_ptr<QMimeData> mime(FileDrag::mimeDataFor(
        paths, ours ? FileDrag::Origin::FileList : FileDrag::Origin::Elsewhere));
    const QList<QByteArray> uris = mime->data("text/uri-list").trimmed().split('\n');
    QCOMPARE(uris.size(), count);
    QCOMPARE(uris.first().trimmed(), QByteArray("file:///rec/day%20one/Caf%C3%A9%200.wav"));
    QCOMPARE(mime->urls().last().toLocalFile(), paths.last());
    const QByteArray gnome = mime->data("x-special/gnome-copied-files");
    QVERIFY(gnome.startsWith("copy\nfile:///rec/day%20one/Caf%C3%A9%200.wav"));
    QCOMPARE(gnome.count('\n'), count);
    // Only the file list's own drag carries the mark our window answers to.
    QCOMPARE(mime->formats().size(), ours ? 3 : 2);
}

QTEST_MAIN(TestPlayList)
#include "tst_playlist.moc"
