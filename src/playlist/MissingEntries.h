#pragma once

#include <QFileSystemWatcher>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>

class Asker;

// Which play-list entries have lost their file, kept up to date by watching the distinct
// folders the entries live in (never each file: the system allows only so many watches).
// A file is looked at when it joins the list and when its folder changes; past maxFolders
// folders, the files of the folders not watched are looked at when the window is activated.
// The looks run on the scheduler's serial lane, one at a time and in order: an entry on a
// stalled mount holds up its worker, never the window.
class MissingEntries final : public QObject
{
    Q_OBJECT
public:
    using Exists = std::function<bool(const QString &)>;
    explicit MissingEntries(QObject *parent, Exists exists = {});
    // The look under way is left to end on its own; its answer is dropped.
    ~MissingEntries() override;

    static constexpr int maxFolders = 900;

    // The play list's full paths; looks at the files new to it. Keeps no copy of the list.
    void setPaths(const QStringList &paths);
    bool isMissing(const QString &path) const { return m_missing.contains(path); }
    // A row is the model's to turn into a path: a 0 would read as no path at all.
    bool isMissing(int) const = delete;
    // Looks again at the files of the folders that are not watched (on activation).
    void recheck();

signals:
    // Some entries went missing or came back.
    void changed();

private:
    void recheckFolders();
    // Looks at the files in the worker, and at the folders to watch again; changed() follows
    // when one went missing or came back.
    void look(const QStringList &paths, const QStringList &folders = {});
    void take(const QStringList &paths, const QSet<QString> &missing, const QStringList &folders);
    Exists m_exists;
    std::unique_ptr<Asker> m_asker;
    QFileSystemWatcher m_watcher;
    QSet<QString> m_listed;
    // The entries of each folder, by path.
    QHash<QString, QStringList> m_byFolder;
    QSet<QString> m_unwatched;
    QSet<QString> m_missing;
    QSet<QString> m_changedFolders;
    QTimer m_gather;
};
