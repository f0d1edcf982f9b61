#pragma once

#include <QDateTime>
#include <QFileSystemWatcher>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>

class QSocketNotifier;

// Watches the folder a window shows, and the files whose size the window shows, so the
// window can follow what other programs do there. Changes come in bursts (a copy of 500
// files, a recorder writing every few milliseconds): they are gathered into one report that
// comes at most half a second after the first change.
class FolderWatch final : public QObject
{
    Q_OBJECT
public:
    // How a folder is put under watch; false when the system refuses (its inotify watches
    // used up). Tests put a refusing one in.
    using AddWatch = std::function<bool(QFileSystemWatcher &, const QString &folder)>;
    explicit FolderWatch(QObject *parent, AddWatch addWatch = {});
    ~FolderWatch() override;
    // How a file is put under the system's watch (inotify_add_watch on the descriptor): run
    // on a worker, since it looks the path up on its disk. Tests put a stalling one in.
    using WatchFile = std::function<int(int inotifyFd, const QString &path, uint32_t events)>;
    void setWatchFile(WatchFile watchFile);

    // The folder to watch; empty stops watching.
    void setFolder(const QString &folder);
    QString folder() const { return m_folder; }
    // The files to watch for writes, put under watch by a worker. False when there are more
    // than maxFiles: none are watched then, and the window looks again when it is activated.
    bool setFiles(const QStringList &paths);
    static constexpr int maxFiles = 64;
    // Asks for the report again later: the window cannot take it now (a drag is running).
    void postpone();
    // The system refused to watch the folder: it is looked at every pollMs instead (its
    // change time, in a worker), and the window should look again when it is activated.
    bool polling() const { return m_poll.isActive(); }
    static constexpr int pollMs = 2000;
    // While polling, a look now (the window was activated); reported only if it changed.
    void lookNow()
    {
        if (polling())
            look();
    }

    // The nearest folder that still exists, path itself included ("/" at worst).
    static QString nearestExistingFolder(const QString &path);

signals:
    void folderChanged();
    void filesChanged();
    // The files last set are under watch now: what they were read as before may be older
    // than the watch.
    void filesWatched();

private:
    void changed(bool folder);
    void report();
    void look();
    void readFileEvents();
    AddWatch m_addWatch;
    struct Files;
    std::shared_ptr<Files> m_files;
    QSocketNotifier *m_fileEvents = nullptr;
    QFileSystemWatcher m_watcher;
    QTimer m_poll;
    QDateTime m_seen;
    bool m_looking = false;
    bool m_primed = false;
    QString m_folder;
    QTimer m_quiet;
    QTimer m_deadline;
    bool m_folderChanged = false;
    bool m_filesChanged = false;
};
