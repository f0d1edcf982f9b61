#pragma once

#include "files/EntryLooks.h"
#include "platform/Result.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QStringList>
#include <functional>
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
    // A test's stand-in for listWaveFiles, run on the worker.
    using Lister = std::function<Result<QStringList>(const QString &)>;
    void setLister(Lister lister) { m_lister = std::move(lister); }
    // Lists folder afresh on a worker, waited for a moment; when it cannot be read in that
    // time, the model keeps what it held. Late, the model is that folder with no entries at
    // once and its entries when they come; a failure then is told by unlisted.
    Result<> list(const QString &folder);
    // A folder that cannot be read: no entries, and its path is that folder.
    void showUnreadable(const QString &folder);
    // Lists the same folder again: a folder that vanished shows as empty rather than as
    // stale names. Late, the names shown stay until the answer comes; shown runs once the new
    // ones are there, in time or late.
    void relist(const std::function<void()> &shown = {});
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

signals:
    // The answer of list() came late: folder cannot be read (the system's text). The model
    // shows it empty.
    void unlisted(const QString &folder, const QString &why);

private:
    // The listing of folder, in time, or nothing, and late runs with it when it comes for the
    // listing still current.
    std::optional<Result<QStringList>>
    listBriefly(const QString &folder, std::function<void(const Result<QStringList> &)> late);
    void rowChanged(const QString &path, int firstColumn, int lastColumn, const QList<int> &roles);
    QString pathOf(int row) const;
    QVariant figure(int row, int column, int role) const;
    FileFacts *m_facts = nullptr;
    std::shared_ptr<const EntryLooks> m_looks;
    QString m_folder;
    QStringList m_names;
    Lister m_lister;
    // Which listing a late answer is for: only the last one's shows.
    quint64 m_listing = 0;
    // Made when first asked: most listings are never searched by name.
    mutable QHash<QString, int> m_rows;
};
