#pragma once

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringListModel>
#include <utility>

// The play list pair: the display names that List1 shows and, index for index, the full
// paths that the hidden List3 holds. This class is the only code that changes either, so
// the two can never drift apart.
class PlayList final : public QObject
{
    Q_OBJECT
public:
    explicit PlayList(QObject *parent);

    QStringListModel *names() const { return m_names; }
    QStringListModel *paths() const { return m_paths; }

    int count() const { return static_cast<int>(m_pathList.size()); }
    QString name(int index) const { return m_nameList.value(index); }
    QString path(int index) const { return m_pathList.value(index); }

    // Appends the file unless its trimmed path is empty or already listed.
    bool AddEntry(const QString &name, const QString &path);
    // AddEntry for each pair in turn, shown to the views as one change (adding tens of
    // thousands of files one row at a time keeps the list view busy for seconds).
    int addEntries(const QList<std::pair<QString, QString>> &entries);
    // Files by their full paths, each shown by its file name.
    int addFiles(const QStringList &paths);
    // Removes the rows given, in one pass; the others keep their order.
    void removeRows(const QList<int> &rows);
    void clear();

    // The identity of an entry: the trimmed path, compared as the file system compares names.
    static QString keyOf(const QString &path);

private:
    void publish();
    void appendRows(int first);
    QStringListModel *m_names;
    QStringListModel *m_paths;
    QStringList m_nameList;
    QStringList m_pathList;
    QSet<QString> m_keys;
};
