// The library's windows over a real store in a temporary folder: the Find window searches as
// one types, says why a query cannot be read, tells of the indexing, and hands what is done
// with a hit to the main window; the folders window adds and removes folders, never files.
#include "WaveWriter.h"
#include "files/FileFacts.h"
#include "files/LoudnessFacts.h"
#include "library/FindWindow.h"
#include "library/Library.h"
#include "library/LibraryFoldersWindow.h"
#include "library/LibraryResultsModel.h"
#include "library/LibraryResultsView.h"
#include "platform/NativeName.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdio>

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
    void aTakeMeasuredInTheBrowserIsFoundByItsLoudness();
    void theOldLoudnessCacheIsTakenInOnceAndNeverWritten();
    void damagedFilesAndForeignNamesShowAsTheBrowserShowsThem();
    void signsAloneFindNothingAndTheReasonLeavesTheFieldItsWidth();

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
    QTest::newRow("a fragment of a name") << "nar" << QStringList{"snare.wav"} << "1 file";
    QTest::newRow("a folder's name")
        << "drums" << QStringList{"kick one.wav", "snare.wav"} << "2 files";
    QTest::newRow("two words, both needed")
        << "kick one" << QStringList{"kick one.wav"} << "1 file";
    QTest::newRow("a word left out") << "drums -kick" << QStringList{"snare.wav"} << "1 file";
    QTest::newRow("a field") << "rate:8000 take" << QStringList{"choir take.wav"} << "1 file";
    QTest::newRow("nothing found") << "zzzz" << QStringList{} << "0 files";
}

void TestLibraryUi::findsAsOneTypes()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, found);
    QFETCH(QString, status);
    indexMusic();
    m_find->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_find));
    QTest::keyClicks(m_find->field(), typed);
    // No Enter: the search starts once the typing rests.
    QTRY_COMPARE_WITH_TIMEOUT(shownNames(*m_results), found, 5000);
    auto *line = m_find->findChild<QLabel *>(QStringLiteral("Status"));
    QVERIFY(line);
    QTRY_COMPARE(line->text(), status);
    QVERIFY(m_find->findChild<QLabel *>(QStringLiteral("QueryProblem"))->text().isEmpty());
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
    LibraryFoldersWindow window(
        *m_library, [this] { return m_music; },
        [&askedAt](QWidget *, const QString &start) {
            askedAt = start;
            return start; // accepted as it opened
        },
        nullptr);
    QCOMPARE(window.windowTitle(), QStringLiteral("Library folders"));
    window.show();
    auto *roots = window.findChild<QListWidget *>(QStringLiteral("Roots"));
    QVERIFY(roots);
    QPushButton *remove = button(&window, QStringLiteral("&Remove"));
    QVERIFY(remove && !remove->isEnabled());
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
    }
}

QTEST_MAIN(TestLibraryUi)
#include "tst_libraryui.moc"
