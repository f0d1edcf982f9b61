#pragma once

#include "LibraryQuery.h"
#include "files/Loudness.h"
#include "platform/Result.h"
#include "platform/WaveInfo.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>
#include <optional>

// One file as the indexer read it: where it is (bytes, as the system names it), its stamp,
// and what its header and chunks say.
struct LibraryEntry
{
    QByteArray folder; // no trailing '/', but for "/" itself
    QByteArray name;
    qint64 size = 0;
    // Nanoseconds since the epoch. 0 makes the next rescan read the file again (it changed
    // while it was read).
    qint64 modifiedNs = 0;
    WaveInfo info;
    std::optional<Loudness> loudness;
};

struct LibraryRoot
{
    QString path;
    qint64 id = 0;
    // Not there (a card not inserted, a share not mounted): its entries are kept.
    bool online = true;
    // The device it was on when last seen: a mount point left empty is told apart by it.
    qint64 device = 0;
    // Walked to its end once: what the store holds of it is about all there is. A root not
    // (new, or its first walk cut short) holds a part, and the rest is counted by names.
    bool walked = false;
};

// What the store knows of one file of a folder, for the rescan to compare.
struct KnownFile
{
    qint64 id = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;
};

// A batch the indexer writes at once: all of it or, on a fault, none of it.
struct LibraryBatch
{
    qint64 root = 0;
    QList<LibraryEntry> entries; // new or changed
    QList<qint64> goneFiles;
    QList<QByteArray> goneFolders; // with everything below them
    bool isEmpty() const
    {
        return entries.isEmpty() && goneFiles.isEmpty() && goneFolders.isEmpty();
    }
};

// The order of the results.
struct LibrarySort
{
    enum class Column
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
    };
    Column column = Column::Name;
    bool descending = false;
};

// One result row.
struct LibraryHit
{
    qint64 id = 0;
    QString folder;
    QString name;
    qint64 lengthMs = 0;
    int rate = 0;
    int channels = 0;
    int bits = 0;
    std::optional<double> lufs;
    std::optional<double> truePeak;
    std::optional<double> samplePeak;
    qint64 date = 0; // seconds since the epoch
    bool offline = false;
    // Where the next page starts: the sort key of this row, then its id.
    QVariantList cursor;
    QString path() const { return folder.endsWith(u'/') ? folder + name : folder + u'/' + name; }
};

// A file's loudness as kept with its stamp: it holds only while the file is unchanged.
struct StampedLoudness
{
    qint64 size = 0;
    qint64 modifiedMs = 0;
    Loudness loudness;
};

// A file of the library whose loudness is not known yet, as it was when last read.
struct UnmeasuredFile
{
    qint64 id = 0;
    QString path;
    qint64 size = 0;
    qint64 modifiedMs = 0;
};

// Where the library is kept: one interface, so that a store shared by a studio on a server
// is another implementation rather than another program. A store object is one connection:
// use it from one thread at a time; each thread that reads opens its own.
class LibraryStore
{
public:
    virtual ~LibraryStore() = default;

    enum class Opening
    {
        Opened,
        Created,
        // The store could not be used (damaged, from a newer version, not a store at all);
        // it was moved aside (movedTo()) and a new one made.
        Replaced,
    };
    // Opens the store, making or upgrading it; an error when it can be neither read nor made.
    virtual Result<Opening> open() = 0;
    // Opens for queries alone: no making, no upgrade.
    virtual Result<void> openForReading() = 0;
    // Opens a store that open() made, to read and keep loudness beside the library's own
    // connection: never makes, upgrades or moves anything; an error for a store of another
    // version or none at all. Writes fail where the file is read-only.
    virtual Result<void> openForLoudness() = 0;
    // Where a replaced store went, and why.
    virtual QString movedTo() const = 0;
    virtual QString whyMoved() const = 0;

    virtual Result<QList<LibraryRoot>> roots() = 0;
    // Adds a root; a root already under it is taken into it.
    virtual Result<LibraryRoot> addRoot(const QString &path, qint64 device) = 0;
    // Removes a root and every entry under it (never a file).
    virtual Result<void> removeRoot(const QString &path) = 0;
    virtual Result<void> setRootSeen(qint64 root, bool online, qint64 device) = 0;
    // The root was walked to its end.
    virtual Result<void> setRootWalked(qint64 root) = 0;

    // The folders of a root the store holds files of, by path.
    virtual Result<QHash<QByteArray, qint64>> folders(qint64 root) = 0;
    // How many files the store holds of each of those folders.
    virtual Result<QHash<QByteArray, qint64>> folderFileCounts(qint64 root) = 0;
    // The files of one folder, by name.
    virtual Result<QHash<QByteArray, KnownFile>> files(const QByteArray &folder) = 0;
    virtual Result<qint64> fileCount(std::optional<qint64> root = {}) = 0;
    // Writes a batch in one transaction.
    virtual Result<void> write(const LibraryBatch &batch) = 0;

    // Up to limit hits of query in sort's order, after the row whose cursor is given (from the
    // start when empty), the first skip of them passed over (a page far from any cursor).
    virtual Result<QList<LibraryHit>> query(const LibraryQuery &query, const LibrarySort &sort,
                                            const QVariantList &after, int limit,
                                            qint64 skip = 0) = 0;
    virtual Result<qint64> count(const LibraryQuery &query) = 0;
    // Asks a query running on another thread to give up (it returns an error).
    virtual void interrupt() = 0;

    // The loudness kept for a file (in the library or not) while its stamp holds.
    virtual Result<std::optional<Loudness>> loudness(const QString &path, qint64 size,
                                                     qint64 modifiedMs) = 0;
    virtual Result<void> putLoudness(const QString &path, const StampedLoudness &loudness) = 0;
    // Up to limit wave files of online roots not measured yet, by id from after `after` on.
    virtual Result<QList<UnmeasuredFile>> unmeasured(qint64 after, int limit) = 0;
    // Takes the figures of the old loudness cache file, once: later calls do nothing.
    // Returns how many were taken.
    virtual Result<int> importLoudnessCache(const QString &file) = 0;
};
