#pragma once

#include "platform/Result.h"

#include <QTreeWidget>

// Dir1: the chain of folders from the root down to the current directory, and the
// subdirectories of the current directory below it.
class DirList final : public QTreeWidget
{
    Q_OBJECT
public:
    explicit DirList(QWidget *parent);

    // Whether a list that follows this one tells the user of a folder it cannot list: it
    // does when the user chose the folder, not when the way back or the disk led there.
    enum class Report
    {
        Tell,
        Quiet
    };

    QString path() const { return m_path; }
    // When the directory cannot be opened, nothing changes. A different path raises
    // pathChanged with the report given.
    Result<> setPath(const QString &path, Report report = Report::Tell);
    // Reads the subfolders of the same folder again.
    void reread() { rebuild(); }
    // Follows a change on disk: reads the sub-folders again, or, when the folder itself has
    // been removed, shows the nearest folder left, without a message. False in that case.
    bool followDisk();
    // The folder above, or "/" itself.
    QString parentPath() const;
    // A folder that cannot be read: shown with the way up to it and nothing below, so the
    // user can walk out of it. Followers are not to tell of it again.
    void showUnreadable(const QString &path);
    // From now on the folder is opened and its subfolders read on a worker: the way up to it
    // shows at once, the subfolders when they come, and a folder on a stalled disk leaves the
    // window answering. setPath then always succeeds; a folder that cannot be opened raises
    // unreadable when the worker finds so, and shows as showUnreadable shows it.
    void readOnWorker() { m_onWorker = true; }

signals:
    void pathChanged(DirList::Report report);
    // The user opened an entry (double click, Enter); the owner decides whether to follow.
    void openRequested(const QString &path);
    // Read on a worker: the folder shown could not be opened (the system's text).
    void unreadable(const QString &path, const QString &why);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void rebuild();
    void openItem(QTreeWidgetItem *item);
    void addSubdirectories(QTreeWidgetItem *parent, const QStringList &names);
    QString m_path;
    bool m_onWorker = false;
    // Which read the answer of a worker is for: only the last one's shows.
    quint64 m_read = 0;
};
