// The way in from the desktop: the paths the program was started with or that a later
// start handed over ("Open with"), the media controls, and the keys that play the entry at
// hand.
#include "CommandLine.h"
#include "Form1.h"
#include "Mpris.h"
#include "audition/Audition.h"
#include "browser/FileList.h"
#include "files/DirList.h"
#include "playlist/PlayListModel.h"
#include "playlist/PlayListView.h"
#include "ui/MessageBoxes.h"

#include <QFileInfo>

void Form1::raiseWindow()
{
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
}

void Form1::openPaths(const QStringList &paths)
{
    m_pathsWaiting += paths;
    // Busy: the paths are opened when it is idle.
    if (m_pathsWaiting.isEmpty() || ended() || busy())
        return;
    const PathsToOpen sorted = sortPaths(std::exchange(m_pathsWaiting, {}));
    if (!sorted.skipped.isEmpty())
        messages::stop(this, skippedMessage(sorted.skipped));
    // A folder given is shown, the last one if several; else the first file's folder, with
    // that file selected.
    if (!sorted.folder.isEmpty())
        // One that cannot be opened leaves the lists where they are, without a message.
        (void)Dir1->setPath(sorted.folder);
    if (sorted.files.isEmpty())
        return;
    const QFileInfo first(sorted.files.first());
    if (sorted.folder.isEmpty() && Dir1->setPath(first.absolutePath()).ok()) {
        if (const QModelIndex index = File1->shownIndexOf(first.fileName()); index.isValid()) {
            File1->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
            File1->scrollTo(index);
        }
    }
    // The files alone selected on the play list (where they were already, they stay), and
    // played as from there.
    m_playList->addFiles(sorted.files);
    QSet<QString> wanted;
    for (const QString &file : sorted.files)
        wanted.insert(PlayListModel::keyOf(file));
    QItemSelection selection;
    const QAbstractItemModel *shown = List1->model();
    for (int row = 0; row < shown->rowCount(); ++row) {
        const QModelIndex entry = shown->index(row, 0);
        if (wanted.contains(PlayListModel::keyOf(entry.data(PlayListModel::PathRole).toString())))
            selection.select(entry, entry);
    }
    List1->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    playSelection(List1->selection(), Source::PlayList);
}

MediaControl Form1::mediaControl(std::function<void()> quit)
{
    MediaControl control;
    control.now = &m_now;
    control.playback = &m_playback;
    control.lists = {File1->model(), List1->model()};
    control.raise = [this] { raiseWindow(); };
    control.playCurrent = [this] { playCurrentEntry(); };
    control.quit = std::move(quit);
    return control;
}

void Form1::playCurrentEntry()
{
    // As Enter would in the list the user is in (the one that has or last had the focus), on
    // its entry with the focus frame; else on the other list's.
    if (busy())
        return;
    const QAbstractItemView *atHand = m_audition->listAtHand() == List1
                                          ? static_cast<QAbstractItemView *>(List1)
                                          : static_cast<QAbstractItemView *>(File1);
    const QAbstractItemView *other = atHand == File1 ? static_cast<QAbstractItemView *>(List1)
                                                     : static_cast<QAbstractItemView *>(File1);
    const auto sourceOf = [this](const QAbstractItemView *list) {
        return list == File1 ? Source::FileList : Source::PlayList;
    };
    for (const QAbstractItemView *list : {atHand, other}) {
        if (const QModelIndex current = list->currentIndex(); current.isValid()) {
            playSelection({current}, sourceOf(list));
            return;
        }
    }
    // No focus frame yet (the lists were never focused): the first entry, as the frame
    // would first stand there.
    for (const QAbstractItemView *list : {atHand, other}) {
        if (list->model()->rowCount() > 0) {
            playSelection({list->model()->index(0, 0)}, sourceOf(list));
            return;
        }
    }
}

void Form1::playOrStop()
{
    // A sound still being opened (its disk slow to answer) is ended too.
    if (!m_now.path().isEmpty()) {
        m_now.stop();
        return;
    }
    // The entry with the focus frame of the list the key came from, from its start; it is
    // selected too, as Space selects in a list.
    QAbstractItemView *list = List1->hasFocus() ? static_cast<QAbstractItemView *>(List1)
                                                : static_cast<QAbstractItemView *>(File1);
    const QModelIndex current = list->currentIndex();
    if (!current.isValid() || busy())
        return;
    list->selectionModel()->select(current, QItemSelectionModel::Select);
    playSelection({current}, list == File1 ? Source::FileList : Source::PlayList);
}
