#pragma once

#include "files/DirList.h"

#include <QObject>

class BusyState;
class CurrentDrive;
class Desktop;
class DriveList;
class DriveNavigator;
class FileList;
class FolderWatch;
class PanelReader;
class Volumes;
class QWidget;

// The main window's browser: Drive1, Dir1 and File1 wired together. It follows the drive
// chosen, the folder opened and the disk (what other programs do in the shown folder and
// to the selected files), and tells of a folder that cannot be listed when the user chose
// it. The controls are the window's; this is what makes them one browser.
class Browser final : public QObject
{
    Q_OBJECT
public:
    Browser(DriveList &drives, DirList &dirs, FileList &files, Volumes &volumes,
            CurrentDrive &current, Desktop &desktop, QWidget &window);

    // Opens folder (the process's current directory at start); one that cannot be read
    // still shows the way up to it, without a message.
    void openStart(const QString &folder);
    // Lists the folder the directory list shows; report says whether a failure is told.
    void listFiles(DirList::Report report);
    void openParentFolder();
    // Reads the folder again, keeping the selection (F5).
    void reread();
    // The window was activated: what no watch covers is looked at now.
    void lookAgain();
    // While the window is busy, a change on disk waits: the lists hold still under what acts
    // on them as they are (a drag that carries their names, the chain, which walks the rows
    // it started with, a menu or a question about their selection).
    void holdStillWhile(const BusyState &busy) { m_busy = &busy; }

    // The details panel's figures, read by a worker; the watch of the folder and selection.
    PanelReader &panel() { return *m_panel; }
    FolderWatch &watch() { return *m_watch; }

signals:
    // Another folder or drive is about to show: what the window shows of the old one goes.
    void leavingFolder();
    // The selected files may have changed on disk: their details are to be read again.
    void selectionStale();

private:
    void folderChangedOnDisk();
    void watchSelection();
    void listedLate(const QString &folder, const QString &why);
    // The file list could not list the folder the directory list shows.
    void notListed(const QString &why);

    DirList &m_dirs;
    FileList &m_files;
    QWidget &m_window;
    DriveNavigator *m_navigator;
    FolderWatch *m_watch;
    PanelReader *m_panel;
    const BusyState *m_busy = nullptr;
    // How the listing under way is told of when it fails, and the folder listed before it.
    DirList::Report m_listReport = DirList::Report::Quiet;
    QString m_readable;
    // More files are selected than are watched: their details are read on activation.
    bool m_selectionUnwatched = false;
};
