#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

class QDrag;
class QLabel;
class QDropEvent;
class QMimeData;
class QPixmap;
class QWidget;

// Dragging the file list's selection onto the play list, as the main window shows it: the
// picture that follows the pointer tells where a drop would go, and only the play list takes
// the drop. Wave files dragged in from a file manager go onto the play list as well.
class FileDrag final : public QObject
{
    Q_OBJECT
public:
    // The viewports of the two lists, the directory list's viewport, the drive list, and the
    // window whose bare background counts as Background.
    FileDrag(QWidget &fileList, QWidget &playList, QWidget &dirList, QWidget &driveList,
             QWidget &window, QObject *parent);

    // Starts the drag of the files at paths from the file list (it returns when the drop is
    // over). Other programs get the files too: a file manager copies them, an editor opens them.
    void start(const QPixmap &picture, const QStringList &paths);
    // The same for files dragged from another list of the program (the library's hits): the
    // same picture beside the pointer, but what they offer is what a file manager's drag
    // offers, so the play list takes them as files from elsewhere.
    void startFrom(QWidget &source, const QPixmap &picture, const QStringList &paths);

    // What a drag of the files offers other programs (file URIs, and the form GNOME's file
    // manager reads); with ours, also the mark our own window answers to.
    // Only the file list's own drag carries the mark this window answers to.
    enum class Origin
    {
        FileList,
        Elsewhere,
    };
    static QMimeData *mimeDataFor(const QStringList &paths, Origin origin);
    // The picture beside the pointer from now on.
    void showPicture(const QPixmap &picture);
    bool dragging() const { return !m_drag.isNull(); }

signals:
    // What the pointer is over during a drag from the file list.
    void overFileList();
    void overPlayList();
    void overDirList();
    void overDriveList();
    void overBackground();
    // The file list's drag was dropped on the play list.
    void droppedOnPlayList();
    // Files from elsewhere dropped on the play list: regular wave files only, in order.
    void filesDropped(const QStringList &paths);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void run(QWidget &source, const QPixmap &picture, QMimeData *mime);
    bool handleWindow(QEvent *event);
    QWidget &m_fileList;
    QWidget &m_playList;
    QWidget &m_dirList;
    QWidget &m_window;
    QPointer<QDrag> m_drag;
    QLabel *m_picture = nullptr;
};
