// The library's windows over a real store in a temporary folder: the Find window searches as
// one types, says why a query cannot be read, tells of the indexing, and hands what is done
// with a hit to the main window; the folders window adds and removes folders, never files.
#include "Fakes.h"
#include "WaveWriter.h"
#include "files/DirList.h"
#include "files/FileFacts.h"
#include "files/Loudness.h"
#include "files/LoudnessFacts.h"
#include "library/FindWindow.h"
#include "library/Library.h"
#include "library/LibraryFolderChooser.h"
#include "library/LibraryFoldersWindow.h"
#include "library/LibraryResultsModel.h"
#include "library/LibraryResultsView.h"
#include "platform/NativeName.h"
#include "ui/LineLabel.h"
#include "ui/WindowPlacement.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <utility>

namespace {
QPushButton *button(QWidget *window, const QString &caption)
{
    for (QPushButton *b : window->findChildren<QPushButton *>())
        if (b->text() == caption)
            return b;
    return nullptr;
}

QStringList shownNames(const LibraryResultsModel &model)
{
    QStringList names;
    for (int row = 0; row < model.rowCount(); ++row)
        names.append(model.index(row, LibraryResultsModel::Name).data().toString());
    return names;
}
} // namespace

class TestLibraryUi : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void findsAsOneTypes_data();
    void findsAsOneTypes();
    void anUnreadableQuerySaysWhyBesideTheField();
    void keysAndMenuActOnTheChosenHits();
    void anEmptyLibraryOffersTheBrowsersFolder();
    void foldersAreAddedAndRemovedNeverTheFiles();
    void theFolderChooserOpensOnTheBrowsersFolderEachTimeAndOnce();
    void aTakeMeasuredInTheBrowserIsFoundByItsLoudness();
    void theOldLoudnessCacheIsTakenInOnceAndNeverWritten();
    void damagedFilesAndForeignNamesShowAsTheBrowserShowsThem();
    void signsAloneFindNothingAndTheReasonLeavesTheFieldItsWidth();
    void whatRunsIsToldWithAWayToStopIt();
    void allColumnsShowAtTheSizeFindOpensAt();
    void aLibraryWindowOpensByTheMainWindowClearOfThePlayList_data();
    void aLibraryWindowOpensByTheMainWindowClearOfThePlayList();

private:
    // A library of the music folder, opened and indexed.
    void indexMusic();
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_music;
    Library *m_library = nullptr;
    LibraryResultsModel *m_results = nullptr;
    FindWindow *m_find = nullptr;
};

void TestLibraryUi::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_music = m_dir->filePath(QStringLiteral("music"));
    QVERIFY(QDir().mkpath(m_music + QStringLiteral("/drums")));
    for (const char *name : {"drums/kick one.wav", "drums/snare.wav", "choir take.wav"})
        QVERIFY(writeTone(m_music + u'/' + QString::fromUtf8(name), 0.2));
    m_library = new Library(m_dir->filePath(QStringLiteral("data/library.sqlite")), nullptr);
    m_results = new LibraryResultsModel(m_library, nullptr);
    m_find = new FindWindow(*m_library, *m_results, nullptr);
}

void TestLibraryUi::cleanup()
{
    delete m_find;
    delete m_results;
    delete m_library;
    m_find = nullptr;
    m_results = nullptr;
    m_library = nullptr;
    m_dir.reset();
}

void TestLibraryUi::indexMusic()
{
    QSignalSpy opened(m_library, &Library::opened);
    m_library->open();
    QVERIFY(opened.wait(5000) || m_library->isOpen());
    QSignalSpy running(m_library, &Library::indexingChanged);
    m_library->addRoot(m_music);
    QTRY_VERIFY_WITH_TIMEOUT(!running.isEmpty() && !m_library->isIndexing(), 10000);
}

void TestLibraryUi::findsAsOneTypes_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("found");
    QTest::addColumn<QString>("status");
    // snare.wav's integrated loudness as the store kept it before the folder was indexed, and
    // as measured in this run ("silence": measured, with no figure to bring anywhere); none
    // when not. Then what each hit's LoudnessRole says (the band learns a hit's measurement
    // from it).
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QVariant>("here");
    QTest::addColumn<QVariantList>("loudness");
    const QVariant none;
    QTest::newRow("a fragment of a name")
        << "nar" << QStringList{"snare.wav"} << "1 file" << none << none << QVariantList{none};
    QTest::newRow("a folder's name") << "drums" << QStringList{"kick one.wav", "snare.wav"}
                                     << "2 files" << none << none << QVariantList{none, none};
    QTest::newRow("two words, both needed") << "kick one" << QStringList{"kick one.wav"} << "1 file"
                                            << none << none << QVariantList{none};
    QTest::newRow("a word left out") << "drums -kick" << QStringList{"snare.wav"} << "1 file"
                                     << none << none << QVariantList{none};
    QTest::newRow("a field") << "rate:8000 take" << QStringList{"choir take.wav"} << "1 file"
                             << none << none << QVariantList{none};
    QTest::newRow("nothing found")
        << "zzzz" << QStringList{} << "0 files" << none << none << QVariantList{};
    QTest::newRow("a loudness the store kept")
        << "drums" << QStringList{"kick one.wav", "snare.wav"} << "2 files" << QVariant(-18.0)
        << none << QVariantList{none, -18.0};
    QTest::newRow("a loudness measured in this run")
        << "nar" << QStringList{"snare.wav"} << "1 file" << none << QVariant(-14.0)
        << QVariantList{-14.0};
    // This run's measurement goes before the store's, read with the page.
    QTest::newRow("measured again in this run")
        << "nar" << QStringList{"snare.wav"} << "1 file" << QVariant(-18.0) << QVariant(-14.0)
        << QVariantList{-14.0};
    QTest::newRow("measured, with no figure")
        << "nar" << QStringList{"snare.wav"} << "1 file" << QVariant(-18.0)
        << QVariant(QStringLiteral("silence")) << QVariantList{none};
}

