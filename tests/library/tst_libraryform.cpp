// The library's windows as the main window wires them: what becomes of a hit that cannot be
// played or whose file has gone, and of a folder the desktop cannot show. No box ever opens
// over the results: a line under them says what happened.
#include "FormFixture.h"
#include "ModalAnswerer.h"
#include "WaveWriter.h"
#include "app/Form1.h"
#include "library/FindWindow.h"
#include "library/Library.h"
#include "library/LibraryFolderChooser.h"
#include "library/LibraryResultsModel.h"
#include "library/LibraryResultsView.h"
#include "platform/Desktop.h"
#include "platform/NativeName.h"
#include "ui/LineLabel.h"
#include "ui/WindowPlacement.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <cstdio>

class TestLibraryForm : public QObject, public FormFixture
{
    Q_OBJECT

private slots:
    void init();
    void aHitThatCannotBePlayedOrHasGoneIsALineNotABox();
    void aFolderTheDesktopCannotShowIsOneLine();
    void aHitWithAForeignNamePlaysByItsBytes();
    void theDesktopSaysWhyAFolderCannotBeShown_data();
    void theDesktopSaysWhyAFolderCannotBeShown();
    void aStoreMovedAsideAtStartIsToldOnceWhenALibraryWindowOpens_data();
    void aStoreMovedAsideAtStartIsToldOnceWhenALibraryWindowOpens();
    void theLibrarysWindowsOpenOverTheMainWindowAndFindWhereItWasLeft();

private:
    // The main window over the fakes with a library in the test's folder, Find open, the test's
    // folder added from it, and `typed` searched.
    FindWindow *findIn(Form1 &form, const QString &typed);
    // The red line under the results, where what becomes of a hit is told.
    QString problemOf(FindWindow *find) const
    {
        const auto *line = find->findChild<QLabel *>(QStringLiteral("Problem"));
        return line->isVisible() ? line->text() : QString();
    }
    ModalAnswerer m_answerer;
};

void TestLibraryForm::init()
{
    makeFolder({});
    for (const char *name : {"take one.wav", "gone take.wav"})
        QVERIFY(writeTone(m_dir->filePath(QString::fromUtf8(name)), 0.2));
    // The splash and any other window than a box are left to themselves; boxes are recorded.
    m_answerer.seen.clear();
    m_answerer.onOther = [](QWidget *) {};
}

FindWindow *TestLibraryForm::findIn(Form1 &form, const QString &typed)
{
    form.Form_Load();
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return nullptr;
    QAction *find = form.findChild<QAction *>(QStringLiteral("Find"));
    if (!find)
        return nullptr;
    find->trigger();
    auto *window = form.findChild<FindWindow *>();
    if (!window)
        return nullptr;
    auto *offer = window->findChild<QPushButton *>(QStringLiteral("AddThisFolder"));
    // Generous: the store opens and the folder is indexed on workers that a loaded machine
    // (the sanitizers, other tests writing thousands of files) can keep waiting for seconds.
    if (!QTest::qWaitFor([offer] { return offer->isVisible(); }, 30000)) {
        qWarning("the offer to add the folder did not show");
        return nullptr;
    }
    // The offer names the folder the browser shows, which is the one it adds.
    const auto *offered = window->findChild<QLabel *>(QStringLiteral("OfferedFolder"));
    if (!offered || offered->text() != m_dir->path()) {
        qWarning("the offer names %s, not %s", offered ? qPrintable(offered->text()) : "nothing",
                 qPrintable(m_dir->path()));
        return nullptr;
    }
    offer->click();
    QTest::keyClicks(window->field(), typed);
    auto *results = qobject_cast<LibraryResultsModel *>(window->resultsView()->model());
    if (!QTest::qWaitFor([results] { return results->rowCount() == 1; }, 30000)) {
        const auto line = [window](const char *name) {
            return window->findChild<QLabel *>(QString::fromLatin1(name))->text();
        };
        QStringList roots;
        for (const LibraryRoot &root : form.findChild<Library *>()->roots())
            roots.append(root.path);
        qWarning("%d hits for %s, not 1; the lines say: %s / %s / %s / %s; the roots: %s",
                 results->rowCount(), qPrintable(typed), qPrintable(line("Status")),
                 qPrintable(line("Activity")), qPrintable(line("Problem")),
                 qPrintable(line("QueryProblem")), qPrintable(roots.join(u", ")));
        return nullptr;
    }
    return window;
}

