#pragma once

#include "files/EntryLooks.h"
#include "platform/Result.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QStringList>
#include <memory>

class FileFacts;

// The wave files of one folder, the data of File1: each file's name, its full path, and
// what the workers found out about it, one column a figure. The model lists the folder
// itself; the workers' answers reach it through WaveRolesUpdater, each changing that row's
// roles alone.
class WaveFolderModel final : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column
    {
        Name,
        Length,
        Rate,
        Channels,
        Bits,
        LoudnessColumn,
        TruePeak,
        Date,
        ColumnCount
    };
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
        // The integrated loudness in LUFS, once measured and when there is one to bring
        // anywhere (not silent, nothing that is not a number).
        LoudnessRole,
        // What a sort of a column compares: the figure as a number, the name as text, and
        // nothing while a figure is unknown.
        SortRole,
    };
    explicit WaveFolderModel(QObject *parent);

    void setFacts(FileFacts *facts);
    FileFacts *facts() const { return m_facts; }
    // Gives the names (column 0) their tooltip, colour and mark.
    void setLooks(std::shared_ptr<const EntryLooks> looks);
    // Lists folder afresh; when it cannot be read, the model keeps what it held.
    Result<> list(const QString &folder);
    // A folder that cannot be read: no entries, and its path is that folder.
    void showUnreadable(const QString &folder);
    // Lists the same folder again: a folder that vanished shows as empty rather than as
    // stale names.
    void relist();
    // A fresh listing of folder.
    void setEntries(const QString &folder, const QStringList &names);

    QString folder() const { return m_folder; }
    QStringList paths() const;
    // The name and the path of each row of rows, for the views that read thousands at once.
    QStringList namesOf(const QList<int> &rows) const;
    QStringList pathsOf(const QList<int> &rows) const;
    // The entry of a name, in column 0, or an invalid index.
    QModelIndex indexOf(const QString &name) const;
    // The facts or the loudness of path changed: its row's roles that depend on them.
    void infoChanged(const QString &path);
    void loudnessChanged(const QString &path);
    // The waveform of path was made: its tooltip shows it.
    void pictureChanged(const QString &path);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // Every row can be dragged, as the files it names: a view starts a drag only from rows
    // that say so.
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }

private:
    void rowChanged(const QString &path, int firstColumn, int lastColumn, const QList<int> &roles);
    QString pathOf(int row) const;
    QVariant figure(int row, int column, int role) const;
    FileFacts *m_facts = nullptr;
    std::shared_ptr<const EntryLooks> m_looks;
    QString m_folder;
    QStringList m_names;
    // Made when first asked: most listings are never searched by name.
    mutable QHash<QString, int> m_rows;
};