void TestLibraryUi::findsAsOneTypes()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, found);
    QFETCH(QString, status);
    QFETCH(QVariant, stored);
    QFETCH(QVariant, here);
    QFETCH(QVariantList, loudness);
    const QString snare = m_music + QStringLiteral("/drums/snare.wav");
    // The library's own measuring waits while the user browses.
    m_library->holdBack();
    const auto figures = [](double lufs) {
        Loudness measured;
        measured.integratedLufs = lufs;
        measured.rangeLu = 1;
        measured.truePeakDbtp = -3;
        measured.samplePeakDbfs = -3.5;
        return measured;
    };
    // Kept once the library has made its store, and taken into the file's row by the pass.
    if (stored.isValid())
        m_library->loudnessKeeper()->keep(snare, stampOf(snare), figures(stored.toDouble()));
    indexMusic();
    LoudnessFacts facts(nullptr, [&](const QString &, const std::function<bool()> &) {
        return here.toString() == QStringLiteral("silence") ? Loudness() : figures(here.toDouble());
    });
    const auto unset = qScopeGuard([this] { m_results->setLoudness(nullptr); });
    if (here.isValid()) {
        m_results->setLoudness(&facts);
        facts.requestFirst({snare});
        QTRY_VERIFY_WITH_TIMEOUT(facts.known(snare).has_value(), 5000);
    }
    m_find->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_find));
    QTest::keyClicks(m_find->field(), typed);
    // No Enter: the search starts once the typing rests.
    QTRY_COMPARE_WITH_TIMEOUT(shownNames(*m_results), found, 5000);
    auto *line = m_find->findChild<QLabel *>(QStringLiteral("Status"));
    QVERIFY(line);
    QTRY_COMPARE(line->text(), status);
    QVERIFY(m_find->findChild<QLabel *>(QStringLiteral("QueryProblem"))->text().isEmpty());
    QVariantList shown;
    for (int row = 0; row < m_results->rowCount(); ++row)
        shown.append(m_results->index(row, LibraryResultsModel::Name)
                         .data(LibraryResultsModel::LoudnessRole));
    QCOMPARE(shown, loudness);
}

void TestLibraryUi::anUnreadableQuerySaysWhyBesideTheField()
{
    indexMusic();
    m_find->show();
    QTest::keyClicks(m_find->field(), QStringLiteral("snare"));
    QTRY_COMPARE_WITH_TIMEOUT(m_results->rowCount(), 1, 5000);
    m_find->field()->clear();
    QTest::keyClicks(m_find->field(), QStringLiteral("rate:fast"));
    auto *problem = m_find->findChild<QLabel *>(QStringLiteral("QueryProblem"));
    QTRY_VERIFY_WITH_TIMEOUT(!problem->text().isEmpty(), 5000);
    QVERIFY(!problem->text().contains(u'\n'));
    // No rows rather than the last query's, and no box.
    QCOMPARE(m_results->rowCount(), 0);
    QVERIFY(!QApplication::activeModalWidget());
    // Mended, it finds again and the line goes.
    m_find->field()->clear();
    QTest::keyClicks(m_find->field(), QStringLiteral("rate:8000"));
    QTRY_COMPARE_WITH_TIMEOUT(m_results->rowCount(), 3, 5000);
    QVERIFY(problem->text().isEmpty());
}

