#pragma once

#include <QFileSystemWatcher>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>

// Which play-list entries have lost their file, kept up to date by watching the distinct
// folders the entries live in (never each file: the system allows only so many watches).
// Past maxFolders folders the rest are looked at again when the window is activated.
class MissingEntries final : public QObject
{
    Q_OBJECT
public:
    explicit MissingEntries(QObject *parent);

    static constexpr int maxFolders = 900;

    // The play list's full paths, index for index; looks at every file once.
    void setPaths(const QStringList &paths);
    bool isMissing(int index) const { return m_missing.contains(index); }
    int missingCount() const { return int(m_missing.size()); }
    // Looks at every file again (on activation, for folders that could not be watched).
    void recheck();

signals:
    // Some entries went missing or came back.
    void changed();

private:
    void recheckFolders();
    QFileSystemWatcher m_watcher;
    QStringList m_paths;
    // The entries of each folder, by index.
    QHash<QString, QList<int>> m_byFolder;
    QSet<int> m_missing;
    QSet<QString> m_changedFolders;
    QTimer m_gather;
};
