#include "SearchIndex.h"

#include "TextFold.h"
#include "platform/WorkPool.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <numeric>
#include <string_view>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Bytes of zeros after the last text, so that the scan's wide loads never leave the buffer.
constexpr qsizetype padding = 64;
// Below this many files one thread scans them all: a second one costs more than it saves.
constexpr qsizetype filesForTwoThreads = 1 << 16;

constexpr double none = std::numeric_limits<double>::quiet_NaN();

using Bits = std::vector<quint64>;

void set(Bits &bits, quint64 at)
{
    bits[at >> 6] |= quint64(1) << (at & 63);
}

std::string_view viewOf(const QByteArray &bytes)
{
    return {bytes.constData(), size_t(bytes.size())};
}

template <typename T> int compareValues(T a, T b)
{
    return a < b ? -1 : b < a ? 1 : 0;
}

int compareBytes(std::string_view a, std::string_view b)
{
    const int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

QByteArray bytesOf(const QVariant &value)
{
    return value.typeId() == QMetaType::QString ? value.toString().toUtf8() : value.toByteArray();
}

} // namespace

// What is gathered before the files are put in order.
struct SearchIndex::Pending
{
    std::vector<quint32> nameLengths;
};

SearchIndex::SearchIndex() : m_pending(std::make_unique<Pending>()) {}

SearchIndex::~SearchIndex() = default;

void SearchIndex::addFolder(qint64 id, const QByteArray &path, const QByteArray &pathKey)
{
    m_folderPlaces.insert(id, qint32(m_folders.size()));
    m_folders.push_back({id, path, pathKey, 0, false});
}

void SearchIndex::addFormat(qint64 id, const QByteArray &folded)
{
    m_formatPlaces.insert(id, qint16(m_formats.size()));
    m_formats.emplace_back(id, folded);
}

// Whether a file can be held: its folder and format known, its values within the compact form.
bool SearchIndex::fits(const File &file, bool knownFolder, bool knownFormat) const
{
    const auto within = [](qint64 value, auto limit) {
        using T = decltype(limit);
        return value >= std::numeric_limits<T>::min() && value <= std::numeric_limits<T>::max();
    };
    return knownFolder && (!file.format || knownFormat) && within(file.rate, qint32()) &&
           within(file.channels, qint16()) && within(file.bits, qint16()) &&
           (!file.flags || (within(*file.flags, qint8(0)) && *file.flags >= 0)) &&
           !file.nameKey.contains('\0') && !file.meta.contains('\0') && file.id > 0;
}

bool SearchIndex::addFile(const File &file)
{
    const auto folder = m_folderPlaces.constFind(file.folder);
    const auto format =
        file.format ? m_formatPlaces.constFind(*file.format) : m_formatPlaces.cend();
    if (!fits(file, folder != m_folderPlaces.cend(), format != m_formatPlaces.cend()))
        return false;
    // Places in the texts are 32 bits: four gigabytes of names and texts.
    if (m_text.size() + size_t(file.nameKey.size() + file.meta.size()) + 2 + padding >
            std::numeric_limits<quint32>::max() ||
        m_folders.size() > size_t(std::numeric_limits<qint32>::max()) ||
        m_ids.size() >= size_t(std::numeric_limits<quint32>::max() - 1))
        return false;
    if (m_starts.empty())
        m_starts.push_back(0);
    m_ids.push_back(file.id);
    m_largestId = std::max(m_largestId, file.id);
    m_text.insert(m_text.end(), file.nameKey.cbegin(), file.nameKey.cend());
    m_text.push_back('\0');
    m_text.insert(m_text.end(), file.meta.cbegin(), file.meta.cend());
    m_text.push_back('\0');
    m_starts.push_back(quint32(m_text.size()));
    m_pending->nameLengths.push_back(quint32(file.nameKey.size()));
    m_folderOf.push_back(*folder);
    m_formatOf.push_back(file.format ? *format : qint16(-1));
    m_rate.push_back(qint32(file.rate));
    m_channels.push_back(qint16(file.channels));
    m_bits.push_back(qint16(file.bits));
    m_length.push_back(file.lengthMs);
    m_date.push_back(file.date);
    m_lufs.push_back(file.lufs && !std::isnan(*file.lufs) ? *file.lufs : none);
    m_truePeak.push_back(file.truePeak && !std::isnan(*file.truePeak) ? *file.truePeak : none);
    m_clipped.push_back(file.clipped ? qint8(compareValues<qint64>(*file.clipped, 0)) : qint8(-2));
    m_flags.push_back(file.flags ? qint8(*file.flags) : qint8(-1));
    return true;
}