void TestLibraryUi::keysAndMenuActOnTheChosenHits()
{
    indexMusic();
    m_find->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_find));
    QTest::keyClicks(m_find->field(), QStringLiteral("drums"));
    QTRY_COMPARE_WITH_TIMEOUT(m_results->rowCount(), 2, 5000);
    LibraryResultsView *view = m_find->resultsView();
    QSignalSpy played(m_find, &FindWindow::playWanted);
    QSignalSpy toggled(m_find, &FindWindow::playOrStopWanted);
    QSignalSpy added(m_find, &FindWindow::addWanted);
    // Down from the field reaches the first hit; Enter plays it.
    QTest::keyClick(m_find->field(), Qt::Key_Down);
    QVERIFY(view->hasFocus());
    QTest::keyClick(view, Qt::Key_Down);
    QTest::keyClick(view, Qt::Key_Return);
    QCOMPARE(played.size(), 1);
    const auto hits = played.first().first().value<QModelIndexList>();
    QCOMPARE(hits.size(), 1);
    QVERIFY(hits.first()
                .data(LibraryResultsModel::PathRole)
                .toString()
                .endsWith(QStringLiteral("/drums/snare.wav")));
    QTest::keyClick(view, Qt::Key_Space);
    QCOMPARE(toggled.size(), 1);
    // Both selected, Insert adds both, in the list's order.
    view->selectAll();
    QTest::keyClick(view, Qt::Key_Insert);
    QCOMPARE(added.size(), 1);
    const QStringList paths = added.first().first().toStringList();
    QCOMPARE(paths.size(), 2);
    QVERIFY(paths[0].endsWith(QStringLiteral("kick one.wav")));
    QVERIFY(paths[1].endsWith(QStringLiteral("snare.wav")));
    // The right button's menu, read once it shows, then left with Escape.
    QStringList captions;
    QTimer::singleShot(100, this, [&captions] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (const QAction *item : menu->actions())
            if (!item->isSeparator())
                captions.append(item->text());
        menu->close();
    });
    const QPoint at = view->visualRect(m_results->index(0, 0)).center();
    QTest::mouseClick(view->viewport(), Qt::RightButton, {}, at);
    QCOMPARE(captions,
             (QStringList{"&Play", "&Add to list", "Show in &folder", "Open containing folder"}));
    // The right button left the selection as it was.
    QCOMPARE(view->selectionModel()->selectedRows().size(), 2);
    // On a hit outside the selection, the menu comes for that hit alone.
    view->clearSelection();
    bool shown = false;
    QTimer::singleShot(100, this, [&shown] {
        if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
            shown = true;
            menu->close();
        }
    });
    const QPoint second = view->visualRect(m_results->index(1, 0)).center();
    QTest::mouseClick(view->viewport(), Qt::RightButton, {}, second);
    QVERIFY(shown);
    QCOMPARE(view->chosen().size(), 1);
    QCOMPARE(view->chosen().first().row(), 1);
}

void TestLibraryUi::anEmptyLibraryOffersTheBrowsersFolder()
{
    QSignalSpy opened(m_library, &Library::opened);
    m_library->open();
    QTRY_VERIFY_WITH_TIMEOUT(m_library->isOpen(), 5000);
    m_find->show();
    QPushButton *offer = button(m_find, QStringLiteral("Add &this folder"));
    QVERIFY(offer);
    QTRY_VERIFY(offer->isVisible());
    // It names the folder it offers; a path too long for the line keeps its start and the
    // folder's own name, and the tooltip has it whole.
    auto *offered = m_find->findChild<LineLabel *>(QStringLiteral("OfferedFolder"));
    QVERIFY(offered);
    const QString deep = QStringLiteral("/srv/recordings/") + QString(300, u'x') +
                         QStringLiteral("/harbour session");
    m_find->offerFolder(deep);
    QCOMPARE(offered->text(), deep);
    QCOMPARE(offered->toolTip(), deep);
    QTRY_VERIFY(offered->isVisible() && offered->width() > 0);
    const QStringList shown = offered->shownLines();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.first().startsWith(QStringLiteral("/sr")) &&
                 shown.first().endsWith(QStringLiteral("on")) && shown.first().contains(u'\u2026'),
             qPrintable(shown.first()));
    QVERIFY(offered->fontMetrics().horizontalAdvance(shown.first()) <=
            offered->contentsRect().width());
    m_find->offerFolder(m_music);
    QCOMPARE(offered->shownLines(), QStringList{m_music});
    QSignalSpy wanted(m_find, &FindWindow::addCurrentFolderWanted);
    offer->click();
    QCOMPARE(wanted.size(), 1);
    // Once a folder is in, the offer goes.
    QSignalSpy running(m_library, &Library::indexingChanged);
    m_library->addRoot(m_music);
    QTRY_VERIFY_WITH_TIMEOUT(!offer->isVisible(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!running.isEmpty() && !m_library->isIndexing(), 10000);
}

