#pragma once

#include "LibraryStore.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <memory>

class Library;
class LoudnessFacts;

// The hits of a search of the library, a page at a time: the first page and the count of all
// hits when the query is set; then as many rows as there are hits, whose pages are read when
// the view asks for a row of them (from the end of the page before, or by skipping from the
// nearest page known when a scroll bar jumps), each read off the window's thread by a
// connection of its own and handed back by signals. Only the pages near the last one asked
// for are held: a million hits scrolled through hold a few thousand rows. Sorting is done by
// the store. A query that cannot be read gives its reason (error()) and no rows at all.
class LibraryResultsModel final : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column
    {
        Name,
        Folder,
        Length,
        Rate,
        Channels,
        Bits,
        Loudness,
        TruePeak,
        Date,
        ColumnCount
    };
    enum Role
    {
        // The file's full path (a QString whose foreign bytes are kept: nativePath() gives
        // the system's bytes back).
        PathRole = Qt::UserRole + 1,
        // The folder of the file, as PathRole's.
        FolderRole,
        // Its root is not mounted: the entry is kept, the file cannot be reached now.
        OfflineRole,
        // The file was not there when the row was looked at (it is taken out at the next pass).
        GoneRole,
        // Either of the two: the view greys the row.
        UnavailableRole,
        // The store's id of the file.
        IdRole,
        // Its header could not be read when it was indexed (not a wave file, damaged): no
        // length nor format is shown, and the view greys it, as the file list does.
        DamagedRole,
        // The integrated loudness in LUFS, when there is one to bring anywhere: as measured
        // in this run, else as the store had it when the page was read. The Loudness column
        // keeps the store's until the results are read again.
        LoudnessRole,
    };
    // Rows a page: a screenful many times over, read in a few milliseconds.
    static constexpr int pageSize = 200;
    // Pages held on either side of the one asked for last: a long selection made by hand
    // keeps its rows, a scroll through everything holds no more than this.
    static constexpr int pagesKept = 25;

    explicit LibraryResultsModel(Library *library, QObject *parent);
    ~LibraryResultsModel() override;

    // The text as the user typed it (the window waits for a pause in the typing).
    void setQuery(const QString &text);
    QString query() const { return m_text; }
    // Why the query cannot be read, in one line; empty when it can.
    QString error() const { return m_error; }
    // Hits in all, fetched or not; -1 until counted (the count follows the first page:
    // hitCountChanged).
    qint64 hitCount() const { return m_count; }
    // A search or a page is being read.
    bool isBusy() const { return m_busy; }
    // Reads the same query again (the library changed: Library::entriesChanged).
    void refresh();
    // Looks on a worker whether the files of these rows are still there (GoneRole), and
    // whether those of rows found gone are back (a root that was away came back).
    void checkRows(int first, int last);
    // Looks again whether path is there (a play of it was refused, say): a gone file's rows
    // are greyed as soon as the worker answers.
    void lookAgain(const QString &path);
    // Where the loudness measured in this run is read.
    void setLoudness(const LoudnessFacts *loudness);
    // path's file was measured: its rows' LoudnessRole.
    void loudnessChanged(const QString &path);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // The rows held now (the others are read when the view asks for them).
    int rowsHeld() const;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // The texts a column shows.
    static QString lengthShown(qint64 ms);
    static QString decibelsShown(double value, const char *unit);

signals:
    void errorChanged(const QString &error);
    void hitCountChanged(qint64 count);
    // The first page of a search (and its count) is in; also for a search with no hits.
    void searchFinished();
    // Files of rows shown were found gone: their rows are greyed now, and left out of the
    // results read from then on.
    void filesGone(const QStringList &paths);

private:
    struct Shared;
    // One row, small: a million fetched rows must stay well under the memory of the program.
    struct Row
    {
        qint64 id = 0;
        qint64 date = 0;
        QString name;
        qint32 folder = 0; // into m_folders
        qint32 lengthMs = 0;
        qint32 rate = 0;
        float lufs = 0;
        float truePeak = 0;
        qint16 channels = 0;
        qint16 bits = 0;
        quint8 marks = 0;
        // Why it has no integrated loudness though it was measured: 1 + its place in
        // m_noLoudness, 0 for none.
        quint8 noLoudness = 0;
    };
    enum Mark : quint8
    {
        HasLufs = 1,
        HasTruePeak = 2,
        Offline = 4,
        Gone = 8,
    };
    void run();
    void pageArrived(int generation, int page, const QList<LibraryHit> &hits, qint64 count,
                     const QString &problem);
    const Row *rowAt(int row) const;
    void ask(int page) const;
    void countArrived(int generation, qint64 count);
    void goneArrived(const QList<qint64> &gone);
    void backArrived(const QList<qint64> &back);
    // The rows held that were found gone, looked at again.
    void checkGone();
    struct Check;
    void startChecks(const QList<Check> &checks, bool first);
    Row rowOf(const LibraryHit &hit);
    QString pathOf(const Row &row) const;

    QPointer<Library> m_library;
    const LoudnessFacts *m_loudness = nullptr;
    std::shared_ptr<Shared> m_shared;
    QString m_text;
    LibraryQuery m_query;
    LibrarySort m_sort;
    QString m_error;
    // The pages held, by number; the cursor of the last row of every page read, so that a
    // page dropped is read again from the end of the one before it.
    QHash<int, QList<Row>> m_pages;
    QHash<int, QVariantList> m_ends;
    int m_rowCount = 0;
    // The page being read (-1: none), and the one the view asked for last. Set when a row
    // missing is asked for by data().
    mutable int m_asked = -1;
    mutable int m_near = 0;
    // Files found gone in this run: a row of them that the store still gives (its folder is
    // not looked at again yet, or its root is away) comes greyed, since pages are of a fixed
    // size, until its file is found there again.
    QSet<qint64> m_goneIds;
    QStringList m_folders;
    // The few reasons a file measured has no integrated loudness ("too short").
    QStringList m_noLoudness;
    QHash<QString, qint32> m_folderIndex;
    qint64 m_count = -1;
    int m_generation = 0;
    bool m_busy = false;
    bool m_countPending = false;
};
