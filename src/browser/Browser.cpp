#include "Browser.h"

#include "DetailsPanel.h"
#include "FileList.h"
#include "files/DriveList.h"
#include "files/DriveNavigator.h"
#include "files/FolderWatch.h"
#include "platform/PathRule.h"
#include "ui/BusyState.h"
#include "ui/MessageBoxes.h"

#include <QWidget>

Browser::Browser(DriveList &drives, DirList &dirs, FileList &files, Volumes &volumes,
                 CurrentDrive &current, Desktop &desktop, QWidget &window)
    : QObject(&window), m_dirs(dirs), m_files(files), m_window(window),
      m_navigator(new DriveNavigator(
          drives, dirs, volumes, current, desktop, DriveNavigator::Beep::OnFailure,
          [this](const QString &text) { messages::stop(&m_window, text); }, this)),
      m_watch(new FolderWatch(this)), m_panel(new PanelReader(this))
{
    connect(m_navigator, &DriveNavigator::driveChanged, this, &Browser::leavingFolder);
    connect(this, &Browser::leavingFolder, m_panel, &PanelReader::drop);
    connect(&m_dirs, &DirList::pathChanged, this, &Browser::listFiles);
    connect(&m_dirs, &DirList::pathChanged, this, [this] {
        m_watch->setFolder(m_dirs.path());
        watchSelection();
    });
    connect(&m_files, &FileList::fileClick, this, &Browser::watchSelection);
    connect(m_watch, &FolderWatch::folderChanged, this, &Browser::folderChangedOnDisk);
    connect(&m_files.folderModel(), &WaveFolderModel::unlisted, this, &Browser::listedLate);
    connect(m_watch, &FolderWatch::filesChanged, this, [this] {
        emit selectionStale();
        // An editor that saves by renaming a new file into place ends the old watch.
        watchSelection();
    });
    // A file written between the panel's read and its watch would otherwise go unseen.
    connect(m_watch, &FolderWatch::filesWatched, this, &Browser::selectionStale);
}

void Browser::openStart(const QString &folder)
{
    if (!m_dirs.setPath(folder).ok())
        m_dirs.showUnreadable(folder);
    m_watch->setFolder(m_dirs.path());
}

void Browser::listFiles(DirList::Report report)
{
    emit leavingFolder();
    // Kept for an answer that comes late, which is then handled as one in time is here.
    m_listReport = report;
    m_readable = m_files.path();
    const Result<> listed = m_files.setPath(m_dirs.path());
    if (!listed.ok())
        notListed(listed.error());
}

void Browser::listedLate(const QString &folder, const QString &why)
{
    // The user has gone on meanwhile: that folder is no longer the one to tell of.
    if (folder == m_dirs.path())
        notListed(why);
}

void Browser::notListed(const QString &why)
{
    if (m_listReport == DirList::Report::Quiet) {
        m_files.showUnreadable(m_dirs.path());
        return;
    }
    // The folder opened but could not be listed. Both lists go back to the folder the file
    // list showed: its names joined with another folder's path could reach other files.
    const QString readable = m_readable;
    if (readable.isEmpty() || readable == m_dirs.path() ||
        !m_dirs.setPath(readable, DirList::Report::Quiet).ok())
        m_files.showUnreadable(m_dirs.path());
    messages::stop(&m_window, why);
}

void Browser::openParentFolder()
{
    if (m_dirs.path() != QLatin1String("/"))
        emit m_dirs.openRequested(m_dirs.parentPath());
}

void Browser::reread()
{
    m_dirs.reread();
    m_files.rereadKeepingSelection();
}

void Browser::folderChangedOnDisk()
{
    if (m_busy && m_busy->busy()) {
        m_watch->postpone();
        return;
    }
    // Should the folder be gone, the lists follow it quietly: it is not unreadable, it is
    // not there.
    if (!m_dirs.followDisk())
        return;
    m_files.rereadKeepingSelection();
    emit selectionStale();
}

void Browser::watchSelection()
{
    const QStringList names = m_files.selectedNames();
    // Too many to watch: none are, and the paths of all of them are not worth making.
    if (names.size() > FolderWatch::maxFiles) {
        m_watch->setFiles({});
        m_selectionUnwatched = true;
        return;
    }
    QStringList paths;
    for (const QString &name : names)
        paths.append(fullPath(m_files.path(), name));
    m_selectionUnwatched = !m_watch->setFiles(paths);
}

void Browser::lookAgain()
{
    // No watch on the shown folder (the system's watches are used up): look at it now.
    m_watch->lookNow();
    if (m_selectionUnwatched)
        emit selectionStale();
}