void TestLibraryUi::foldersAreAddedAndRemovedNeverTheFiles()
{
    m_library->open();
    QTRY_VERIFY_WITH_TIMEOUT(m_library->isOpen(), 5000);
    QString askedAt;
    // First a file, which is no folder; then the folder as the chooser opened on it.
    QString answer = m_music + QStringLiteral("/choir take.wav");
    LibraryFoldersWindow window(
        *m_library, [this] { return m_music; },
        [&askedAt, &answer](QWidget *, const QString &start) {
            askedAt = start;
            return answer.isEmpty() ? start : std::exchange(answer, QString());
        },
        nullptr);
    QCOMPARE(window.windowTitle(), QStringLiteral("Library folders"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *roots = window.findChild<QListWidget *>(QStringLiteral("Roots"));
    QVERIFY(roots);
    QPushButton *remove = button(&window, QStringLiteral("&Remove"));
    QVERIFY(remove && !remove->isEnabled());
    // Refused: the window that asked says why, once; Find, opened after, does not again.
    auto *problem = window.findChild<QLabel *>(QStringLiteral("Problem"));
    QVERIFY(problem && !problem->isVisible());
    button(&window, QStringLiteral("&Add\u2026"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(problem->isVisible(), 5000);
    QVERIFY2(problem->text().endsWith(QStringLiteral("cannot be added to the library: it is not a "
                                                     "folder that can be opened.")),
             qPrintable(problem->text()));
    QCOMPARE(roots->count(), 0);
    m_find->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_find));
    QVERIFY(!m_find->findChild<QLabel *>(QStringLiteral("Problem"))->isVisible());
    m_find->close();
    button(&window, QStringLiteral("&Add\u2026"))->click();
    QCOMPARE(askedAt, m_music);
    QTRY_COMPARE_WITH_TIMEOUT(roots->count(), 1, 5000);
    QCOMPARE(roots->item(0)->text(), m_music);
    QTRY_VERIFY_WITH_TIMEOUT(!m_library->isIndexing(), 10000);

    roots->item(0)->setSelected(true);
    QVERIFY(remove->isEnabled());
    remove->click();
    QTRY_COMPARE_WITH_TIMEOUT(roots->count(), 0, 5000);
    QVERIFY(QFile::exists(m_music + QStringLiteral("/drums/snare.wav")));
    QVERIFY(QFile::exists(m_music + QStringLiteral("/choir take.wav")));
    // Nothing of the folder is found any more.
    m_results->setQuery(QStringLiteral("snare"));
    QTRY_COMPARE_WITH_TIMEOUT(m_results->hitCount(), 0, 5000);
    button(&window, QStringLiteral("&Close"))->click();
    QVERIFY(!window.isVisible());
}

// The chooser opens on the folder it is asked for, whatever was picked in the one before; Enter
// takes the folder at hand (the one it opened on until another is picked); a second "&Add…"
// while it is open opens no second one; and the process's current directory is where it was.
void TestLibraryUi::theFolderChooserOpensOnTheBrowsersFolderEachTimeAndOnce()
{
    FakeVolumes volumes;
    volumes.current = m_dir->path();
    FakeDesktop desktop;
    // Does `act` to the chooser once it is up; act must close it.
    const auto whenUp = [this](std::function<void(LibraryFolderChooser *)> act) {
        auto *poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [poll, act] {
            auto *chooser = qobject_cast<LibraryFolderChooser *>(QApplication::activeModalWidget());
            if (!chooser || !chooser->isVisible())
                return;
            poll->deleteLater();
            poll->stop();
            act(chooser);
        });
        poll->start(20);
    };
    const auto choose = [&volumes, &desktop](const QString &start) {
        return LibraryFolderChooser::choose(volumes, desktop, nullptr, start);
    };
    const QString drums = QDir(m_music).filePath(QStringLiteral("drums"));
    // A subfolder picked with the arrow and taken with Enter, which does not open it.
    QString title;
    QString pickedIn;
    whenUp([&title, &pickedIn](LibraryFolderChooser *chooser) {
        title = chooser->windowTitle();
        pickedIn = chooser->Dir1->path();
        // The subfolders come from a worker, after the way up to the folder.
        if (!QTest::qWaitFor([chooser] {
                return chooser->Dir1->currentItem()
                    && chooser->Dir1->currentItem()->childCount() > 0;
            })) {
            chooser->reject();
            return;
        }
        QTest::keyClick(chooser->Dir1, Qt::Key_Down);
        QTest::keyClick(chooser->Dir1, Qt::Key_Return);
    });
    QCOMPARE(choose(m_music), drums);
    QCOMPARE(title, QStringLiteral("Add a folder to the library"));
    QCOMPARE(pickedIn, QDir::cleanPath(m_music));
    // Next time it opens on the folder asked for, with nothing picked: Enter takes that one,
    // and so does "&Add".
    for (const bool byButton : {false, true}) {
        QString openOn;
        QString add;
        whenUp([&openOn, &add, byButton](LibraryFolderChooser *chooser) {
            openOn = chooser->Dir1->path();
            add = chooser->Add->text();
            if (byButton)
                chooser->Add->click();
            else
                QTest::keyClick(chooser->Dir1, Qt::Key_Return);
        });
        QCOMPARE(choose(m_music), QDir::cleanPath(m_music));
        QCOMPARE(openOn, QDir::cleanPath(m_music));
        QCOMPARE(add, QStringLiteral("&Add"));
    }
    // Cancelled, by its button or by Escape: nothing is taken.
    for (const bool byButton : {false, true}) {
        whenUp([byButton](LibraryFolderChooser *chooser) {
            if (byButton)
                chooser->Cancel->click();
            else
                QTest::keyClick(chooser->Dir1, Qt::Key_Escape);
        });
        QCOMPARE(choose(drums), QString());
    }
    // Asked again while it is open: no second chooser, and the open one stays where it is.
    QString askedAgain = QStringLiteral("not asked");
    int choosers = 0;
    QString openOn;
    whenUp([&](LibraryFolderChooser *chooser) {
        askedAgain = choose(drums);
        for (QWidget *top : QApplication::topLevelWidgets())
            choosers += qobject_cast<LibraryFolderChooser *>(top) && top->isVisible();
        openOn = chooser->Dir1->path();
        chooser->reject();
    });
    QCOMPARE(choose(m_music), QString());
    QCOMPARE(askedAgain, QString());
    QCOMPARE(choosers, 1);
    QCOMPARE(openOn, QDir::cleanPath(m_music));
    // A folder gone from the disk once listed, opened (a double click): the chooser says
    // why, as the copy dialog does, and stays where it was.
    const QString gone = QDir(m_music).filePath(QStringLiteral("gone"));
    QVERIFY(QDir().mkpath(gone));
    QString told;
    QString backIn;
    whenUp([&](LibraryFolderChooser *chooser) {
        QTreeWidgetItem *item = nullptr;
        QTest::qWaitFor([&] {
            const QList<QTreeWidgetItem *> found =
                chooser->Dir1->findItems(QStringLiteral("gone"), Qt::MatchRecursive);
            item = found.value(0);
            return item != nullptr;
        });
        if (!item) {
            chooser->reject();
            return;
        }
        QDir(gone).removeRecursively();
        auto *answer = new QTimer(chooser);
        connect(answer, &QTimer::timeout, chooser, [answer, &told] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            answer->stop();
            told = box->text();
            box->accept();
        });
        answer->start(20);
        // As a double click on it gives it (where the item is drawn is the view's business).
        emit chooser->Dir1->itemActivated(item, 0);
        QTest::qWaitFor([&] {
            return !told.isEmpty() && chooser->Dir1->path() == QDir::cleanPath(m_music);
        });
        backIn = chooser->Dir1->path();
        chooser->reject();
    });
    QCOMPARE(choose(m_music), QString());
    QVERIFY(!told.isEmpty());
    QCOMPARE(backIn, QDir::cleanPath(m_music));
    // Nothing of it moved the process's current directory.
    QCOMPARE(volumes.current, m_dir->path());

    // "&Add…" pressed again before the chooser has the keys asks no second time.
    int asked = 0;
    LibraryFoldersWindow *window = nullptr;
    LibraryFoldersWindow folders(
        *m_library, [this] { return m_music; },
        [&asked, &window](QWidget *, const QString &) {
            ++asked;
            button(window, QStringLiteral("&Add\u2026"))->click();
            return QString();
        },
        nullptr);
    window = &folders;
    folders.show();
    button(&folders, QStringLiteral("&Add\u2026"))->click();
    QCOMPARE(asked, 1);
    // Once it is closed, "&Add…" asks again.
    button(&folders, QStringLiteral("&Add\u2026"))->click();
    QCOMPARE(asked, 2);
}

