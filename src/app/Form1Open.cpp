// The way in from the desktop: the paths the program was started with or that a later start
// handed over ("Open with"), and the media controls.
#include "CommandLine.h"
#include "Form1.h"
#include "Mpris.h"
#include "playback/NowPlaying.h"
#include "playlist/PlayListModel.h"
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
        for (int row = 0; row < File1->listCount(); ++row) {
            if (File1->entry(row) == first.fileName()) {
                const QModelIndex index = File1->model()->index(row, 0);
                File1->selectionModel()->setCurrentIndex(index,
                                                         QItemSelectionModel::ClearAndSelect);
                File1->scrollTo(index);
            }
        }
    }
    // The files alone selected on the play list (where they were already, they stay), and
    // played as from there.
    m_playList->addFiles(sorted.files);
    QSet<QString> wanted;
    for (const QString &file : sorted.files)
        wanted.insert(PlayListModel::keyOf(file));
    QItemSelection selection;
    QList<int> rows;
    for (int row = 0; row < m_playList->count(); ++row) {
        if (wanted.contains(PlayListModel::keyOf(m_playList->path(row)))) {
            rows.append(row);
            selection.select(m_playList->index(row), m_playList->index(row));
        }
    }
    List1->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    playSelection(rows, Source::PlayList);
}

MediaControl Form1::mediaControl(NowPlaying &now, std::function<void()> quit)
{
    MediaControl control;
    control.now = &now;
    control.playback = &m_playback;
    control.lengthUs = [this](const QString &path) {
        return m_services.waveLength.lengthMs(path).value_or(0) * 1000;
    };
    control.raise = [this] { raiseWindow(); };
    control.quit = std::move(quit);
    return control;
}
