// The library's windows beside the main window: finding takes and what is done with a hit,
// which is what the file list would do with the same file.
#include "Form1.h"
#include "audition/Audition.h"
#include "browser/Browser.h"
#include "browser/FileList.h"
#include "files/DirList.h"
#include "files/FileFacts.h"
#include "files/FolderWatch.h"
#include "files/LoudnessFacts.h"
#include "files/WaveToolTip.h"
#include "library/FindWindow.h"
#include "library/Library.h"
#include "library/LibraryFolderChooser.h"
#include "library/LibraryFoldersWindow.h"
#include "library/LibraryResultsModel.h"
#include "library/LibraryResultsView.h"
#include "platform/NativeName.h"
#include "playback/ChainPlayer.h"
#include "playback/NowPlaying.h"
#include "playlist/FileDrag.h"
#include "playlist/PlayListModel.h"
#include "ui/MainActions.h"
#include "ui/WindowPlacement.h"

#include <QAction>
#include <QFileInfo>
#include <QHash>
#include <QTimer>

void Form1::wireLibrary()
{
    connect(m_actions->LibraryFolders, &QAction::triggered, this, &Form1::showLibraryFolders);
    connect(m_actions->Find, &QAction::triggered, this, &Form1::showFind);
    if (m_services.libraryFile.isEmpty())
        return;
    m_library = new Library(m_services.libraryFile, this);
    // Measured once, known everywhere: the browser's, the tooltip's and the band's loudness
    // is read from and kept in the library's store, by the measuring workers.
    m_facts->loudness().keepIn(m_library->loudnessKeeper());
    m_results = new LibraryResultsModel(m_library, this);
    m_results->setLoudness(&m_facts->loudness());
    connect(&m_facts->loudness(), &LoudnessFacts::measured, m_results,
            &LibraryResultsModel::loudnessChanged);
    // Results shown go stale as the indexing writes; read again at most twice a second.
    auto *stale = new QTimer(this);
    stale->setSingleShot(true);
    stale->setInterval(500);
    connect(m_library, &Library::entriesChanged, stale, qOverload<>(&QTimer::start));
    connect(stale, &QTimer::timeout, m_results, &LibraryResultsModel::refresh);
    followLibraryFolders();
    // What the user does comes first: the library's loudness waits while they play or browse.
    connect(&m_now, &NowPlaying::started, m_library, &Library::holdBack);
    connect(m_browser, &Browser::leavingFolder, m_library, &Library::holdBack);
    connect(File1, &FileList::fileClick, m_library, &Library::holdBack);
}

void Form1::followLibraryFolders()
{
    // The roots' own folders are watched as the browser's is (polled where the system refuses
    // a watch), and so is the folder the browser shows, wherever it lies: a change there is
    // looked at with what is below it. What changes deeper is found by a pass now and then,
    // which reads only what changed: every minute, and when Find is opened.
    connect(&m_browser->watch(), &FolderWatch::folderChanged, m_library, [this] {
        if (m_library->isOpen())
            m_library->folderChanged(m_browser->watch().folder());
    });
    connect(m_library, &Library::rootsChanged, this, [this] {
        // A root that stays keeps its watch: a new one would take its first look as where it
        // begins, and miss a card put back in between.
        QHash<QString, FolderWatch *> kept;
        for (FolderWatch *watch : std::as_const(m_rootWatches))
            kept.insert(watch->folder(), watch);
        m_rootWatches.clear();
        for (const LibraryRoot &root : m_library->roots()) {
            // Offline roots too: the poll sees the folder come back, and the library looks.
            if (FolderWatch *watch = kept.take(root.path)) {
                m_rootWatches.append(watch);
                continue;
            }
            // Polled by a worker rather than put under the system's watch here: adding a watch
            // looks the folder up on the window's thread, and a root on a dead share would
            // hold the window until the share answers.
            auto *watch =
                new FolderWatch(this, [](QFileSystemWatcher &, const QString &) { return false; });
            watch->setFolder(root.path);
            connect(watch, &FolderWatch::folderChanged, m_library,
                    [this, path = root.path] { m_library->folderChanged(path); });
            m_rootWatches.append(watch);
        }
        qDeleteAll(kept);
    });
    auto *pass = new QTimer(this);
    pass->setInterval(libraryPassMs);
    connect(pass, &QTimer::timeout, m_library, [this] {
        if (m_library->isOpen() && !m_library->isIndexing())
            m_library->startIndexing();
    });
    connect(m_library, &Library::opened, pass, qOverload<>(&QTimer::start));
}

void Form1::openLibrary()
{
    // After the window shows: the store is opened by the library's own thread, and a
    // rescan of the folders follows at the lowest priority.
    if (!m_library || m_library->isOpen())
        return;
    connect(
        m_library, &Library::opened, this, [this] { m_library->startIndexing(); },
        Qt::SingleShotConnection);
    m_library->open();
}