// Measured once, known everywhere: what the browser's loudness measured goes into the store,
// and lufs: finds it; what the library knows answers the browser without measuring.
void TestLibraryUi::aTakeMeasuredInTheBrowserIsFoundByItsLoudness()
{
    // The library's own measuring waits while the user browses.
    m_library->holdBack();
    QTimer holding;
    connect(&holding, &QTimer::timeout, m_library, &Library::holdBack);
    holding.start(1000);
    // Long enough for a loudness (a gating block is 400 ms).
    const QString snare = m_music + QStringLiteral("/drums/snare.wav");
    QVERIFY(writeTone(snare, 1.0));
    indexMusic();
    LoudnessFacts browser(nullptr);
    browser.keepIn(m_library->loudnessKeeper());
    browser.requestFirst({snare});
    QTRY_VERIFY_WITH_TIMEOUT(browser.known(snare).has_value(), 10000);
    m_results->setQuery(QStringLiteral("lufs:<0"));
    QTRY_COMPARE_WITH_TIMEOUT(shownNames(*m_results), QStringList{"snare.wav"}, 5000);

    std::atomic<int> measured = 0;
    LoudnessFacts tooltip(nullptr, [&measured](const QString &, const std::function<bool()> &) {
        ++measured;
        return std::optional<Loudness>();
    });
    tooltip.keepIn(m_library->loudnessKeeper());
    tooltip.requestFirst({snare});
    QTRY_VERIFY_WITH_TIMEOUT(tooltip.known(snare).has_value(), 5000);
    QCOMPARE(measured.load(), 0);
    QCOMPARE(tooltip.line(snare), browser.line(snare));
}