void TestLibraryForm::aHitThatCannotBePlayedOrHasGoneIsALineNotABox()
{
    Services services = m_fakes->services();
    services.libraryFile = m_dir->filePath(QStringLiteral("data/library.sqlite"));
    Form1 &form = makeForm(services);
    FindWindow *find = findIn(form, QStringLiteral("gone"));
    QVERIFY(find);
    LibraryResultsView *view = find->resultsView();
    const QModelIndex hit = view->model()->index(0, 0);
    const QString path = hit.data(LibraryResultsModel::PathRole).toString();
    QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("gone take.wav"));
    QVERIFY(!hit.data(LibraryResultsModel::GoneRole).toBool());

    // Gone since the search, and refused by the output: a line, and the hit greyed at once.
    QVERIFY(QFile::remove(path));
    m_fakes->sound.unplayable.insert(path);
    view->setFocus();
    view->setCurrentIndex(hit);
    QTest::keyClick(view, Qt::Key_Return);
    QTRY_COMPARE(problemOf(find), QStringLiteral("gone take.wav cannot be played."));
    QTRY_VERIFY(view->model()->index(0, 0).data(LibraryResultsModel::GoneRole).toBool());
    QVERIFY(view->model()->index(0, 0).data(LibraryResultsModel::UnavailableRole).toBool());

    // Known gone: not tried again, and said so; a double click is the same.
    const qsizetype attempts = m_fakes->sound.attempts.size();
    QTest::keyClick(view, Qt::Key_Return);
    QTRY_COMPARE(problemOf(find), QStringLiteral("gone take.wav is no longer there."));
    QCOMPARE(m_fakes->sound.attempts.size(), attempts);
    QVERIFY(m_answerer.seen.isEmpty());
    QVERIFY(find->isVisible());

    // Taken out at the next look: its folder is read again, and the store drops it.
    QTRY_COMPARE_WITH_TIMEOUT(view->model()->rowCount(), 0, 10000);
    find->field()->clear();
    QTest::keyClicks(find->field(), QStringLiteral("take"));
    QTRY_COMPARE_WITH_TIMEOUT(view->model()->rowCount(), 1, 5000);
    QCOMPARE(view->model()->index(0, 0).data().toString(), QStringLiteral("take one.wav"));
    QVERIFY(m_answerer.seen.isEmpty());

    // Refused once, then played: the line goes with the play that worked, no search needed.
    const QString take = view->model()->index(0, 0).data(LibraryResultsModel::PathRole).toString();
    m_fakes->sound.unplayable.insert(take);
    view->setFocus();
    view->setCurrentIndex(view->model()->index(0, 0));
    QTest::keyClick(view, Qt::Key_Return);
    QTRY_COMPARE(problemOf(find), QStringLiteral("take one.wav cannot be played."));
    m_fakes->sound.unplayable.remove(take);
    QTest::keyClick(view, Qt::Key_Return);
    QTRY_COMPARE(m_fakes->sound.attempts.size(), attempts + 2);
    QTRY_COMPARE(problemOf(find), QString());
    QVERIFY(m_answerer.seen.isEmpty());
}

