#include "FolderWatch.h"

#include "platform/NativeName.h"
#include "platform/WorkPool.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QThreadPool>

namespace {
// A burst is over once it has been quiet this long…
constexpr int quietMs = 80;
// …and a long burst still reports this soon after its first change.
constexpr int deadlineMs = 400;
} // namespace

namespace {
// What changes when a name comes or goes in the folder; invalid when it cannot be read.
QDateTime changeTime(const QString &folder)
{
    const std::optional<struct stat> status = statPath(folder);
    if (!status || !S_ISDIR(status->st_mode))
        return {};
    const timespec &latest = std::max(status->st_ctim, status->st_mtim, [](auto &a, auto &b) {
        return std::pair(a.tv_sec, a.tv_nsec) < std::pair(b.tv_sec, b.tv_nsec);
    });
    return QDateTime::fromMSecsSinceEpoch(qint64(latest.tv_sec) * 1000 + latest.tv_nsec / 1000000);
}
} // namespace

FolderWatch::FolderWatch(QObject *parent, AddWatch addWatch)
    : QObject(parent),
      m_addWatch(addWatch ? std::move(addWatch)
                          : [](QFileSystemWatcher &watcher,
                               const QString &folder) { return watcher.addPath(folder); }),
      m_watcher(this)
{
    m_poll.setInterval(pollMs);
    connect(&m_poll, &QTimer::timeout, this, &FolderWatch::look);
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(quietMs);
    m_deadline.setSingleShot(true);
    m_deadline.setInterval(deadlineMs);
    connect(&m_quiet, &QTimer::timeout, this, &FolderWatch::report);
    connect(&m_deadline, &QTimer::timeout, this, &FolderWatch::report);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { changed(true); });
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, [this] { changed(false); });
}

void FolderWatch::setFolder(const QString &folder)
{
    if (folder == m_folder && m_watcher.directories().contains(folder))
        return;
    if (!m_watcher.directories().isEmpty())
        m_watcher.removePaths(m_watcher.directories());
    m_folder = folder;
    m_folderChanged = false;
    m_poll.stop();
    m_primed = false;
    if (folder.isEmpty() || m_addWatch(m_watcher, folder))
        return;
    // Refused (or the folder is not there to watch): the lists would go stale without a word.
    m_poll.start();
    look();
}

void FolderWatch::look()
{
    if (m_looking)
        return; // a stalled mount: one look at a time
    m_looking = true;
    QPointer<FolderWatch> self(this);
    const QString folder = m_folder;
    workPool().start([self, folder] {
        const QDateTime time = changeTime(folder);
        // Back on the window's thread, where the watch may have gone meanwhile.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, folder, time] {
                if (!self)
                    return;
                self->m_looking = false;
                if (folder != self->m_folder || !self->m_poll.isActive())
                    return;
                if (!std::exchange(self->m_primed, true)) {
                    self->m_seen = time;
                    return;
                }
                if (time != self->m_seen) {
                    self->m_seen = time;
                    self->changed(true);
                }
            },
            Qt::QueuedConnection);
    });
}

bool FolderWatch::setFiles(const QStringList &paths)
{
    if (!m_watcher.files().isEmpty())
        m_watcher.removePaths(m_watcher.files());
    if (paths.size() > maxFiles)
        return false;
    if (!paths.isEmpty())
        m_watcher.addPaths(paths);
    return true;
}

void FolderWatch::postpone()
{
    changed(true);
}

QString FolderWatch::nearestExistingFolder(const QString &path)
{
    QString folder = QDir::cleanPath(path);
    while (!isDirectoryPath(folder) && folder != QLatin1String("/") && !folder.isEmpty())
        folder = QDir::cleanPath(folder + QStringLiteral("/.."));
    return folder.isEmpty() ? QStringLiteral("/") : folder;
}

void FolderWatch::changed(bool folder)
{
    (folder ? m_folderChanged : m_filesChanged) = true;
    m_quiet.start();
    if (!m_deadline.isActive())
        m_deadline.start();
}

void FolderWatch::report()
{
    m_quiet.stop();
    m_deadline.stop();
    const bool folder = std::exchange(m_folderChanged, false);
    const bool files = std::exchange(m_filesChanged, false);
    if (folder)
        emit folderChanged();
    if (files)
        emit filesChanged();
}
