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
    m_paths = paths;
    m_byFolder.clear();
    for (int i = 0; i < paths.size(); ++i)
        m_byFolder[QFileInfo(paths[i]).absolutePath()].append(i);
    QStringList wanted;
    for (auto it = m_byFolder.cbegin(); it != m_byFolder.cend() && wanted.size() < maxFolders; ++it)
        wanted.append(it.key());
    const QStringList watched = m_watcher.directories();
    QStringList gone;
    for (const QString &folder : watched)
        if (!m_byFolder.contains(folder))
            gone.append(folder);
    if (!gone.isEmpty())
        m_watcher.removePaths(gone);
    QStringList added;
    for (const QString &folder : wanted)
        if (!watched.contains(folder))
            added.append(folder);
    if (!added.isEmpty())
        m_watcher.addPaths(added);
    recheck();
}

void MissingEntries::recheck()
{
    QSet<int> missing;
    for (int i = 0; i < m_paths.size(); ++i)
        if (!QFileInfo::exists(m_paths[i]))
            missing.insert(i);
    if (missing == m_missing)
        return;
    m_missing = missing;
    emit changed();
}

void MissingEntries::recheckFolders()
{
    bool any = false;
    for (const QString &folder : std::exchange(m_changedFolders, {})) {
        // A folder removed and made again needs its watch again.
        if (!m_watcher.directories().contains(folder) && QFileInfo(folder).isDir())
            m_watcher.addPath(folder);
        for (int i : m_byFolder.value(folder)) {
            const bool missing = !QFileInfo::exists(m_paths[i]);
            if (missing != m_missing.contains(i)) {
                any = true;
                if (missing)
                    m_missing.insert(i);
                else
                    m_missing.remove(i);
            }
        }
    }
    if (any)
        emit changed();
}
