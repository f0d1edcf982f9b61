#include "MissingEntries.h"

#include <QFileInfo>

namespace {
// Gathers a burst of changes in the folders into one look.
constexpr int gatherMs = 100;
} // namespace

MissingEntries::MissingEntries(QObject *parent) : QObject(parent), m_watcher(this)
{
    m_gather.setSingleShot(true);
    m_gather.setInterval(gatherMs);
    connect(&m_gather, &QTimer::timeout, this, &MissingEntries::recheckFolders);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this](const QString &path) {
        m_changedFolders.insert(path);
        if (!m_gather.isActive())
            m_gather.start();
    });
}

void MissingEntries::setPaths(const QStringList &paths)
{
    const QSet<QString> before(m_paths.begin(), m_paths.end());
    m_paths = paths;
    m_byFolder.clear();
    QStringList added;
    for (const QString &path : paths) {
        m_byFolder[QFileInfo(path).absolutePath()].append(path);
        if (!before.contains(path))
            added.append(path);
    }
    // Entries taken off the list are no longer anybody's concern.
    const QSet<QString> now(paths.begin(), paths.end());
    bool changedAny = false;
    for (auto it = m_missing.begin(); it != m_missing.end();) {
        if (now.contains(*it)) {
            ++it;
        } else {
            it = m_missing.erase(it);
            changedAny = true;
        }
    }
    const QStringList watchedList = m_watcher.directories();
    const QSet<QString> watched(watchedList.begin(), watchedList.end());
    QStringList gone;
    for (const QString &folder : watchedList)
        if (!m_byFolder.contains(folder))
            gone.append(folder);
    if (!gone.isEmpty())
        m_watcher.removePaths(gone);
    QStringList toWatch;
    m_unwatched.clear();
    int watching = int(watched.size() - gone.size());
    for (auto it = m_byFolder.cbegin(); it != m_byFolder.cend(); ++it) {
        if (watched.contains(it.key()))
            continue;
        if (watching < maxFolders) {
            toWatch.append(it.key());
            ++watching;
        } else {
            m_unwatched.insert(it.key());
        }
    }
    if (!toWatch.isEmpty())
        m_watcher.addPaths(toWatch);
    if (look(added) || changedAny)
        emit changed();
}

void MissingEntries::recheck()
{
    QStringList paths;
    for (const QString &folder : std::as_const(m_unwatched))
        paths += m_byFolder.value(folder);
    if (look(paths))
        emit changed();
}

bool MissingEntries::look(const QStringList &paths)
{
    bool any = false;
    for (const QString &path : paths) {
        const bool missing = !QFileInfo::exists(path);
        if (missing != m_missing.contains(path)) {
            any = true;
            if (missing)
                m_missing.insert(path);
            else
                m_missing.remove(path);
        }
    }
    return any;
}

void MissingEntries::recheckFolders()
{
    QStringList paths;
    for (const QString &folder : std::exchange(m_changedFolders, {})) {
        // A folder removed and made again needs its watch again.
        if (!m_watcher.directories().contains(folder) && QFileInfo(folder).isDir())
            m_watcher.addPath(folder);
        paths += m_byFolder.value(folder);
    }
    if (look(paths))
        emit changed();
}