void TestLibraryForm::aFolderTheDesktopCannotShowIsOneLine()
{
    Services services = m_fakes->services();
    services.libraryFile = m_dir->filePath(QStringLiteral("data/library.sqlite"));
    m_fakes->desktop.openFolderWhy =
        QStringLiteral("failed to find default application for content type \"inode/directory\"");
    Form1 &form = makeForm(services);
    FindWindow *find = findIn(form, QStringLiteral("one -gone"));
    QVERIFY(find);
    LibraryResultsView *view = find->resultsView();
    view->setCurrentIndex(view->model()->index(0, 0));
    int opened = 0;
    m_answerer.onMenu = [&opened](QMenu *menu) {
        for (QAction *action : menu->actions())
            if (action->text() == QStringLiteral("Open containing folder")) {
                ++opened;
                menu->setActiveAction(action);
                QTest::keyClick(menu, Qt::Key_Return);
                return;
            }
        menu->close();
    };
    // Asked for three times: one line, never a box, and Find stays.
    for (int time = 1; time <= 3; ++time) {
        const QPoint at = view->visualRect(view->model()->index(0, 0)).center();
        QTest::mouseClick(view->viewport(), Qt::RightButton, {}, at);
        QTRY_COMPARE(opened, time);
    }
    QTRY_COMPARE(m_fakes->desktop.started.size(), 3);
    QCOMPARE(
        m_fakes->desktop.started.last(),
        QStringList({"gio", "open", QFileInfo(m_dir->filePath("take one.wav")).absolutePath()}));
    QCOMPARE(problemOf(find), QStringLiteral("The folder cannot be opened: failed to find default "
                                             "application for content type \"inode/directory\"."));
    QVERIFY(m_answerer.seen.isEmpty());
    QVERIFY(find->isVisible());
    m_answerer.onMenu = nullptr;
}

void TestLibraryForm::aHitWithAForeignNamePlaysByItsBytes()
{
    const QString latin = m_dir->path() + u'/' + pathFromNative("caf\xe9 noir.wav");
    // Written under a plain name, then given its bytes: the writer names files through Qt.
    QVERIFY(writeTone(m_dir->filePath(QStringLiteral("plain.tmp")), 0.2));
    QCOMPARE(::rename(QFile::encodeName(m_dir->filePath(QStringLiteral("plain.tmp"))).constData(),
                      nativePath(latin).constData()),
             0);
    Services services = m_fakes->services();
    services.libraryFile = m_dir->filePath(QStringLiteral("data/library.sqlite"));
    Form1 &form = makeForm(services);
    FindWindow *find = findIn(form, QStringLiteral("noir"));
    QVERIFY(find);
    LibraryResultsView *view = find->resultsView();
    view->setFocus();
    view->setCurrentIndex(view->model()->index(0, 0));
    QTest::keyClick(view, Qt::Key_Return);
    QTRY_VERIFY(!m_fakes->sound.attempts.isEmpty());
    QCOMPARE(nativePath(m_fakes->sound.attempts.last()), nativePath(latin));
    QVERIFY(m_answerer.seen.isEmpty());
}

void TestLibraryForm::theDesktopSaysWhyAFolderCannotBeShown_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("withGio");
    QTest::addColumn<bool>("withFileManager");
    QTest::addColumn<QString>("why");
    QTest::newRow("no such folder")
        << "/no/such/folder" << true << true << "no such file or directory";
    QTest::newRow("no gio, no xdg-open")
        << "/tmp" << false << true
        << "no file manager could be started: neither gio nor xdg-open is installed";
    QTest::newRow("gio, but no file manager")
        << "/tmp" << true << false << "no file manager could be started (";
}

