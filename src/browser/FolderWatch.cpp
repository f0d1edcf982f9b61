#include "FolderWatch.h"

#include <QDir>
#include <QFileInfo>

namespace {
// A burst is over once it has been quiet this long…
constexpr int quietMs = 80;
// …and a long burst still reports this soon after its first change.
constexpr int deadlineMs = 400;
} // namespace

FolderWatch::FolderWatch(QObject *parent) : QObject(parent), m_watcher(this)
{
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
    if (!folder.isEmpty())
        m_watcher.addPath(folder);
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
    while (!QFileInfo(folder).isDir() && folder != QLatin1String("/") && !folder.isEmpty())
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
