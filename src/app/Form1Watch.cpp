// The shown folder as it is on disk: files and folders another program adds or removes
// appear and go, a file still being written shows its new size, and a folder removed under
// the window gives way to the nearest one left.
#include "Form1.h"
#include "browser/FolderWatch.h"

void Form1::wireWatches()
{
    m_watch = new FolderWatch(this);
    m_watch->setFolder(Dir1->path());
    connect(Dir1, &DirList::pathChanged, this, [this] {
        m_watch->setFolder(Dir1->path());
        watchSelection();
    });
    connect(File1, &FileList::fileClick, this, &Form1::watchSelection);
    connect(m_watch, &FolderWatch::folderChanged, this, &Form1::folderChangedOnDisk);
    connect(m_watch, &FolderWatch::filesChanged, this, [this] {
        File1_Click();
        // An editor that saves by renaming a new file into place ends the old watch.
        watchSelection();
    });
}

void Form1::folderChangedOnDisk()
{
    // The lists are not changed under a drag that is carrying their names, nor under the
    // chain, which walks the rows that were selected when it started.
    if (m_fileDrag->dragging() || chainRunning()) {
        m_watch->postpone();
        return;
    }
    // Should the folder be gone, the lists follow it quietly: it is not unreadable, it is
    // not there.
    if (!Dir1->followDisk())
        return;
    File1->rereadKeepingSelection();
    File1_Click();
}

void Form1::watchSelection()
{
    QStringList paths;
    for (const QString &name : File1->selectedNames())
        paths.append(fullPath(File1->path(), name));
    m_selectionUnwatched = !m_watch->setFiles(paths);
}

void Form1::lookAgainOnActivation()
{
    // No watch on the shown folder (the system's watches are used up): look at it now.
    m_watch->lookNow();
    if (m_selectionUnwatched)
        File1_Click();
    List1->recheckMissing();
}
