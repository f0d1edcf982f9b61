#pragma once

#include "LibraryStore.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QReadWriteLock>
#include <QVariantList>
#include <array>
#include <memory>
#include <optional>
#include <vector>

// What a search reads of every file of a store, held compactly in memory in the natural order
// of the folded names (naturalKey()): a word is found by scanning the folded texts at memory speed
// (as plocate scans its names) rather than by the text index, whose phrase queries read the lists
// of all of a word's trigrams and whose count reads every hit again. It answers exactly what the
// store's statements answer: the same hits, in the same order, with the same page starts.
// It is made from one read of the store, and answers for the store's generation it was read
// at; what the store writes later is put in place, so that it answers for the next one (a
// pass over a large folder writes hundreds of batches, a measuring pass thousands of
// loudness figures, and a read of a million files takes seconds). Reading it from several
// threads at once, and putting a change meanwhile, is safe: a change holds its lock alone.
class SearchIndex
{
public:
    // One file as the store holds it; absent values are the store's NULLs.
    struct File
    {
        qint64 id = 0;
        QByteArray nameKey; // UTF-8, folded
        QByteArray meta;    // UTF-8, folded
        qint64 folder = 0;
        std::optional<qint64> format;
        qint64 rate = 0;
        qint64 channels = 0;
        qint64 bits = 0;
        qint64 lengthMs = 0;
        qint64 date = 0;
        std::optional<double> lufs;
        std::optional<double> truePeak;
        std::optional<qint64> clipped;
        std::optional<qint64> flags;
    };
    // path: the folder's bytes (its sort key); pathKey: its folded text, UTF-8.
    void addFolder(qint64 id, const QByteArray &path, const QByteArray &pathKey);
    void addFormat(qint64 id, const QByteArray &folded);
    // False when a file's values do not fit the compact form (the store is then asked).
    bool addFile(const File &file);
    // Puts the files in order; call once, after the last add.
    void finish();
    // The store's generation the index answers for: set when read, moved by every change put.
    void setGeneration(qint64 generation);
    qint64 generation() const;

    // The memory it holds, about.
    qint64 bytes() const;

    // The files a query matches, one bit each in the index's order, at a generation.
    struct Hits
    {
        std::vector<quint64> bits;
        qint64 count = 0;
        qint64 generation = 0;
    };
    // None when the index does not answer for that generation (now).
    std::shared_ptr<const Hits> match(const LibraryQuery &query, qint64 generation) const;
    // The ids of up to limit hits in sort's order, after the row whose cursor (as the store
    // gives it: the sort's keys, the name's natural key, the id) is given, the first skip of them
    // passed over. No order of a column is kept: the hits past the start are picked out each
    // time, in a few milliseconds for a million. None when the index changed since the hits
    // were matched (their bits no longer name its files).
    std::optional<QList<qint64>> page(const Hits &hits, const LibrarySort &sort,
                                      const QVariantList &after, int limit, qint64 skip = 0) const;

    // Puts in the loudness the store now keeps for the files of these ids (a NaN as its
    // NULL), moving from the store's generation before to the one after; false, with nothing
    // changed, when the index is not at the one before or lacks one of the files.
    bool putLoudness(const QList<qint64> &ids, const Loudness &loudness, int flags, qint64 before,
                     qint64 after);

    // What one write of the store changed, as it wrote it.
    struct Patch
    {
        QList<qint64> goneFiles;
        QList<qint64> goneFolders;
        struct Folder
        {
            qint64 id = 0;
            QByteArray path;
            QByteArray pathKey;
        };
        // The folders and formats of the files written, new or known.
        QList<Folder> folders;
        QList<std::pair<qint64, QByteArray>> formats;
        // New or written again; of an id written twice, the later.
        QList<File> files;
    };
    // Puts a write of the store in place, moving from its generation before to the one after:
    // the files gone taken out, those written put at their places among the names, as a read
    // of the store after the write would have them. False, with nothing changed, when the
    // index is not at the one before or a value does not fit (it is then read again).
    bool apply(const Patch &patch, qint64 before, qint64 after);

    // Measurement marks, as the store keeps them.
    static constexpr int notNumbersFlag = 1;
    static constexpr int rateTooLowFlag = 2;

private:
    using Bits = std::vector<quint64>;
    qint64 size() const { return qint64(m_ids.size()); }
    bool fits(const File &file, bool knownFolder, bool knownFormat) const;
    void rankFolders();
    struct Pending;
    void matchText(const QByteArray &needle, bool namesOnly, Bits &bits) const;
    void scanRange(const QByteArray &needle, bool namesOnly, qsizetype first, qsizetype last,
                   Bits &bits) const;
    struct Prepared;
    Prepared prepare(const QueryTerm &term) const;
    bool test(const QueryTerm &term, const Prepared &prepared, size_t i) const;
    void matchTerm(const QueryTerm &term, const Prepared &prepared, Bits &bits) const;
    template <typename Visit> void withKey(LibrarySort::Column column, Visit visit) const;
    qsizetype placeOf(const QByteArray &key, qint64 id) const;
    double keyOfCursor(LibrarySort::Column column, const QVariant &value) const;
    QByteArray nameAt(quint32 at) const;

    // Per file, in the order of (the folded name's natural key, id). A file's text is its folded
    // name, a NUL, its folded texts and a NUL, so that no piece found runs from one into the next.
    std::vector<qint64> m_ids;
    std::vector<char> m_text;
    std::vector<quint32> m_starts; // one more than the files
    std::vector<qint32> m_folderOf;
    std::vector<qint16> m_formatOf; // -1: none
    std::vector<qint32> m_rate;
    std::vector<qint16> m_channels;
    std::vector<qint16> m_bits;
    std::vector<qint64> m_length;
    std::vector<qint64> m_date;
    std::vector<double> m_lufs; // NaN: none (the store never keeps a NaN)
    std::vector<double> m_truePeak;
    std::vector<qint8> m_clipped; // -2: none, else the sign
    std::vector<qint8> m_flags;   // -1: none

    struct Folder
    {
        qint64 id = 0;
        QByteArray path;
        QByteArray pathKey;
        quint32 rank = 0; // in the order of the paths' bytes
        // Taken out of the store: no file is of it, and no search finds it.
        bool gone = false;
    };
    std::vector<Folder> m_folders;
    std::vector<quint32> m_folderByRank;
    std::vector<std::pair<qint64, QByteArray>> m_formats;
    // The store's ids of the folders and formats, to their places above.
    QHash<qint64, qint32> m_folderPlaces;
    QHash<qint64, qint16> m_formatPlaces;
    qint64 m_largestId = 0;
    std::unique_ptr<Pending> m_pending;
    // Readers share it; a change holds it alone.
    mutable QReadWriteLock m_lock;
    qint64 m_generation = 0;

public:
    SearchIndex();
    ~SearchIndex();
    SearchIndex(const SearchIndex &) = delete;
    SearchIndex &operator=(const SearchIndex &) = delete;
};