// The real desktop, on a folder no file manager can show, with no file manager for gio to
// start, or with nothing to start one: the reason comes back on the window's thread, in one
// line, and nothing is started.
void TestLibraryForm::theDesktopSaysWhyAFolderCannotBeShown()
{
    QFETCH(QString, folder);
    QFETCH(bool, withGio);
    QFETCH(bool, withFileManager);
    QFETCH(QString, why);
    if (withGio && QStandardPaths::findExecutable(QStringLiteral("gio")).isEmpty())
        QSKIP("gio (libglib2.0-bin) is not installed");
    QTemporaryDir empty;
    // Put back once the worker has started gio, or given up.
    QList<std::pair<const char *, QByteArray>> kept;
    const auto set = [&kept](const char *name, const QByteArray &value) {
        kept.append({name, qgetenv(name)});
        qputenv(name, value);
    };
    const auto putBack = qScopeGuard([&kept] {
        for (const auto &[name, value] : std::as_const(kept))
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
    });
    const QByteArray nothing = QFile::encodeName(empty.path());
    if (!withGio)
        set("PATH", nothing);
    // Where gio looks for the programs that open a folder: nowhere that has one.
    if (!withFileManager)
        for (const char *name :
             {"XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"})
            set(name, nothing);
    SystemDesktop desktop;
    QObject context;
    QString told = QStringLiteral("not told");
    Qt::HANDLE thread = nullptr;
    desktop.openFolder(folder, &context, [&](const QString &line) {
        told = line;
        thread = QThread::currentThreadId();
    });
    QTRY_VERIFY_WITH_TIMEOUT(told != QStringLiteral("not told"), 10000);
    QCOMPARE(thread, QThread::currentThreadId());
    QVERIFY2(told.startsWith(why, Qt::CaseInsensitive), qPrintable(told));
    QVERIFY(!told.contains(u'\n'));
}

void TestLibraryForm::aStoreMovedAsideAtStartIsToldOnceWhenALibraryWindowOpens_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::newRow("Find first") << "Find"
                                << "LibraryFolders";
    QTest::newRow("Library folders first") << "LibraryFolders"
                                           << "Find";
}

// The store is opened as the window starts, before any window of the library is there to say
// that it had to be moved aside: the first one opened says so, once, and no other one again.
void TestLibraryForm::aStoreMovedAsideAtStartIsToldOnceWhenALibraryWindowOpens()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    Services services = m_fakes->services();
    services.libraryFile = m_dir->filePath(QStringLiteral("data/library.sqlite"));
    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("data"))));
    QFile garbage(services.libraryFile);
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(8192, '\x5a'));
    garbage.close();
    Form1 &form = makeForm(services);
    form.Form_Load();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto *library = form.findChild<Library *>();
    QVERIFY(library);
    QTRY_VERIFY_WITH_TIMEOUT(library->isOpen(), 10000);
    QCOMPARE(QDir(m_dir->filePath(QStringLiteral("data")))
                 .entryList({QStringLiteral("library.sqlite.broken-*")})
                 .size(),
             1);

    // The action and the window it opens go by the same name.
    const auto open = [&form](const QString &name) -> QWidget * {
        form.findChild<QAction *>(name)->trigger();
        for (QWidget *top : QApplication::topLevelWidgets())
            if (top->objectName() == name && top->isVisible())
                return top;
        return nullptr;
    };
    const auto lineOf = [](QWidget *window) {
        auto *line = window->findChild<QLabel *>(QStringLiteral("Problem"));
        return line && line->isVisible() ? line->text() : QString();
    };
    QWidget *shown = open(first);
    QVERIFY(shown);
    QTRY_VERIFY(lineOf(shown).contains(QStringLiteral("library.sqlite.broken-")));
    QVERIFY2(lineOf(shown).startsWith(QStringLiteral("The library store could not be used")),
             qPrintable(lineOf(shown)));
    QVERIFY(!lineOf(shown).contains(u'\n'));
    // However narrow the window, the line is wrapped within it, the long path too, and the
    // window stays as narrow.
    auto *line = shown->findChild<LineLabel *>(QStringLiteral("Problem"));
    const int narrow = std::max(380, shown->minimumSizeHint().width());
    shown->resize(narrow, shown->height());
    QTRY_COMPARE(shown->width(), narrow);
    QTRY_VERIFY(line->shownLines().size() > 1);
    for (const QString &part : line->shownLines())
        QVERIFY2(line->fontMetrics().horizontalAdvance(part) <= line->contentsRect().width(),
                 qPrintable(part));
    QCOMPARE(line->shownLines().join(QString()).remove(u' '), line->text().remove(u' '));
    QVERIFY(line->geometry().bottom() < shown->height());
    shown->close();

    QWidget *other = open(second);
    QVERIFY(other);
    QTest::qWait(200);
    QCOMPARE(lineOf(other), QString());
    other->close();
    QWidget *again = open(first);
    QVERIFY(again);
    QTest::qWait(200);
    QCOMPARE(lineOf(again), QString());
    QVERIFY(m_answerer.seen.isEmpty());
}

