#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QStringList>
#include <QTimer>

// Watches the folder a window shows, and the files whose size the window shows, so the
// window can follow what other programs do there. Changes come in bursts (a copy of 500
// files, a recorder writing every few milliseconds): they are gathered into one report that
// comes at most half a second after the first change.
class FolderWatch final : public QObject
{
    Q_OBJECT
public:
    explicit FolderWatch(QObject *parent);

    // The folder to watch; empty stops watching.
    void setFolder(const QString &folder);
    QString folder() const { return m_folder; }
    // The files to watch for writes. False when there are more than maxFiles: none are
    // watched then, and the window looks again when it is activated.
    bool setFiles(const QStringList &paths);
    static constexpr int maxFiles = 64;
    // Asks for the report again later: the window cannot take it now (a drag is running).
    void postpone();

    // The nearest folder that still exists, path itself included ("/" at worst).
    static QString nearestExistingFolder(const QString &path);

signals:
    void folderChanged();
    void filesChanged();

private:
    void changed(bool folder);
    void report();
    QFileSystemWatcher m_watcher;
    QString m_folder;
    QTimer m_quiet;
    QTimer m_deadline;
    bool m_folderChanged = false;
    bool m_filesChanged = false;
};
