#include "MissingEntries.h"

#include "files/Scheduler.h"
#include "platform/NativeName.h"

#include <QFileInfo>

namespace {
// Gathers a burst of changes in the folders into one look.
constexpr int gatherMs = 100;
} // namespace

MissingEntries::MissingEntries(QObject *parent, Exists exists)
    : QObject(parent), m_exists(std::move(exists)), m_asker(std::make_unique<Asker>(this)),
      m_watcher(this)
{
    if (!m_exists)
        m_exists = [](const QString &path) { return statPath(path).has_value(); };
    m_gather.setSingleShot(true);
    m_gather.setInterval(gatherMs);
    connect(&m_gather, &QTimer::timeout, this, &MissingEntries::recheckFolders);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this](const QString &path) {
        m_changedFolders.insert(path);
        if (!m_gather.isActive())
            m_gather.start();
    });
}

MissingEntries::~MissingEntries() = default;

void MissingEntries::setPaths(const QStringList &paths)
{
    const QSet<QString> before = std::exchange(m_listed, {});
    m_byFolder.clear();
    QStringList added;
    for (const QString &path : paths) {
        m_byFolder[QFileInfo(path).absolutePath()].append(path);
        if (!before.contains(path))
            added.append(path);
    }
    // Entries taken off the list are no longer anybody's concern.
    m_listed = QSet<QString>(paths.begin(), paths.end());
    bool changedAny = false;
    for (auto it = m_missing.begin(); it != m_missing.end();) {
        if (m_listed.contains(*it)) {
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
    // A folder the system refuses (watches used up, a name Qt cannot carry) is looked at on
    // activation, as those past the limit are.
    if (!toWatch.isEmpty())
        for (const QString &refused : m_watcher.addPaths(toWatch))
            m_unwatched.insert(refused);
    look(added);
    if (changedAny)
        emit changed();
}

void MissingEntries::recheck()
{
    QStringList paths;
    for (const QString &folder : std::as_const(m_unwatched))
        paths += m_byFolder.value(folder);
    look(paths);
}

void MissingEntries::look(const QStringList &paths, const QStringList &folders)
{
    if (paths.isEmpty() && folders.isEmpty())
        return;
    // One look at a time, in order: a later look's answer is never overtaken by an older one.
    Scheduler::instance().start(
        *m_asker, {Lane::serial, Weight::light, {}, {}},
        [this, asker = m_asker->link(), exists = m_exists, paths, folders](const QString &) {
            QSet<QString> missing;
            for (const QString &path : paths)
                if (!exists(path))
                    missing.insert(path);
            QStringList there;
            for (const QString &folder : folders)
                if (isDirectoryPath(folder))
                    there.append(folder);
            Asker::answer(asker, {},
                          [this, paths, missing, there] { take(paths, missing, there); });
        });
}

void MissingEntries::take(const QStringList &paths, const QSet<QString> &missingNow,
                          const QStringList &folders)
{
    // A folder removed and made again needs its watch again.
    for (const QString &folder : folders)
        if (m_byFolder.contains(folder) && !m_watcher.directories().contains(folder))
            m_watcher.addPath(folder);
    bool any = false;
    for (const QString &path : paths) {
        // An entry taken off the list meanwhile is nobody's concern.
        if (!m_listed.contains(path))
            continue;
        const bool missing = missingNow.contains(path);
        if (missing != m_missing.contains(path)) {
            any = true;
            if (missing)
                m_missing.insert(path);
            else
                m_missing.remove(path);
        }
    }
    if (any)
        emit changed();
}

void MissingEntries::recheckFolders()
{
    QStringList paths;
    QStringList unwatched;
    for (const QString &folder : std::exchange(m_changedFolders, {})) {
        if (!m_watcher.directories().contains(folder))
            unwatched.append(folder);
        paths += m_byFolder.value(folder);
    }
    look(paths, unwatched);
}