void TestLibraryUi::theOldLoudnessCacheIsTakenInOnceAndNeverWritten()
{
    m_library->holdBack();
    const QString take = m_music + QStringLiteral("/choir take.wav");
    const FileStamp stamp = stampOf(take);
    const QString cache = m_dir->filePath(QStringLiteral("cache/QuillonSonoret/loudness"));
    QVERIFY(QDir().mkpath(QFileInfo(cache).path()));
    const QByteArray line = QFile::encodeName(take).toPercentEncoding() + ' ' +
                            QByteArray::number(stamp.size) + ' ' +
                            QByteArray::number(stamp.modifiedMs) + " -31.5 2 -12 -12.5 0 -\n";
    QVERIFY(writeBytes(cache, line));
    const auto bytesOf = [&cache] {
        QFile file(cache);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("unreadable");
    };
    std::atomic<int> measured = 0;
    const auto measure = [&measured](const QString &, const std::function<bool()> &) {
        ++measured;
        Loudness loudness;
        loudness.integratedLufs = -20;
        loudness.rangeLu = 1;
        loudness.truePeakDbtp = -3;
        loudness.samplePeakDbfs = -3.5;
        return std::optional(loudness);
    };
    const QString snare = m_music + QStringLiteral("/drums/snare.wav");
    {
        m_library->setOldLoudnessCache(cache);
        LoudnessFacts facts(nullptr, measure);
        facts.keepIn(m_library->loudnessKeeper());
        indexMusic();
        facts.requestFirst({take, snare});
        QTRY_VERIFY_WITH_TIMEOUT(facts.known(take).has_value(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(facts.known(snare).has_value(), 5000);
        QCOMPARE(facts.known(take)->integratedLufs, -31.5);
        QCOMPARE(measured.load(), 1);
        m_results->setQuery(QStringLiteral("lufs:<-30"));
        QTRY_COMPARE_WITH_TIMEOUT(shownNames(*m_results), QStringList{"choir take.wav"}, 5000);
    }
    // Measured since, and not a byte of it written to the old file.
    QCOMPARE(bytesOf(), line);

    // The next run (another library over the same store) reads the old file no more.
    delete m_find;
    delete m_results;
    delete m_library;
    m_find = nullptr;
    m_results = nullptr;
    const QByteArray changed = QByteArray(line).replace("-31.5", "-40");
    QVERIFY(writeBytes(cache, changed));
    m_library = new Library(m_dir->filePath(QStringLiteral("data/library.sqlite")), nullptr);
    m_library->holdBack();
    m_library->setOldLoudnessCache(cache);
    LoudnessFacts facts(nullptr, measure);
    facts.keepIn(m_library->loudnessKeeper());
    QSignalSpy opened(m_library, &Library::opened);
    m_library->open();
    QVERIFY(opened.wait(5000) || m_library->isOpen());
    facts.requestFirst({take});
    QTRY_VERIFY_WITH_TIMEOUT(facts.known(take).has_value(), 5000);
    QCOMPARE(facts.known(take)->integratedLufs, -31.5);
    QCOMPARE(measured.load(), 1);
    QCOMPARE(bytesOf(), changed);
}

void TestLibraryUi::damagedFilesAndForeignNamesShowAsTheBrowserShowsThem()
{
    // Random bytes named .wav, and a take whose name is Latin-1.
    QByteArray noise(4096, Qt::Uninitialized);
    for (qsizetype i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 7919 + 13) % 251);
    QVERIFY(writeBytes(m_music + QStringLiteral("/noise take.wav"), noise));
    // Written under a plain name, then given its bytes: the writer names files through Qt.
    const QString latin = m_music + u'/' + pathFromNative("caf\xe9 take.wav");
    QVERIFY(writeTone(m_music + QStringLiteral("/plain.tmp"), 0.5));
    QCOMPARE(::rename(QFile::encodeName(m_music + QStringLiteral("/plain.tmp")).constData(),
                      nativePath(latin).constData()),
             0);
    indexMusic();
    m_results->setQuery(QStringLiteral("take -choir"));
    QTRY_COMPARE_WITH_TIMEOUT(m_results->rowCount(), 2, 5000);
    const int noiseRow = m_results->index(0, 0).data().toString().startsWith(u'n') ? 0 : 1;
    const int latinRow = 1 - noiseRow;
    const auto cell = [this](int row, int column) { return m_results->index(row, column); };
    // No length for a file with no header, greyed as the file list greys it.
    QVERIFY(cell(noiseRow, LibraryResultsModel::Length).data().toString().isEmpty());
    QVERIFY(cell(noiseRow, 0).data(LibraryResultsModel::DamagedRole).toBool());
    QCOMPARE(cell(latinRow, LibraryResultsModel::Length).data().toString(),
             LibraryResultsModel::lengthShown(500));
    QVERIFY(!cell(latinRow, 0).data(LibraryResultsModel::DamagedRole).toBool());
    // The foreign byte read as the browser shows it; the path gives the system its bytes back.
    QCOMPARE(cell(latinRow, 0).data().toString(), QString::fromUtf8("caf\xef\xbf\xbd take.wav"));
    QCOMPARE(nativePath(cell(latinRow, 0).data(LibraryResultsModel::PathRole).toString()),
             nativePath(latin));
    QCOMPARE(cell(latinRow, LibraryResultsModel::Folder).data().toString(), shownName(m_music));
}

void TestLibraryUi::signsAloneFindNothingAndTheReasonLeavesTheFieldItsWidth()
{
    indexMusic();
    m_find->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_find));
    QTest::keyClicks(m_find->field(), QStringLiteral("snare"));
    QTRY_COMPARE_WITH_TIMEOUT(m_results->rowCount(), 1, 5000);
    const int width = m_find->field()->width();
    auto *problem = m_find->findChild<QLabel *>(QStringLiteral("QueryProblem"));
    for (const QString &signs : {QStringLiteral("--"), QStringLiteral("< > = .."),
                                 QStringLiteral("-*"), QStringLiteral("*"), QStringLiteral(".* ?"),
                                 QStringLiteral("rate:") + QString(300, u'x')}) {
        m_find->field()->selectAll();
        QTest::keyClicks(m_find->field(), signs);
        QTRY_VERIFY_WITH_TIMEOUT(!problem->text().isEmpty(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(m_results->rowCount(), 0, 5000);
        QVERIFY(!problem->text().contains(u'\n'));
        QCOMPARE(problem->toolTip(), problem->text());
        QCOMPARE(m_find->field()->width(), width);
        // Cut with an ellipsis within the line, never at the window's edge; the text stays whole
        // for a screen reader.
        const QStringList shown = qobject_cast<LineLabel *>(problem)->shownLines();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(problem->fontMetrics().horizontalAdvance(shown.first()) <=
                     problem->contentsRect().width(),
                 qPrintable(shown.first()));
        QVERIFY(problem->geometry().right() < m_find->width());
        if (problem->fontMetrics().horizontalAdvance(problem->text()) >
            problem->contentsRect().width())
            QVERIFY2(shown.first().endsWith(u'\u2026'), qPrintable(shown.first()));
        else
            QCOMPARE(shown.first(), problem->text());
    }
}

// Whatever the library does is said under the results, with Stop beside it, and nothing else
// is: a line of the window's own no longer keeps a pass's last count there once it ended
// (it stayed for good, with no Stop), and Stop ends the loudness measuring too, even while
// it waits for the user to leave the program alone.
void TestLibraryUi::whatRunsIsToldWithAWayToStopIt()
{
    // The user is busy: the loudness waits after the headers.
    QTimer holding;
    connect(&holding, &QTimer::timeout, m_library, &Library::holdBack);
    holding.start(1000);
    m_library->holdBack();
    indexMusic();
    m_find->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_find));
    auto *activity = m_find->findChild<QLabel *>(QStringLiteral("Activity"));
    auto *status = m_find->findChild<QLabel *>(QStringLiteral("Status"));
    auto *problem = m_find->findChild<QLabel *>(QStringLiteral("Problem"));
    QPushButton *stop = button(m_find, QStringLiteral("&Stop"));
    QVERIFY(activity && status && problem && stop);
    QVERIFY(m_library->isMeasuring());
    QCOMPARE(activity->text(), QStringLiteral("Measuring the loudness\u2026"));
    QVERIFY(activity->isVisible() && stop->isVisible());

    QTest::keyClicks(m_find->field(), QStringLiteral("snare"));
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("1 file"), 5000);
    m_find->tell(QStringLiteral("snare.wav cannot be played."));
    QSignalSpy indexing(m_library, &Library::indexingChanged);
    m_library->startIndexing();
    QVERIFY(activity->text().startsWith(QStringLiteral("Indexing")));
    QVERIFY(stop->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(indexing.size(), 2, 10000);
    QCOMPARE(activity->text(), QStringLiteral("Measuring the loudness\u2026"));
    QVERIFY(stop->isVisible());
    QCOMPARE(status->text(), QStringLiteral("1 file"));
    QCOMPARE(problem->text(), QStringLiteral("snare.wav cannot be played."));
    QVERIFY(problem->isVisible());

    stop->click();
    QVERIFY(!m_library->isMeasuring());
    QVERIFY(!activity->isVisible());
    QVERIFY(!stop->isVisible());
    // Left alone after it, the loudness is not measured all the same.
    holding.stop();
    QTest::qWait(Library::quietMs + 1000);
    QVERIFY(!m_library->isMeasuring());
    QVERIFY(!stop->isVisible());
    QSignalSpy finished(m_results, &LibraryResultsModel::searchFinished);
    m_results->setQuery(QStringLiteral("lufs:<0"));
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 5000);
    QCOMPARE(m_results->hitCount(), 0);
    // The next search takes the window's own line away.
    QTest::keyClicks(m_find->field(), QStringLiteral("x"));
    QTRY_VERIFY(!problem->isVisible());
}