void SearchIndex::finish()
{
    if (m_starts.empty())
        m_starts.push_back(0);
    const size_t n = m_ids.size();
    // The store's order by name: the names' natural keys, then the id. The keys are made once,
    // side by side, for the sort alone.
    std::vector<char> keys;
    std::vector<size_t> keyStarts;
    keyStarts.reserve(n + 1);
    keyStarts.push_back(0);
    const std::vector<quint32> &lengths = m_pending->nameLengths;
    for (size_t i = 0; i < n; ++i) {
        const QByteArray key = naturalKey(QByteArrayView(m_text.data() + m_starts[i], lengths[i]));
        keys.insert(keys.end(), key.cbegin(), key.cend());
        keyStarts.push_back(keys.size());
    }
    const auto keyOf = [&](quint32 at) {
        return std::string_view(keys.data() + keyStarts[at], keyStarts[at + 1] - keyStarts[at]);
    };
    std::vector<quint32> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](quint32 a, quint32 b) {
        const int c = compareBytes(keyOf(a), keyOf(b));
        return c != 0 ? c < 0 : m_ids[a] < m_ids[b];
    });
    std::vector<char>().swap(keys);
    std::vector<size_t>().swap(keyStarts);
    const auto reorder = [&order](auto &values) {
        std::remove_reference_t<decltype(values)> sorted;
        sorted.reserve(values.size());
        for (const quint32 at : order)
            sorted.push_back(values[at]);
        values.swap(sorted);
    };
    std::vector<char> text;
    text.reserve(m_text.size() + padding);
    std::vector<quint32> starts;
    starts.reserve(n + 1);
    starts.push_back(0);
    for (const quint32 at : order) {
        text.insert(text.end(), m_text.begin() + qsizetype(m_starts[at]),
                    m_text.begin() + qsizetype(m_starts[at + 1]));
        starts.push_back(quint32(text.size()));
    }
    text.resize(text.size() + padding, '\0');
    m_text.swap(text);
    m_starts.swap(starts);
    reorder(m_ids);
    reorder(m_folderOf);
    reorder(m_formatOf);
    reorder(m_rate);
    reorder(m_channels);
    reorder(m_bits);
    reorder(m_length);
    reorder(m_date);
    reorder(m_lufs);
    reorder(m_truePeak);
    reorder(m_clipped);
    reorder(m_flags);

    rankFolders();
    m_pending.reset();
#if defined(__GLIBC__)
    // The copies made while sorting are freed: give their pages back, the program keeps the
    // index for as long as it runs.
    malloc_trim(0);
#endif
}

void SearchIndex::rankFolders()
{
    std::vector<quint32> folders;
    folders.reserve(m_folders.size());
    for (size_t f = 0; f < m_folders.size(); ++f)
        if (!m_folders[f].gone)
            folders.push_back(quint32(f));
    std::sort(folders.begin(), folders.end(), [this](quint32 a, quint32 b) {
        return compareBytes(viewOf(m_folders[a].path), viewOf(m_folders[b].path)) < 0;
    });
    for (size_t rank = 0; rank < folders.size(); ++rank)
        m_folders[folders[rank]].rank = quint32(rank);
    m_folderByRank = std::move(folders);
}

void SearchIndex::setGeneration(qint64 generation)
{
    QWriteLocker lock(&m_lock);
    m_generation = generation;
}

qint64 SearchIndex::generation() const
{
    QReadLocker lock(&m_lock);
    return m_generation;
}

qint64 SearchIndex::bytes() const
{
    QReadLocker lock(&m_lock);
    const auto of = [](const auto &values) {
        return qint64(values.capacity() * sizeof(values[0]));
    };
    qint64 total = of(m_ids) + of(m_text) + of(m_starts) + of(m_folderOf) + of(m_formatOf) +
                   of(m_rate) + of(m_channels) + of(m_bits) + of(m_length) + of(m_date) +
                   of(m_lufs) + of(m_truePeak) + of(m_clipped) + of(m_flags);
    for (const Folder &folder : m_folders)
        total += qint64(sizeof(Folder)) + folder.path.size() + folder.pathKey.size();
    return total + of(m_folderByRank);
}

QByteArray SearchIndex::nameAt(quint32 at) const
{
    const char *name = m_text.data() + m_starts[at];
    return QByteArray::fromRawData(name, qsizetype(std::strlen(name)));
}

void SearchIndex::scanRange(const QByteArray &needle, bool namesOnly, qsizetype first,
                            qsizetype last, Bits &bits) const
{
    const char *const base = m_text.data();
    const char *const piece = needle.constData();
    const size_t length = size_t(needle.size());
    const quint64 end = m_starts[size_t(last)];
    // A letter or two counts where a word begins only; the byte before a file's text is the
    // NUL that ends the one before it.
    const bool wordStart = wantsWordStart(needle);
    const auto placed = [&](quint64 pos) {
        return !wordStart ||
               beginsWord(QByteArrayView(base, qsizetype(end)), qsizetype(pos), piece[0]);
    };
    qsizetype file = first;
    quint64 at = m_starts[size_t(first)];
    // Where a piece found at `pos` belongs: the files only move forward.
    const auto fileOf = [&](quint64 pos) {
        int steps = 0;
        while (m_starts[size_t(file) + 1] <= pos) {
            if (++steps > 16) {
                const auto above =
                    std::upper_bound(m_starts.begin() + file + 1, m_starts.begin() + last + 1, pos);
                file = qsizetype(above - m_starts.begin()) - 1;
                break;
            }
            ++file;
        }
    };
    // A piece is found: its file is a hit (when it lies in the name, for names only), and the
    // scan goes on at the next file.
    const auto found = [&](quint64 pos) {
        fileOf(pos);
        const quint64 start = m_starts[size_t(file)];
        if (!namesOnly || pos + length <= start + std::strlen(base + start))
            set(bits, quint64(file));
        at = m_starts[size_t(file) + 1];
    };
#if defined(__SSE2__)
    // The first and last bytes of the piece, sixteen places at a time; the rest is compared
    // where both are in place.
    const __m128i head = _mm_set1_epi8(piece[0]);
    const __m128i tail = _mm_set1_epi8(piece[length - 1]);
    while (at + length <= end) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(base + at));
        const __m128i b =
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(base + at + length - 1));
        unsigned mask = unsigned(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, head), _mm_cmpeq_epi8(b, tail))));
        quint64 next = at + 16;
        while (mask) {
            const quint64 pos = at + quint64(__builtin_ctz(mask));
            mask &= mask - 1;
            if (pos + length > end)
                break;
            if ((length <= 2 || std::memcmp(base + pos + 1, piece + 1, length - 2) == 0) &&
                placed(pos)) {
                found(pos);
                next = at;
                break;
            }
        }
        at = next;
    }
