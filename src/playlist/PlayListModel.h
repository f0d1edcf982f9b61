#pragma once

#include "files/EntryLooks.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>
#include <utility>

class FileFacts;

// The play list, the one store of its entries: each a display name (what List1 shows) and a
// full path (what the hidden List3 shows, through pathsModel()). Entries are told apart by
// keyOf; the key set is what keeps tens of thousands of adds in milliseconds. Whether an
// entry's file has gone is kept up to date by MissingEntries, off the window's thread.
class PlayListModel final : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Role
    {
        PathRole = Qt::UserRole + 1,
        // True while the entry's file has gone (it may come back).
        MissingRole,
        // The integrated loudness in LUFS, once measured and when there is one to bring
        // anywhere.
        LoudnessRole,
    };
    explicit PlayListModel(QObject *parent);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    // Every row can be dragged, as the files it names: a view starts a drag only from rows
    // that say so.
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }
    QHash<int, QByteArray> roleNames() const override;

    // Gives the entries their tooltip and colour.
    void setLooks(std::shared_ptr<const EntryLooks> looks);
    // Where the entries' loudness is read.
    void setFacts(const FileFacts *facts);
    // What is known of path's file changed: the entry's tooltip tells it.
    void factsChanged(const QString &path);
    // path's file was measured: its tooltip and its loudness.
    void loudnessChanged(const QString &path);

    // The same rows, showing each entry's full path: the model of List3.
    QAbstractItemModel *pathsModel() const { return m_pathsModel; }

    int count() const { return static_cast<int>(m_entries.size()); }
    QString name(int index) const { return m_entries.value(index).name; }
    QString path(int index) const { return m_entries.value(index).path; }
    // All names, or all paths, in order, made on asking.
    QStringList names() const;
    QStringList paths() const;

    // Appends the file unless its trimmed path is empty or already listed.
    bool AddEntry(const QString &name, const QString &path);
    // AddEntry for each pair in turn, shown to the views as one change (adding tens of
    // thousands of files one row at a time keeps the list view busy for seconds).
    int addEntries(const QList<std::pair<QString, QString>> &entries);
    // Files by their full paths, each shown by its file name.
    int addFiles(const QStringList &paths);
    // Removes the rows given, in one pass; the others keep their order.
    void removeEntries(const QList<int> &rows);
    void clear();

    // Looks at every entry's file again, for folders too many to watch (on activation).
    void recheckMissing();

    // The identity of an entry: the trimmed path, compared as the file system compares names.
    static QString keyOf(const QString &path);

private:
    struct Entry
    {
        QString name;
        QString path;
    };
    QStringList column(QString Entry::*field) const;
    // The row of path, or -1.
    int rowOf(const QString &path) const;
    QList<Entry> m_entries;
    QSet<QString> m_keys;
    // The row of each path, made when first asked after a change of rows.
    mutable QHash<QString, int> m_rows;
    std::shared_ptr<const EntryLooks> m_looks;
    const FileFacts *m_facts = nullptr;
    QAbstractItemModel *m_pathsModel;
    class MissingEntries *m_missing;
};
