#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QStringList>

class FileFacts;

// The wave files of one folder, the data of File1: each file's name, its full path, and
// what the workers found out about it. FileFacts answers file by file, and each answer
// changes that row alone.
class WaveFolderModel final : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Role
    {
        // The name as it is on the disk (bytes that are not UTF-8 kept); DisplayRole shows
        // them replaced.
        NameRole = Qt::UserRole + 1,
        PathRole,
        // Known once a worker has read the file: whether it plays, else why not.
        PlayableRole,
        ProblemRole,
        // Known once measured: it goes over full scale or clips.
        DamagedRole,
    };
    explicit WaveFolderModel(QObject *parent);

    void setFacts(FileFacts *facts);
    // A fresh listing of folder.
    void setEntries(const QString &folder, const QStringList &names);

    QString folder() const { return m_folder; }
    QString name(int row) const { return m_names.value(row); }
    QString path(int row) const;
    // The row of a name, or -1.
    int rowOf(const QString &name) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    // Every row can be dragged, as the files it names: a view starts a drag only from rows
    // that say so.
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }

private:
    void factsArrived(const QString &path);
    void rowChanged(const QString &path, const QList<int> &roles);
    FileFacts *m_facts = nullptr;
    QString m_folder;
    QStringList m_names;
    // Made when first asked: most listings are never searched by name.
    mutable QHash<QString, int> m_rows;
};