#else
    while (at + length <= end) {
        const void *hit = memmem(base + at, size_t(end - at), piece, length);
        if (!hit)
            break;
        const quint64 pos = quint64(static_cast<const char *>(hit) - base);
        if (placed(pos))
            found(pos);
        else
            at = pos + 1;
    }
#endif
}

void SearchIndex::matchText(const QByteArray &needle, bool namesOnly, Bits &bits) const
{
    const qsizetype n = size();
    if (needle.isEmpty()) {
        for (qsizetype i = 0; i < n; ++i)
            set(bits, quint64(i));
        return;
    }
    if (n < filesForTwoThreads) {
        scanRange(needle, namesOnly, 0, n, bits);
        return;
    }
    // Two halves, split at a word of the bits, so that each thread writes words of its own.
    // The second is offered to a worker; when none has taken it by the time the first is
    // done (every worker on a file, or on a disk that stopped answering), this thread scans
    // it too, so a search never waits for a worker to come free.
    const qsizetype half = (n / 2) & ~qsizetype(63);
    struct Second
    {
        std::atomic<bool> taken = false;
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
    };
    const auto second = std::make_shared<Second>();
    const std::function<void()> scanSecond = [&] { scanRange(needle, namesOnly, half, n, bits); };
    // The task touches what this call holds only once it has taken the half, and then this
    // call waits for it.
    workPool().start(Lane::now, [second, scanSecond] {
        if (second->taken.exchange(true))
            return;
        scanSecond();
        std::lock_guard lock(second->mutex);
        second->done = true;
        second->ended.notify_one();
    });
    scanRange(needle, namesOnly, 0, half, bits);
    if (!second->taken.exchange(true)) {
        scanSecond();
        return;
    }
    std::unique_lock lock(second->mutex);
    second->ended.wait(lock, [&second] { return second->done; });
}

// What a term needs of the folders and formats, worked out once a query rather than a file.
struct SearchIndex::Prepared
{
    QByteArray text;
    std::vector<char> folders; // the term's text is in the folder's path
    bool anyFolder = false;
    std::vector<char> formats;
};

SearchIndex::Prepared SearchIndex::prepare(const QueryTerm &term) const
{
    using Field = QueryTerm::Field;
    Prepared prepared;
    prepared.text = term.text.toUtf8();
    if (term.field == Field::Text || term.field == Field::Folder) {
        prepared.folders.resize(m_folders.size());
        for (size_t f = 0; f < m_folders.size(); ++f) {
            prepared.folders[f] = containsPiece(m_folders[f].pathKey, prepared.text);
            prepared.anyFolder = prepared.anyFolder || prepared.folders[f];
        }
    }
    if (term.field == Field::Format) {
        prepared.formats.resize(m_formats.size());
        for (size_t f = 0; f < m_formats.size(); ++f)
            prepared.formats[f] = containsPiece(m_formats[f].second, prepared.text);
    }
    return prepared;
}