// The nine columns at the size Find opens at (on this test's small screen too): no scroll bar
// across, every heading whole, the name and folder given what the figures leave.
void TestLibraryUi::allColumnsShowAtTheSizeFindOpensAt()
{
    indexMusic();
    m_find->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_find));
    LibraryResultsView *view = m_find->resultsView();
    QHeaderView *header = view->horizontalHeader();
    QCOMPARE(header->count(), int(LibraryResultsModel::ColumnCount));
    QVERIFY2(
        header->length() <= view->viewport()->width(),
        qPrintable(QStringLiteral("%1 > %2").arg(header->length()).arg(view->viewport()->width())));
    for (int column = 0; column < header->count(); ++column) {
        QVERIFY(!header->isSectionHidden(column));
        if (column == LibraryResultsModel::Name || column == LibraryResultsModel::Folder)
            QVERIFY(header->sectionSize(column) >= header->minimumSectionSize());
        else
            QVERIFY2(header->sectionSize(column) >= header->sectionSizeHint(column),
                     qPrintable(m_results->headerData(column, Qt::Horizontal).toString()));
    }
    // A hit's figures show whole in their cells.
    QTest::keyClicks(m_find->field(), QStringLiteral("snare"));
    QTRY_COMPARE_WITH_TIMEOUT(m_results->rowCount(), 1, 5000);
    for (int column = LibraryResultsModel::Length; column < header->count(); ++column) {
        const QString text = m_results->index(0, column).data().toString();
        QVERIFY2(view->fontMetrics().horizontalAdvance(text) < header->sectionSize(column),
                 qPrintable(text));
    }
}

