#include "FileDrag.h"

#include "platform/FileUris.h"
#include "platform/PathRule.h"
#include "platform/RegularFile.h"

#include <QCursor>
#include <QDrag>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QTimer>
#include <QWidget>
#include <algorithm>

namespace {

const QString internalDragType = QStringLiteral("application/x-quillon-sonoret-files");

// Below and to the right of the pointer's tip, as a drag's picture sits, never under it.
const QPoint pictureOffset(12, 12);
// About a screen's refresh.
constexpr int followInterval = 15;

bool isDroppableWave(const QString &path)
{
    return !path.isEmpty() && isWaveFileName(path.section(QLatin1Char('/'), -1));
}

} // namespace

FileDrag::FileDrag(QWidget &fileList, QWidget &playList, QWidget &dirList, QWidget &driveList,
                   QWidget &window, QObject *parent)
    : QObject(parent), m_fileList(fileList), m_playList(playList), m_dirList(dirList),
      m_window(window)
{
    for (QWidget *target : {&fileList, &playList, &dirList, &driveList, &window}) {
        target->setAcceptDrops(true);
        target->installEventFilter(this);
    }
}

QMimeData *FileDrag::mimeDataFor(const QStringList &paths, Origin origin)
{
    QMimeData *mime = fileUris::mimeData(paths);
    if (origin == Origin::FileList)
        mime->setData(internalDragType, QByteArray());
    return mime;
}

void FileDrag::start(const QPixmap &picture, const QStringList &paths)
{
    run(m_fileList, picture, mimeDataFor(paths, Origin::FileList));
}

void FileDrag::startFrom(QWidget &source, const QPixmap &picture, const QStringList &paths)
{
    run(source, picture, mimeDataFor(paths, Origin::Elsewhere));
}

void FileDrag::run(QWidget &source, const QPixmap &picture, QMimeData *mime)
{
    auto *drag = new QDrag(&source);
    drag->setMimeData(mime);
    m_drag = drag;
    // The picture goes in a window of its own beside the pointer, which can change on the way
    // (a drag's own picture cannot), and the pointer keeps the shape by which the desktop
    // tells whether a drop would be taken. It takes no input: a drop goes to what lies below.
    QLabel follower(&source, Qt::ToolTip | Qt::FramelessWindowHint |
                                     Qt::BypassWindowManagerHint | Qt::WindowTransparentForInput |
                                     Qt::WindowDoesNotAcceptFocus);
    follower.setObjectName(QStringLiteral("DragPicture"));
    follower.setWindowTitle(QStringLiteral("Drag picture"));
    follower.setAttribute(Qt::WA_ShowWithoutActivating);
    m_picture = &follower;
    showPicture(picture);
    const auto follow = [&follower] { follower.move(QCursor::pos() + pictureOffset); };
    follow();
    follower.show();
    // The drag keeps the pointer's moves to itself until the drop, so the picture asks where
    // the pointer is, about as often as a screen is redrawn.
    QTimer pace(&follower);
    pace.setInterval(followInterval);
    connect(&pace, &QTimer::timeout, &follower, follow);
    pace.start();
    drag->exec(Qt::CopyAction, Qt::CopyAction);
    m_picture = nullptr;
    m_drag.clear();
}

void FileDrag::showPicture(const QPixmap &picture)
{
    // Each move over a list asks again: the same picture is left as it is.
    if (!m_picture || m_picture->pixmap().cacheKey() == picture.cacheKey())
        return;
    m_picture->setPixmap(picture);
    m_picture->resize(picture.size());
    // Shaped, so that only the drawing shows, without a compositor too.
    m_picture->setMask(picture.mask());
}

bool FileDrag::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return false;
    if (watched == &m_window)
        return handleWindow(event);
    auto *drag = static_cast<QDropEvent *>(event);
    const bool internal = drag->mimeData()->hasFormat(internalDragType);
    const bool onPlayList = watched == &m_playList;
    if (type == QEvent::DragEnter || type == QEvent::DragMove) {
        if (internal) {
            if (watched == &m_fileList)
                emit overFileList();
            else if (onPlayList)
                emit overPlayList();
            else if (watched == &m_dirList)
                emit overDirList();
            else
                emit overDriveList();
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
            return true;
        }
        const QStringList dropped = fileUris::localPaths(*drag->mimeData());
        if (onPlayList && std::any_of(dropped.begin(), dropped.end(), isDroppableWave)) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            drag->ignore();
        }
        return true;
    }
    // A drop: only the play list takes it; elsewhere it ends the drag without effect.
    if (onPlayList && internal) {
        emit droppedOnPlayList();
    } else if (onPlayList) {
        QStringList paths;
        for (const QString &path : fileUris::localPaths(*drag->mimeData())) {
            // A FIFO or a folder named *.wav could never be played: it does not go in.
            if (isDroppableWave(path) && isReadableRegularFile(path))
                paths.append(path);
        }
        emit filesDropped(paths);
    }
    drag->setDropAction(Qt::CopyAction);
    drag->accept();
    return true;
}

bool FileDrag::handleWindow(QEvent *event)
{
    if (event->type() == QEvent::Drop)
        return false;
    auto *drag = static_cast<QDragMoveEvent *>(event);
    if (!drag->mimeData()->hasFormat(internalDragType)) {
        drag->ignore();
        return true;
    }
    // Over the buttons and the panel the picture stays as it was; only the bare window
    // background shows that nothing would take a drop there.
    if (!m_window.childAt(drag->position().toPoint()))
        emit overBackground();
    drag->setDropAction(Qt::CopyAction);
    drag->accept();
    return true;
}