bool SearchIndex::test(const QueryTerm &term, const Prepared &prepared, size_t i) const
{
    using Field = QueryTerm::Field;
    const auto inRange = [&term](double value) {
        if (term.low && !(term.lowIncluded ? value >= *term.low : value > *term.low))
            return false;
        if (term.high && !(term.highIncluded ? value <= *term.high : value < *term.high))
            return false;
        return true;
    };
    // The file's own texts: its name, or its name and every text after it.
    const auto inText = [&](bool namesOnly) {
        const char *start = m_text.data() + m_starts[i];
        const size_t length = namesOnly ? std::strlen(start) : m_starts[i + 1] - m_starts[i];
        // A text of a few tens of bytes: memmem's setup costs more than the search.
        return containsPiece(QByteArrayView(start, qsizetype(length)), prepared.text);
    };
    switch (term.field) {
    case Field::Text:
        return (prepared.anyFolder && prepared.folders[size_t(m_folderOf[i])]) || inText(false);
    case Field::Name:
        return inText(true);
    case Field::Folder:
        return prepared.folders[size_t(m_folderOf[i])] != 0;
    case Field::Format:
        return m_formatOf[i] >= 0 && prepared.formats[size_t(m_formatOf[i])];
    // A figure the file lacks (kept as 0) matches no range, as the statements' conditions.
    case Field::Rate:
        return m_rate[i] > 0 && inRange(m_rate[i]);
    case Field::Channels:
        return m_channels[i] > 0 && inRange(m_channels[i]);
    case Field::Bits:
        return m_bits[i] > 0 && inRange(m_bits[i]);
    case Field::Length:
        return m_rate[i] > 0 && inRange(double(m_length[i]));
    case Field::Date:
        return m_date[i] != 0 && inRange(double(m_date[i]));
    // Measured files only; digital silence (-inf) has no loudness to compare. A comparison
    // with a NaN (nothing measured) fails, as SQLite's with a NULL.
    case Field::Lufs:
        return m_flags[i] == 0 && m_lufs[i] > -1e308 && inRange(m_lufs[i]);
    case Field::Peak:
        return m_flags[i] >= 0 && (m_flags[i] & rateTooLowFlag) == 0 && m_truePeak[i] > -1e308 &&
               inRange(m_truePeak[i]);
    case Field::Clip:
        if (term.yes)
            return (m_flags[i] >= 0 && (m_flags[i] & notNumbersFlag) != 0) || m_truePeak[i] > 0 ||
                   m_clipped[i] == 1;
        return m_flags[i] == 0 && m_truePeak[i] <= 0 && m_clipped[i] == 0;
    }
    return false;
}

void SearchIndex::matchTerm(const QueryTerm &term, const Prepared &prepared, Bits &bits) const
{
    using Field = QueryTerm::Field;
    const qsizetype n = size();
    if (term.field == Field::Text || term.field == Field::Name) {
        // The texts at memory speed; a folder's files, all of them, when its path holds it.
        matchText(prepared.text, term.field == Field::Name, bits);
        if (term.field == Field::Text && prepared.anyFolder)
            for (qsizetype i = 0; i < n; ++i)
                if (prepared.folders[size_t(m_folderOf[i])])
                    set(bits, quint64(i));
        return;
    }
    const auto each = [&](auto passes) {
        for (qsizetype i = 0; i < n; ++i)
            if (passes(size_t(i)))
                set(bits, quint64(i));
    };
    // The plain figures in loops of their own: a million tests through the switch cost half
    // as much again.
    const auto inRange = [&term](double value) {
        return (!term.low || (term.lowIncluded ? value >= *term.low : value > *term.low)) &&
               (!term.high || (term.highIncluded ? value <= *term.high : value < *term.high));
    };
    switch (term.field) {
    case Field::Rate:
        return each([&](size_t i) { return m_rate[i] > 0 && inRange(m_rate[i]); });
    case Field::Channels:
        return each([&](size_t i) { return m_channels[i] > 0 && inRange(m_channels[i]); });
    case Field::Bits:
        return each([&](size_t i) { return m_bits[i] > 0 && inRange(m_bits[i]); });
    case Field::Length:
        return each([&](size_t i) { return m_rate[i] > 0 && inRange(double(m_length[i])); });
    case Field::Date:
        return each([&](size_t i) { return m_date[i] != 0 && inRange(double(m_date[i])); });
    default:
        return each([&](size_t i) { return test(term, prepared, i); });
    }
}

bool SearchIndex::putLoudness(const QList<qint64> &ids, const Loudness &loudness, int flags,
                              qint64 before, qint64 after)
{
    QWriteLocker lock(&m_lock);
    if (m_generation != before || flags < 0 || flags > std::numeric_limits<qint8>::max())
        return false;
    // A search of the ids, a millisecond for a million: measuring one file takes far longer,
    // and a table of the ids' places would hold megabytes for it.
    std::vector<size_t> places;
    for (const qint64 id : ids) {
        const auto found = std::find(m_ids.cbegin(), m_ids.cend(), id);
        if (found == m_ids.cend())
            return false;
        places.push_back(size_t(found - m_ids.cbegin()));
    }
    for (const size_t at : places) {
        m_lufs[at] = loudness.integratedLufs;
        m_truePeak[at] = loudness.truePeakDbtp;
        m_clipped[at] = qint8(compareValues<qint64>(loudness.clipped, 0));
        m_flags[at] = qint8(flags);
    }
    m_generation = after;
    return true;
}