void TestLibraryUi::aLibraryWindowOpensByTheMainWindowClearOfThePlayList_data()
{
    QTest::addColumn<QRect>("over");
    QTest::addColumn<QRect>("keepClear");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRect>("area");
    QTest::addColumn<QPoint>("placed");
    const QRect screen(0, 0, 1280, 800);
    const QRect none;
    QTest::newRow("centred") << QRect(300, 200, 600, 400) << none << QSize(400, 200) << screen
                             << QPoint(400, 300);
    QTest::newRow("halves to even")
        << QRect(301, 201, 601, 401) << none << QSize(400, 200) << screen << QPoint(401, 301);
    QTest::newRow("kept off the right and bottom edges")
        << QRect(900, 600, 300, 150) << none << QSize(760, 420) << screen << QPoint(520, 380);
    QTest::newRow("kept off the left and top edges")
        << QRect(-100, -50, 300, 150) << none << QSize(760, 420) << screen << QPoint(0, 0);
    QTest::newRow("larger than the screen")
        << QRect(100, 100, 200, 200) << none << QSize(1400, 900) << screen << QPoint(0, 0);
    QTest::newRow("a second screen") << QRect(1500, 100, 600, 400) << none << QSize(400, 200)
                                     << QRect(1280, 0, 1920, 1080) << QPoint(1600, 200);
    QTest::newRow("a panel at the top") << QRect(0, 0, 300, 100) << none << QSize(400, 300)
                                        << QRect(0, 30, 1280, 770) << QPoint(0, 30);
    // The play list at the main window's bottom left, to be left in view.
    const QRect main(300, 200, 600, 400);
    const QRect playList(310, 480, 200, 100);
    QTest::newRow("centred, clear of the play list")
        << main << playList << QSize(300, 150) << screen << QPoint(450, 325);
    QTest::newRow("beside the main window")
        << main << playList << QSize(560, 300) << QRect(0, 0, 1920, 1080) << QPoint(900, 250);
    QTest::newRow("below it, no room beside")
        << main << playList << QSize(400, 200) << screen << QPoint(400, 600);
    QTest::newRow("above it, no room beside or below")
        << QRect(300, 450, 600, 300) << QRect(310, 650, 200, 90) << QSize(700, 300) << screen
        << QPoint(250, 150);
    QTest::newRow("over the browser, above the play list")
        << QRect(340, 150, 600, 500) << QRect(350, 520, 200, 120) << QSize(900, 380) << screen
        << QPoint(190, 140);
    QTest::newRow("over the browser, right of the play list")
        << QRect(20, 100, 600, 600) << QRect(30, 300, 200, 390) << QSize(1000, 500) << screen
        << QPoint(230, 150);
    QTest::newRow("no room anywhere: centred")
        << QRect(0, 0, 1280, 800) << QRect(10, 600, 300, 190) << QSize(1200, 780) << screen
        << QPoint(40, 10);
}

void TestLibraryUi::aLibraryWindowOpensByTheMainWindowClearOfThePlayList()
{
    QFETCH(QRect, over);
    QFETCH(QRect, keepClear);
    QFETCH(QSize, size);
    QFETCH(QRect, area);
    QFETCH(QPoint, placed);
    QCOMPARE(placedClearOf(over, keepClear, size, area), placed);
    if (keepClear.isEmpty())
        QCOMPARE(centredOn(over, size, area), placed);
}

QTEST_MAIN(TestLibraryUi)
#include "tst_libraryui.moc"