void Form1::showLibraryFolders()
{
    if (!m_library)
        return;
    openLibrary();
    if (!m_libraryFolders) {
        m_libraryFolders = new LibraryFoldersWindow(
            *m_library, [this] { return Dir1->path(); },
            [this](QWidget *parent, const QString &start) {
                return LibraryFolderChooser::choose(m_services.volumes, m_services.desktop, parent,
                                                    start);
            },
            this);
        m_libraryFolders->setAttribute(Qt::WA_DeleteOnClose);
        // Over the main window rather than wherever the window manager puts it.
        centreOnWindow(m_libraryFolders, this);
    }
    m_libraryFolders->show();
    m_libraryFolders->raise();
    m_libraryFolders->activateWindow();
}

void Form1::showFind()
{
    if (!m_library)
        return;
    openLibrary();
    if (m_library->isOpen() && !m_library->isIndexing())
        m_library->startIndexing();
    if (!m_find)
        makeFindWindow();
    m_find->showOver(this, QRect(List1->mapToGlobal(QPoint(0, 0)), List1->size()));
    m_find->focusField();
}

void Form1::makeFindWindow()
{
    m_find = new FindWindow(*m_library, *m_results, this);
    LibraryResultsView *view = m_find->resultsView();
    WaveToolTip::forList(*m_facts, view, LibraryResultsModel::PathRole,
                         WaveToolTip::GoneFile::Missing);
    m_audition->follow({*view, LibraryResultsModel::PathRole, LibraryResultsModel::LoudnessRole});
    connect(m_find, &FindWindow::playWanted, this, &Form1::playHits);
    // "… cannot be played." stays only until a play works.
    connect(&m_now, &NowPlaying::started, m_find, &FindWindow::forgetTold);
    connect(m_find, &FindWindow::playOrStopWanted, this, [this](const QModelIndex &hit) {
        if (!m_now.path().isEmpty()) {
            m_now.stop();
            return;
        }
        m_find->resultsView()->selectionModel()->select(hit, QItemSelectionModel::Select |
                                                                 QItemSelectionModel::Rows);
        playHits({hit});
    });
    connect(m_find, &FindWindow::addWanted, m_playList, &PlayListModel::addFiles);
    connect(m_find, &FindWindow::dragWanted, this, [this](const QStringList &paths) {
        if (paths.isEmpty() || busy())
            return;
        // Offered as a file manager offers files: the play list adds what is dropped on it,
        // other programs copy or open them. The file list's picture goes beside the pointer.
        const BusyState::Hold dragging(*m_busy);
        m_fileDrag->startFrom(*m_find->resultsView()->viewport(), Image1->pixmap(), paths);
    });
    connect(m_find, &FindWindow::showInFolderWanted, this, &Form1::showInFolder);
    connect(m_find, &FindWindow::openContainingFolderWanted, this, [this](const QString &path) {
        // The desktop's file manager, as "Open with" of a folder would start it, waited for
        // off the window's thread: no file manager (gio ends in failure at once) is one line
        // under the results, never a box.
        m_services.desktop.openFolder(QFileInfo(path).absolutePath(), m_find,
                                      [find = QPointer<FindWindow>(m_find)](const QString &why) {
                                          if (find && !why.isEmpty())
                                              find->tell(QStringLiteral("The folder cannot be "
                                                                        "opened: %1.")
                                                             .arg(why));
                                      });
    });
    connect(m_find, &FindWindow::addCurrentFolderWanted, this,
            [this] { m_library->addRoot(Dir1->path()); });
    m_find->offerFolder(Dir1->path());
    connect(Dir1, &DirList::pathChanged, m_find, [this] { m_find->offerFolder(Dir1->path()); });
}

void Form1::playHits(const QModelIndexList &hits)
{
    if (hits.isEmpty() || busy())
        return;
    const int pathRole = LibraryResultsModel::PathRole;
    // A hit known to be gone is not played: a line says so, never a box over the results.
    if (hits.size() == 1 && hits.first().data(LibraryResultsModel::GoneRole).toBool()) {
        m_find->tell(QStringLiteral("%1 is no longer there.")
                         .arg(hits.first().data(Qt::DisplayRole).toString()));
        return;
    }
    // As from the file list: a chain's files go on the play list as they play.
    const auto addEntry = [this](const ChainEntry &e) { m_playList->AddEntry(e.name, e.path); };
    const BusyState::Hold chain(*m_busy);
    // Refused (gone since the last look, or damaged): a line under the results, and the
    // file looked at again, so that a gone one is greyed at once.
    const auto refused = [find = QPointer<FindWindow>(m_find),
                          results = QPointer<LibraryResultsModel>(m_results)](const QString &path) {
        if (results)
            results->lookAgain(path);
        if (find)
            find->tell(
                QStringLiteral("%1 cannot be played.").arg(shownName(QFileInfo(path).fileName())));
    };
    m_playback.play(hits, pathRole,
                    chainSourceOf(*m_find->resultsView()->selectionModel(), pathRole), addEntry,
                    m_find, refused);
}

void Form1::showInFolder(const QString &path)
{
    const QFileInfo file(path);
    if (!Dir1->setPath(file.absolutePath()).ok())
        return;
    if (const QModelIndex index = File1->shownIndexOf(file.fileName()); index.isValid()) {
        File1->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        File1->scrollTo(index);
        File1_Click();
    }
    raiseWindow();
    File1->setFocus(Qt::OtherFocusReason);
}