std::shared_ptr<const SearchIndex::Hits> SearchIndex::match(const LibraryQuery &query,
                                                            qint64 generation) const
{
    QReadLocker lock(&m_lock);
    if (generation != m_generation)
        return {};
    auto hits = std::make_shared<Hits>();
    hits->generation = generation;
    const qsizetype n = size();
    const size_t words = size_t((n + 63) / 64);
    Bits &all = hits->bits;
    all.assign(words, 0);
    if (!query.ok() || query.empty() || n == 0)
        return hits;
    // One term is matched over every file: the longest word looked for, as the one likely to
    // have the fewest hits (a word's scan costs the same, whatever it finds), else the first
    // term that is not excluded. The others are tested on its hits alone: two words and a
    // field cost one scan and not three.
    const QueryTerm *driver = nullptr;
    for (const QueryTerm &t : query.terms) {
        if (t.excluded)
            continue;
        const bool isWord = t.field == QueryTerm::Field::Text || t.field == QueryTerm::Field::Name;
        const bool driverIsWord = driver && (driver->field == QueryTerm::Field::Text ||
                                             driver->field == QueryTerm::Field::Name);
        if (!driver || (isWord && (!driverIsWord || t.text.size() > driver->text.size())))
            driver = &t;
    }
    if (driver) {
        matchTerm(*driver, prepare(*driver), all);
    } else {
        std::fill(all.begin(), all.end(), ~quint64(0));
        if (n % 64)
            all.back() = (quint64(1) << (n % 64)) - 1;
    }
    for (const QueryTerm &t : query.terms) {
        if (&t == driver)
            continue;
        const Prepared prepared = prepare(t);
        for (size_t w = 0; w < words; ++w) {
            quint64 left = all[w];
            while (left) {
                const int bit = __builtin_ctzll(left);
                left &= left - 1;
                if (test(t, prepared, (w << 6) + size_t(bit)) == t.excluded)
                    all[w] &= ~(quint64(1) << bit);
            }
        }
    }
    for (const quint64 word : all)
        hits->count += __builtin_popcountll(word);
    return hits;
}

// A file's place in the order of a column: its key (NaN-free: files not measured sort below
// the quietest, as in the statements' order, and so do loudnesses of -inf, a file too short to
// have one), then its place among the names.
template <typename Visit> void SearchIndex::withKey(LibrarySort::Column column, Visit visit) const
{
    using Column = LibrarySort::Column;
    const auto truePeak = [](double value) { return std::isnan(value) ? -1e308 : value; };
    const auto loudness = [](double value) { return value > -1e308 ? value : -1e308; };
    switch (column) {
    case Column::Name:
        return visit([](size_t) { return 0.0; });
    case Column::Folder:
        return visit([this](size_t i) { return double(m_folders[size_t(m_folderOf[i])].rank); });
    case Column::Length:
        return visit([this](size_t i) { return double(m_length[i]); });
    case Column::Rate:
        return visit([this](size_t i) { return double(m_rate[i]); });
    case Column::Channels:
        return visit([this](size_t i) { return double(m_channels[i]); });
    case Column::Bits:
        return visit([this](size_t i) { return double(m_bits[i]); });
    case Column::Loudness:
        return visit([this, loudness](size_t i) { return loudness(m_lufs[i]); });
    case Column::TruePeak:
        return visit([this, truePeak](size_t i) { return truePeak(m_truePeak[i]); });
    case Column::Date:
        return visit([this](size_t i) { return double(m_date[i]); });
    }
}

