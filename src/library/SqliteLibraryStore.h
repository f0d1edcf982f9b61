#pragma once

#include "LibraryStore.h"
#include "SearchIndex.h"

#include <QHash>
#include <QString>
#include <memory>

struct sqlite3;

// The library in one SQLite file (the system's libsqlite3), in WAL mode so that the results
// are read while the indexer writes. Names are kept as the bytes the system gives; texts are
// kept folded (TextFold.h) and indexed by FTS5's trigram tokenizer, the folder paths in an
// index of their own, so that a word is found in any part of a name, a folder or a text.
class SqliteLibraryStore final : public LibraryStore
{
public:
    // The version of the tables this build makes; a store of a later one is moved aside.
    static constexpr int schemaVersion = 4;
    // What PRAGMA application_id holds in a store of ours ("QSlb").
    static constexpr int applicationId = 0x51536c62;

    explicit SqliteLibraryStore(QString file);
    ~SqliteLibraryStore() override;
    SqliteLibraryStore(const SqliteLibraryStore &) = delete;
    SqliteLibraryStore &operator=(const SqliteLibraryStore &) = delete;

    Result<Opening> open() override;
    Result<void> openForReading() override;
    Result<void> openForLoudness() override;
    QString movedTo() const override { return m_movedTo; }
    QString whyMoved() const override { return m_whyMoved; }

    Result<QList<LibraryRoot>> roots() override;
    Result<LibraryRoot> addRoot(const QString &path, qint64 device) override;
    Result<void> removeRoot(const QString &path) override;
    Result<void> setRootSeen(qint64 root, bool online, qint64 device) override;

    Result<void> setRootWalked(qint64 root) override;
    Result<QHash<QByteArray, qint64>> folders(qint64 root) override;
    Result<QHash<QByteArray, qint64>> folderFileCounts(qint64 root) override;
    Result<QHash<QByteArray, KnownFile>> files(const QByteArray &folder) override;
    Result<qint64> fileCount(std::optional<qint64> root = {}) override;
    Result<void> write(const LibraryBatch &batch) override;

    Result<QList<LibraryHit>> query(const LibraryQuery &query, const LibrarySort &sort,
                                    const QVariantList &after, int limit, qint64 skip = 0) override;
    Result<qint64> count(const LibraryQuery &query) override;
    void interrupt() override;

    Result<std::optional<Loudness>> loudness(const QString &path, qint64 size,
                                             qint64 modifiedMs) override;
    Result<void> putLoudness(const QString &path, const StampedLoudness &loudness) override;
    Result<QList<UnmeasuredFile>> unmeasured(qint64 after, int limit) override;
    Result<int> importLoudnessCache(const QString &file) override;

    // The last fault found the file damaged (SQLITE_CORRUPT or SQLITE_NOTADB): the next
    // open() moves it aside.
    bool damaged() const { return m_damaged; }
    // Moves this store aside now, makes a new one and keeps the roots the old one still gives.
    Result<void> replace(const QString &why);

    // Reads what a search needs of every file into memory (SearchIndex), for every connection
    // of the process to this file: their queries and counts are answered from it, and with
    // the same rows as the statements give. What the process's connections write later (the
    // indexer's batches, a root taken out, loudness measured) is put in it as each write
    // commits; a store changed otherwise (by another process, or a write the index could not
    // take) is asked by statements until this is called again. Seconds for a million files:
    // call it off the window's thread. Its size in bytes, or 0 when there is nothing to read
    // (a store never written).
    Result<qint64> loadSearchIndex();
    // The index read last answers for the store as it is now.
    Result<bool> searchIndexIsCurrent();
    // Forgets the index of this file (for tests that compare both ways of answering).
    void dropSearchIndex();
    // Whether this connection answers from the index while it holds: false asks the
    // statements alone (for tests that compare both ways while the index is kept).
    void useSearchIndex(bool use);

    // Copies the write-ahead log into the store and empties it, as a pass ends: the log does
    // not keep the size a pass gave it. A search that holds an older state keeps what it
    // reads in the log until the next time.
    Result<void> checkpoint();
    // Closes the connection; open() again to use it. The last connection of all to the file
    // (of any process) removes its log and shared memory file as it closes.
    void close();
    // Lets the file grow to this many pages and no more: a disk that is full, for tests.
    Result<void> setPageLimitForTests(int pages);

    // Makes a store the way the build of `version` made it, empty (for the upgrade's tests).
    static Result<void> makeAtVersion(const QString &file, int version);

private:
    struct Statements;
    Result<void> connect(int flags);
    Result<void> upgrade(int from, int to);
    Result<void> exec(const char *sql);
    QString why(int code) const;
    template <typename T> Result<T> fail(int code);
    Result<qint64> folderId(qint64 root, const QByteArray &path);
    // The rows of `sql`, a select of a key (a blob) and an integer for the root bound to it.
    Result<QHash<QByteArray, qint64>> integersByKey(const char *sql, qint64 root);
    Result<bool> hasMoreThan(const LibraryQuery &query, qint64 hits);
    Result<qint64> formatId(const QString &encoding, const QString &container);
    Result<void> moveAside(const QString &why);
    Result<std::optional<qint64>> generation();
    Result<void> nextGeneration();
    // Where a change inside a transaction begins, for the search index to take it in place:
    // whether an index of this file was read, and the generation the store is at before the
    // change (none without an index, and none in a store that has no generation yet).
    struct PatchStart
    {
        bool indexed = false;
        std::optional<qint64> before;
    };
    Result<PatchStart> patchStart();
    // Commits the transaction under way; then puts the patch in the search index when one
    // answered for the generation before it (none when before is none).
    Result<void> commitPatched(const SearchIndex::Patch &patch, std::optional<qint64> before);
    // The index of this file, whatever it answers for, and the store's generation as this
    // connection reads it; none when no index was read (or, for currentIndex, none is used).
    std::shared_ptr<const SearchIndex> publishedIndex(Result<void> &fault, qint64 &generation);
    std::shared_ptr<const SearchIndex> currentIndex(Result<void> &fault, qint64 &generation);
    // None when the index does not answer for that generation.
    std::shared_ptr<const SearchIndex::Hits> hitsOf(const std::shared_ptr<const SearchIndex> &index,
                                                    const LibraryQuery &query, qint64 generation);
    Result<QList<LibraryHit>> rowsOf(const QList<qint64> &ids, const LibrarySort &sort);

    QString m_file;
    sqlite3 *m_db = nullptr;
    std::unique_ptr<Statements> m_statements;
    QHash<QByteArray, qint64> m_folderIds;
    QHash<QString, qint64> m_formatIds;
    QString m_movedTo;
    QString m_whyMoved;
    bool m_damaged = false;
    // The hits of the last query answered from memory: its count and next pages use them.
    std::weak_ptr<const SearchIndex> m_hitsIndex;
    QString m_hitsQuery;
    std::shared_ptr<const SearchIndex::Hits> m_hits;
    bool m_useSearchIndex = true;
};
