#pragma once

#include "LibraryStore.h"

#include <QByteArray>
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
// It is made from one read of the store; a newer store makes a new one, but for a loudness
// measured, which is put in place (a measuring pass puts thousands, one at a time). Reading
// it from several threads at once, and putting a loudness meanwhile, is safe.
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

    qint64 size() const { return qint64(m_ids.size()); }
    // The memory it holds, about.
    qint64 bytes() const;

    // The files a query matches, one bit each in the index's order.
    struct Hits
    {
        std::vector<quint64> bits;
        qint64 count = 0;
    };
    std::shared_ptr<const Hits> match(const LibraryQuery &query) const;
    // The ids of up to limit hits in sort's order, after the row whose cursor (as the store
    // gives it: the sort's keys, the name's natural key, the id) is given, the first skip of them
    // passed over. No order of a column is kept: the hits past the start are picked out each
    // time, in a few milliseconds for a million.
    QList<qint64> page(const Hits &hits, const LibrarySort &sort, const QVariantList &after,
                       int limit, qint64 skip = 0) const;

    // Puts in the loudness the store now keeps for the file of this id (a NaN as its NULL);
    // false when the index has no such file.
    bool putLoudness(qint64 id, const Loudness &loudness, int flags);
    // Moves with every loudness put: hits matched before no longer hold.
    quint64 version() const;

    // Measurement marks, as the store keeps them.
    static constexpr int notNumbersFlag = 1;
    static constexpr int rateTooLowFlag = 2;

private:
    using Bits = std::vector<quint64>;
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
    };
    std::vector<Folder> m_folders;
    std::vector<quint32> m_folderByRank;
    std::vector<std::pair<qint64, QByteArray>> m_formats;
    std::unique_ptr<Pending> m_pending;
    // Readers share it; a loudness put holds it alone.
    mutable QReadWriteLock m_lock;
    quint64 m_version = 0;

public:
    SearchIndex();
    ~SearchIndex();
    SearchIndex(const SearchIndex &) = delete;
    SearchIndex &operator=(const SearchIndex &) = delete;
};