// The first place whose (name's natural key, id) is not below the given ones.
qsizetype SearchIndex::placeOf(const QByteArray &key, qint64 id) const
{
    qsizetype low = 0, high = size();
    while (low < high) {
        const qsizetype mid = low + (high - low) / 2;
        int c = compareBytes(viewOf(naturalKey(nameAt(quint32(mid)))), viewOf(key));
        if (c == 0)
            c = compareValues(m_ids[size_t(mid)], id);
        if (c < 0)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

// A page start's key as the files' keys are: a folder's path becomes its rank, or half a
// rank below the next one when no folder has that path now.
double SearchIndex::keyOfCursor(LibrarySort::Column column, const QVariant &value) const
{
    if (column != LibrarySort::Column::Folder)
        return value.toDouble();
    const QByteArray path = bytesOf(value);
    qsizetype low = 0, high = qsizetype(m_folderByRank.size());
    while (low < high) {
        const qsizetype mid = low + (high - low) / 2;
        if (compareBytes(viewOf(m_folders[m_folderByRank[size_t(mid)]].path), viewOf(path)) < 0)
            low = mid + 1;
        else
            high = mid;
    }
    const bool found = low < qsizetype(m_folderByRank.size()) &&
                       m_folders[m_folderByRank[size_t(low)]].path == path;
    return found ? double(low) : double(low) - 0.5;
}

std::optional<QList<qint64>> SearchIndex::page(const Hits &hits, const LibrarySort &sort,
                                               const QVariantList &after, int limit,
                                               qint64 skip) const
{
    QReadLocker lock(&m_lock);
    if (hits.generation != m_generation)
        return std::nullopt;
    QList<qint64> ids;
    const qsizetype n = size();
    if (n == 0 || limit <= 0 || skip < 0)
        return ids;
    // The files past the page start are those above it in the walk's direction: by name, a
    // place; by another column, the key, then a place for the files of the same key.
    qsizetype below = 0, above = 0; // the start's place among the names: [below, above)
    double key = 0;
    const bool started = after.size() >= 2;
    if (started) {
        below = placeOf(bytesOf(after[after.size() - 2]), after.back().toLongLong());
        above = below < n && m_ids[size_t(below)] == after.back().toLongLong() &&
                        naturalKey(nameAt(quint32(below))) == bytesOf(after[after.size() - 2])
                    ? below + 1
                    : below;
        if (sort.column != LibrarySort::Column::Name)
            key = keyOfCursor(sort.column, after[0]);
    }
    const size_t words = hits.bits.size();
    if (sort.column == LibrarySort::Column::Name) {
        if (!sort.descending) {
            // Whole words of misses, and of hits skipped, are passed at once.
            qsizetype k = started ? above : 0;
            size_t word = size_t(k) >> 6;
            quint64 bits = word < words ? hits.bits[word] & (~quint64(0) << (k & 63)) : 0;
            while (word < words && ids.size() < limit) {
                const qint64 inWord = __builtin_popcountll(bits);
                if (skip >= inWord) {
                    skip -= inWord;
                } else {
                    for (; skip > 0; --skip)
                        bits &= bits - 1;
                    while (bits && ids.size() < limit) {
                        ids.append(m_ids[(word << 6) + size_t(__builtin_ctzll(bits))]);
                        bits &= bits - 1;
                    }
                }
                if (++word < words)
                    bits = hits.bits[word];
            }
            return ids;
        }
        // Backwards, from the place below the start.
        qsizetype k = (started ? below : n) - 1;
        while (k >= 0 && ids.size() < limit) {
            const size_t word = size_t(k) >> 6;
            const int top = int(k & 63);
            quint64 bits = hits.bits[word] & (top == 63 ? ~quint64(0) : (quint64(2) << top) - 1);
            const qint64 inWord = __builtin_popcountll(bits);
            if (skip >= inWord) {
                skip -= inWord;
            } else {
                while (bits && ids.size() < limit) {
                    const int bit = 63 - __builtin_clzll(bits);
                    bits &= ~(quint64(1) << bit);
                    if (skip > 0)
                        --skip;
                    else
                        ids.append(m_ids[(word << 6) + size_t(bit)]);
                }
            }
            k = qsizetype(word << 6) - 1;
        }
        return ids;
    }
    // Another column: the hits past the start, the first skip + limit of them found without
    // ordering the rest (no order of the whole index is made or kept).
    struct Place
    {
        double key;
        quint32 at;
    };
    const bool down = sort.descending;
    const auto before = [down](const Place &a, const Place &b) {
        if (a.key != b.key)
            return down ? a.key > b.key : a.key < b.key;
        return down ? a.at > b.at : a.at < b.at;
    };
    const qint64 wanted = skip + limit;
    std::vector<Place> places;
    withKey(sort.column, [&](auto keyAt) {
        const auto past = [&](double k, qsizetype at) {
            if (!started)
                return true;
            if (k != key)
                return down ? k < key : k > key;
            return down ? at < below : at >= above;
        };
        // Up to this many, the best are kept in a heap as they come; beyond, all are gathered
        // and the wanted ones picked out.
        constexpr qint64 heapMost = 4096;
        const bool heap = wanted <= heapMost;
        if (heap)
            places.reserve(size_t(wanted));
        for (size_t w = 0; w < words; ++w) {
            quint64 bits = hits.bits[w];
            while (bits) {
                const size_t at = (w << 6) + size_t(__builtin_ctzll(bits));
                bits &= bits - 1;
                const double k = keyAt(at);
                if (!past(k, qsizetype(at)))
                    continue;
                const Place place{k, quint32(at)};
                if (!heap || qint64(places.size()) < wanted) {
                    places.push_back(place);
                    if (heap)
                        std::push_heap(places.begin(), places.end(), before);
                } else if (before(place, places.front())) {
                    std::pop_heap(places.begin(), places.end(), before);
                    places.back() = place;
                    std::push_heap(places.begin(), places.end(), before);
                }
            }
        }
    });
    if (qint64(places.size()) <= skip)
        return ids;
    const auto end = places.begin() + qsizetype(std::min<qint64>(wanted, qint64(places.size())));
    if (end != places.end())
        std::nth_element(places.begin(), end, places.end(), before);
    const auto first = places.begin() + qsizetype(skip);
    std::nth_element(places.begin(), first, end, before);
    std::sort(first, end, before);
    for (auto p = first; p != end; ++p)
        ids.append(m_ids[p->at]);
    return ids;
}

namespace {

// Takes out the values at the places dropped (in order), those after them moved down.
template <typename Values> void dropPlaces(Values &values, const std::vector<size_t> &dropped)
{
    if (dropped.empty())
        return;
    const auto at = [&values](size_t place) { return values.begin() + qsizetype(place); };
    auto out = at(dropped.front());
    for (size_t k = 0; k < dropped.size(); ++k)
        out = std::move(at(dropped[k] + 1),
                        at(k + 1 < dropped.size() ? dropped[k + 1] : values.size()), out);
    values.erase(out, values.end());
}

// Puts a value before each of the places given (in order, of the values as they are), those
// after it moved up: each value is moved once, from the end down.
template <typename Values, typename Fill>
void insertPlaces(Values &values, const std::vector<size_t> &places, Fill fill)
{
    const auto at = [&values](size_t place) { return values.begin() + qsizetype(place); };
    size_t end = values.size();
    values.resize(values.size() + places.size());
    for (size_t j = places.size(); j-- > 0;) {
        std::move_backward(at(places[j]), at(end), at(end + j + 1));
        values[places[j] + j] = fill(j);
        end = places[j];
    }
}

} // namespace

bool SearchIndex::apply(const Patch &patch, qint64 before, qint64 after)
{
    QWriteLocker lock(&m_lock);
    if (m_generation != before || m_pending)
        return false;

    // Of an id written twice, the later; then whether everything fits, before anything changes.
    QHash<qint64, qsizetype> latest;
    for (qsizetype i = 0; i < patch.files.size(); ++i)
        latest.insert(patch.files[i].id, i);
    QSet<qint64> goneFolders(patch.goneFolders.cbegin(), patch.goneFolders.cend());
    QSet<qint64> newFolders, newFormats;
    for (const Patch::Folder &folder : patch.folders)
        if (!m_folderPlaces.contains(folder.id) && !goneFolders.contains(folder.id))
            newFolders.insert(folder.id);
    for (const auto &[id, folded] : patch.formats)
        if (!m_formatPlaces.contains(id))
            newFormats.insert(id);
    if (m_formats.size() + size_t(newFormats.size()) > size_t(std::numeric_limits<qint16>::max()) ||
        m_folders.size() + size_t(newFolders.size()) > size_t(std::numeric_limits<qint32>::max()))
        return false;
    quint64 addedBytes = 0;
    for (const qsizetype i : std::as_const(latest)) {
        const File &file = patch.files[i];
        const bool knownFolder =
            !goneFolders.contains(file.folder) &&
            (m_folderPlaces.contains(file.folder) || newFolders.contains(file.folder));
        const bool knownFormat = file.format && (m_formatPlaces.contains(*file.format) ||
                                                 newFormats.contains(*file.format));
        if (!fits(file, knownFolder, knownFormat))
            return false;
        addedBytes += quint64(file.nameKey.size() + file.meta.size() + 2);
    }
    // Places in the texts are 32 bits: four gigabytes of names and texts.
    if (m_text.size() + addedBytes > std::numeric_limits<quint32>::max() ||
        m_ids.size() + size_t(latest.size()) >= size_t(std::numeric_limits<quint32>::max() - 1))
        return false;

    // The folders gone and new, and the order of their paths again.
    const bool foldersChanged = !newFolders.isEmpty() || !patch.goneFolders.isEmpty();
    for (const qint64 id : patch.goneFolders) {
        const auto place = m_folderPlaces.constFind(id);
        if (place == m_folderPlaces.cend())
            continue;
        Folder &folder = m_folders[size_t(*place)];
        folder.gone = true;
        folder.path.clear();
        folder.pathKey.clear();
        m_folderPlaces.erase(place);
    }
    for (const Patch::Folder &folder : patch.folders) {
        if (!newFolders.remove(folder.id))
            continue;
        m_folderPlaces.insert(folder.id, qint32(m_folders.size()));
        m_folders.push_back({folder.id, folder.path, folder.pathKey, 0, false});
    }
    if (foldersChanged)
        rankFolders();
    for (const auto &[id, folded] : patch.formats) {
        if (!newFormats.remove(id))
            continue;
        m_formatPlaces.insert(id, qint16(m_formats.size()));
        m_formats.emplace_back(id, folded);
    }

    // The files gone, and the old places of those written again: marked in a map of the ids
    // they span (the store's ids are dense), so that one pass finds them all.
    std::vector<qint64> goneIds(patch.goneFiles.cbegin(), patch.goneFiles.cend());
    for (auto it = latest.cbegin(); it != latest.cend(); ++it)
        if (it.key() <= m_largestId)
            goneIds.push_back(it.key());
    std::vector<size_t> dropped;
    if (!goneIds.empty()) {
        const auto [low, high] = std::minmax_element(goneIds.cbegin(), goneIds.cend());
        const qint64 first = *low;
        std::vector<quint64> marked(size_t((*high - first) / 64 + 1), 0);
        for (const qint64 id : goneIds)
            set(marked, quint64(id - first));
        const qint64 last = *high;
        for (size_t i = 0; i < m_ids.size(); ++i) {
            const qint64 id = m_ids[i];
            if (id >= first && id <= last &&
                (marked[size_t(id - first) >> 6] >> ((id - first) & 63) & 1))
                dropped.push_back(i);
        }
    }
    if (!dropped.empty()) {
        // The texts first, while the old places still say where each one is.
        const size_t n = m_ids.size();
        quint32 out = m_starts[dropped.front()];
        size_t slot = dropped.front();
        for (size_t k = 0; k < dropped.size(); ++k) {
            const size_t from = dropped[k] + 1;
            const size_t to = k + 1 < dropped.size() ? dropped[k + 1] : n;
            const quint32 begin = m_starts[from], end = m_starts[to];
            std::memmove(m_text.data() + out, m_text.data() + begin, end - begin);
            for (size_t s = from; s < to; ++s)
                m_starts[slot++] = m_starts[s] - begin + out;
            out += end - begin;
        }
        m_starts[slot] = out;
        m_starts.resize(slot + 1);
        m_text.resize(size_t(out) + padding);
        std::fill(m_text.begin() + qsizetype(out), m_text.end(), '\0');
        dropPlaces(m_ids, dropped);
        dropPlaces(m_folderOf, dropped);
        dropPlaces(m_formatOf, dropped);
        dropPlaces(m_rate, dropped);
        dropPlaces(m_channels, dropped);
        dropPlaces(m_bits, dropped);
        dropPlaces(m_length, dropped);
        dropPlaces(m_date, dropped);
        dropPlaces(m_lufs, dropped);
        dropPlaces(m_truePeak, dropped);
        dropPlaces(m_clipped, dropped);
        dropPlaces(m_flags, dropped);
    }

    // The files written, in the order of the names, each put before the first file above it.
    struct Written
    {
        QByteArray key;
        const File *file;
    };
    std::vector<Written> written;
    written.reserve(size_t(latest.size()));
    for (const qsizetype i : std::as_const(latest))
        written.push_back({naturalKey(patch.files[i].nameKey), &patch.files[i]});
    std::sort(written.begin(), written.end(), [](const Written &a, const Written &b) {
        const int c = compareBytes(viewOf(a.key), viewOf(b.key));
        return c != 0 ? c < 0 : a.file->id < b.file->id;
    });
    if (!written.empty()) {
        std::vector<size_t> places;
        places.reserve(written.size());
        for (const Written &w : written) {
            // The first place whose (key, id) is above the file's: placeOf finds the first not
            // below, and no file of the index has the id of one written.
            places.push_back(size_t(placeOf(w.key, w.file->id)));
        }
        // Texts: each stretch of the old ones moved up by the texts put before it.
        const size_t n = m_ids.size();
        std::vector<quint32> shift(written.size());
        quint32 total = 0;
        for (size_t j = 0; j < written.size(); ++j) {
            total += quint32(written[j].file->nameKey.size() + written[j].file->meta.size() + 2);
            shift[j] = total;
        }
        const quint32 oldEnd = m_starts[n];
        m_text.resize(size_t(oldEnd) + total + padding);
        size_t endSlot = n;
        for (size_t j = written.size(); j-- > 0;) {
            const quint32 from = m_starts[places[j]], to = m_starts[endSlot];
            std::memmove(m_text.data() + from + shift[j], m_text.data() + from, to - from);
            const File &file = *written[j].file;
            char *put = m_text.data() + from + (j > 0 ? shift[j - 1] : 0);
            put = std::copy(file.nameKey.cbegin(), file.nameKey.cend(), put);
            *put++ = '\0';
            put = std::copy(file.meta.cbegin(), file.meta.cend(), put);
            *put = '\0';
            endSlot = places[j];
        }
        std::fill(m_text.begin() + qsizetype(oldEnd + total), m_text.end(), '\0');
        // Their starts: of the old files moved up by the texts before them, of the new ones
        // where their texts went. From the end down, so that no start is read once written.
        m_starts.resize(n + 1 + written.size());
        size_t endStart = n + 1;
        for (size_t j = written.size(); j-- > 0;) {
            for (size_t s = endStart; s-- > places[j];)
                m_starts[s + j + 1] = m_starts[s] + shift[j];
            m_starts[places[j] + j] = m_starts[places[j]] + (j > 0 ? shift[j - 1] : 0);
            endStart = places[j];
        }
        const auto fileAt = [&written](size_t j) -> const File & { return *written[j].file; };
        insertPlaces(m_ids, places, [&](size_t j) { return fileAt(j).id; });
        insertPlaces(m_folderOf, places,
                     [&](size_t j) { return m_folderPlaces.value(fileAt(j).folder); });
        insertPlaces(m_formatOf, places, [&](size_t j) {
            return fileAt(j).format ? m_formatPlaces.value(*fileAt(j).format) : qint16(-1);
        });
        insertPlaces(m_rate, places, [&](size_t j) { return qint32(fileAt(j).rate); });
        insertPlaces(m_channels, places, [&](size_t j) { return qint16(fileAt(j).channels); });
        insertPlaces(m_bits, places, [&](size_t j) { return qint16(fileAt(j).bits); });
        insertPlaces(m_length, places, [&](size_t j) { return fileAt(j).lengthMs; });
        insertPlaces(m_date, places, [&](size_t j) { return fileAt(j).date; });
        const auto figure = [](const std::optional<double> &value) {
            return value && !std::isnan(*value) ? *value : none;
        };
        insertPlaces(m_lufs, places, [&](size_t j) { return figure(fileAt(j).lufs); });
        insertPlaces(m_truePeak, places, [&](size_t j) { return figure(fileAt(j).truePeak); });
        insertPlaces(m_clipped, places, [&](size_t j) {
            return fileAt(j).clipped ? qint8(compareValues<qint64>(*fileAt(j).clipped, 0))
                                     : qint8(-2);
        });
        insertPlaces(m_flags, places, [&](size_t j) {
            return fileAt(j).flags ? qint8(*fileAt(j).flags) : qint8(-1);
        });
        for (const Written &w : written)
            m_largestId = std::max(m_largestId, w.file->id);
    }
    m_generation = after;
    return true;
}
