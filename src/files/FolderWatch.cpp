#include "FolderWatch.h"

#include "platform/NativeName.h"
#include "platform/WorkPool.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QPointer>
#include <QSocketNotifier>
#include <optional>
#include <sys/inotify.h>
#include <unistd.h>

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

// The selected files' watches: one inotify descriptor, whose watches a worker sets, one
// selection after another, the newest last; the window's thread only reads its events.
struct FolderWatch::Files
{
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QMutex mutex;
    std::optional<QStringList> wanted;
    bool working = false;
    QList<int> watches;
    WatchFile watchFile = [](int fd, const QString &path, uint32_t events) {
        return inotify_add_watch(fd, nativePath(path).constData(), events);
    };
    ~Files()
    {
        if (fd >= 0)
            ::close(fd);
    }
    // A writer's close, a change of mode or time, and an editor's save by renaming a new
    // file over the old one.
    static constexpr uint32_t events =
        IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVE_SELF | IN_DELETE_SELF;

    // On a worker, until no newer selection waits.
    void work(const QPointer<FolderWatch> &owner)
    {
        for (;;) {
            QStringList paths;
            WatchFile watch;
            {
                QMutexLocker lock(&mutex);
                if (!wanted) {
                    working = false;
                    return;
                }
                paths = *std::exchange(wanted, std::nullopt);
                watch = watchFile;
            }
            for (const int wd : std::exchange(watches, {}))
                inotify_rm_watch(fd, wd);
            for (const QString &path : std::as_const(paths))
                if (const int wd = watch(fd, path, events); wd >= 0)
                    watches.append(wd);
            if (!paths.isEmpty())
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(),
                    [owner] {
                        if (owner)
                            emit owner->filesWatched();
                    },
                    Qt::QueuedConnection);
        }
    }
};

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
    m_files = std::make_shared<Files>();
    if (m_files->fd >= 0) {
        m_fileEvents = new QSocketNotifier(m_files->fd, QSocketNotifier::Read, this);
        connect(m_fileEvents, &QSocketNotifier::activated, this, &FolderWatch::readFileEvents);
    }
}

FolderWatch::~FolderWatch()
{
    // A worker still setting watches keeps the descriptor; the notifier goes before it closes.
    delete m_fileEvents;
}

void FolderWatch::setWatchFile(WatchFile watchFile)
{
    QMutexLocker lock(&m_files->mutex);
    m_files->watchFile = std::move(watchFile);
}

void FolderWatch::readFileEvents()
{
    // The descriptor's queue, not a disk: it never waits.
    alignas(inotify_event) char buffer[4096];
    bool written = false;
    for (;;) {
        const ssize_t got = ::read(m_files->fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        for (ssize_t at = 0; at < got;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            // A watch taken off (another selection) says so once; that is no change.
            if (!(event->mask & IN_IGNORED))
                written = true;
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
    if (written)
        changed(false);
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
    workPool().start(Lane::now, [self, folder] {
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
    const bool watched = paths.size() <= maxFiles;
    if (m_files->fd < 0)
        return false;
    QMutexLocker lock(&m_files->mutex);
    m_files->wanted = watched ? paths : QStringList();
    if (!std::exchange(m_files->working, true))
        workPool().start(Lane::now, [files = m_files, self = QPointer<FolderWatch>(this)] {
            files->work(self);
        });
    return watched;
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