// The window manager would put them somewhere new each time: Library folders opens centred on
// the main window, Find by it and clear of the play list where the screen has room, and Find
// where the user left it when it opens again.
void TestLibraryForm::theLibrarysWindowsOpenOverTheMainWindowAndFindWhereItWasLeft()
{
    Services services = m_fakes->services();
    services.libraryFile = m_dir->filePath(QStringLiteral("data/library.sqlite"));
    Form1 &form = makeForm(services);
    form.Form_Load();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QRect area = form.screen()->availableGeometry();
    for (const QString &name : {QStringLiteral("LibraryFolders"), QStringLiteral("Find")}) {
        form.findChild<QAction *>(name)->trigger();
        QWidget *window = nullptr;
        for (QWidget *top : QApplication::topLevelWidgets())
            if (top->objectName() == name && top->isVisible())
                window = top;
        QVERIFY(window);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        const QWidget *playList = form.findChild<QWidget *>(QStringLiteral("List1"));
        const QRect keepClear = name == QLatin1String("Find")
                                    ? QRect(playList->mapToGlobal(QPoint(0, 0)), playList->size())
                                    : QRect();
        QCOMPARE(window->pos(), placedClearOf(form.frameGeometry(), keepClear,
                                              window->frameGeometry().size(), area));
        QVERIFY(area.contains(window->frameGeometry()));
    }
    auto *find = form.findChild<FindWindow *>();
    find->move(area.topLeft() + QPoint(10, 20));
    find->resize(500, 300);
    find->close();
    // Moved meanwhile, the main window does not take Find with it.
    form.move(form.pos() + QPoint(30, 30));
    form.findChild<QAction *>(QStringLiteral("Find"))->trigger();
    QVERIFY(find->isVisible());
    QCOMPARE(find->pos(), area.topLeft() + QPoint(10, 20));
    QCOMPARE(find->size(), QSize(500, 300));
    // A folder being chosen for Library folders holds the main window, not Find (opened again,
    // as Qt ties it to the main window again): its "&Stop" takes a click given through its
    // window, as the window system gives it.
    auto *stop = find->findChild<QPushButton *>(QStringLiteral("Stop"));
    // The pass begun when the store opened is over first, and the measuring after it: their
    // ends would hide the button again.
    const Library *library = form.findChild<Library *>();
    QTRY_VERIFY_WITH_TIMEOUT(library->isOpen() && !library->isIndexing() && !library->isMeasuring(),
                             30000);
    stop->setVisible(true); // as while a pass runs
    QSignalSpy stopped(stop, &QPushButton::clicked);
    bool chose = false;
    m_answerer.onOther = [&](QWidget *modal) {
        auto *chooser = qobject_cast<LibraryFolderChooser *>(modal);
        if (!chooser || chose)
            return;
        chose = true;
        QTest::mouseClick(find->windowHandle(), Qt::LeftButton, {},
                          stop->mapTo(find, stop->rect().center()));
        chooser->reject();
    };
    QWidget *folders = form.findChild<QWidget *>(QStringLiteral("LibraryFolders"));
    QPushButton *add = nullptr;
    for (QPushButton *button : folders->findChildren<QPushButton *>())
        if (button->text() == QStringLiteral("&Add\u2026"))
            add = button;
    QVERIFY(add);
    add->click();
    QVERIFY(chose);
    QCOMPARE(stopped.size(), 1);
    m_answerer.onOther = [](QWidget *) {};
    QVERIFY(m_answerer.seen.isEmpty());
}

QTEST_MAIN(TestLibraryForm)
#include "tst_libraryform.moc"
