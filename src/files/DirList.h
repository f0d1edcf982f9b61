#pragma once

#include "platform/BriefWait.h"
#include "platform/Result.h"

#include <QTreeWidget>
#include <chrono>
#include <functional>
#include <optional>

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
    // What a worker finds of a folder: whether it opens (else why not), its subfolders, and,
    // when asked to and it is gone, the nearest folder left.
    struct Reading
    {
        Result<> opened;
        QStringList names;
        QString nearest;
    };
    static Reading readFolder(const QString &path, bool followGone);
    // A test's stand-in for readFolder, run on the worker.
    void setRead(std::function<Reading(const QString &, bool)> read) { m_readFolder = std::move(read); }

    // The folder is read on a worker, waited for a moment. When it cannot be opened in that
    // time, nothing changes. A different path raises pathChanged with the report given; when
    // the answer comes late, the way up shows at once and the subfolders when they come, and
    // a folder that then cannot be opened raises unreadable (and, when the user chose it, the
    // list goes back to the folder before).
    Result<> setPath(const QString &path, Report report = Report::Tell);
    // Reads the subfolders of the same folder again.
    void reread();
    // Follows a change on disk: reads the sub-folders again, or, when the folder itself has
    // been removed, shows the nearest folder left, without a message. False in that case,
    // when the answer comes in time.
    bool followDisk();
    // The folder above, or "/" itself.
    QString parentPath() const;
    // A folder that cannot be read: shown with the way up to it and nothing below, so the
    // user can walk out of it. Followers are not to tell of it again.
    void showUnreadable(const QString &path);
    // From now on the window never waits for the worker: the way up to a folder shows at
    // once, the subfolders when they come. setPath then always succeeds; a folder that cannot
    // be opened raises unreadable when the worker finds so.
    void readOnWorker() { m_wait = std::chrono::milliseconds(0); }

signals:
    void pathChanged(DirList::Report report);
    // The user opened an entry (double click, Enter); the owner decides whether to follow.
    void openRequested(const QString &path);
    // The answer came late: the folder could not be opened (the system's text). With
    // Report::Tell the list is back on the folder before, else it shows as showUnreadable.
    void unreadable(const QString &path, const QString &why, DirList::Report report);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    enum class Follow
    {
        No,
        Yes
    };
    // Reads path on the worker. In time, gives the reading; late, the answer goes to lateAnswer.
    std::optional<Reading> read(const QString &path, Follow follow, Report report = Report::Quiet,
                                const QString &before = QString());
    void lateAnswer(const QString &path, Follow follow, Report report, const QString &before,
                    const Reading &reading);
    // The chain from "/" down to the folder, nothing below it; its deepest item.
    QTreeWidgetItem *showChain();
    void showSubdirectories(const QStringList &names);
    void openItem(QTreeWidgetItem *item);
    QString m_path;
    std::chrono::milliseconds m_wait = briefWait;
    std::function<Reading(const QString &, bool)> m_readFolder;
    // Which read the answer of a worker is for: only the last one's shows.
    quint64 m_read = 0;
};
