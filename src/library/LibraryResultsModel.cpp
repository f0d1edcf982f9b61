#include "LibraryResultsModel.h"

#include "Library.h"
#include "SqliteLibraryStore.h"
#include "files/LoudnessFacts.h"
#include "files/WaveDetails.h"
#include "platform/NativeName.h"
#include "platform/WorkPool.h"

#include <QDateTime>
#include <QMutex>
#include <QSemaphore>
#include <cmath>
#include <optional>

namespace {

const char *const headers[] = {"Name", "Folder",   "Length",    "Rate", "Channels",
                               "Bits", "Loudness", "True peak", "Date"};
static_assert(std::size(headers) == LibraryResultsModel::ColumnCount);

// How long the model's end waits for its connection to close.
constexpr int closeWaitMs = 2000;

} // namespace

// A row's file to look for, and whether it was found gone before.
struct LibraryResultsModel::Check
{
    qint64 id = 0;
    QString path;
    bool wasGone = false;
};

struct LibraryResultsModel::Shared
{
    QString file;

    QMutex mutex;
    // Under the mutex.
    LibraryResultsModel *owner = nullptr;
    struct Job
    {
        int generation = 0;
        LibraryQuery query;
        LibrarySort sort;
        QVariantList after;
        qint64 skip = 0;
        int page = 0;
    };
    // The newest page asked for: one asked for before it and not begun is of no use.
    std::optional<Job> job;
    bool running = false;
    int generation = 0;
    bool reopen = false;
    QList<Check> checks;
    bool checking = false;
    // The runner's connection; reset and interrupted under the mutex.
    std::unique_ptr<SqliteLibraryStore> reader;
    // Told when the runner has closed its connection after the owner went.
    std::shared_ptr<QSemaphore> closed;

    void toOwner(std::function<void(LibraryResultsModel &)> f)
    {
        QMutexLocker lock(&mutex);
        if (!owner)
            return;
        QMetaObject::invokeMethod(
            owner, [owner = owner, f = std::move(f)] { f(*owner); }, Qt::QueuedConnection);
    }

    void runJobs()
    {
        for (;;) {
            Job job;
            {
                QMutexLocker lock(&mutex);
                if (!this->job || !owner) {
                    running = false;
                    if (!owner) {
                        reader.reset();
                        if (closed)
                            closed->release();
                    }
                    return;
                }
                job = std::move(*this->job);
                this->job.reset();
                if (job.generation != generation)
                    continue;
                if (reopen)
                    reader.reset();
                reopen = false;
            }
            QString problem;
            if (!reader) {
                auto opened = std::make_unique<SqliteLibraryStore>(file);
                const Result<void> ok = opened->openForReading();
                QMutexLocker lock(&mutex);
                if (ok.ok())
                    reader = std::move(opened);
                else
                    problem = ok.error();
            }
            QList<LibraryHit> hits;
            qint64 count = -1;
            if (reader) {
                Result<QList<LibraryHit>> page = reader->query(
                    job.query, job.sort, job.after, LibraryResultsModel::pageSize, job.skip);
                if (page.ok())
                    hits = std::move(page.value());
                else
                    problem = page.error();
            }
            const bool first = job.page == 0;
            const int page = job.page;
            const int generation = job.generation;
            const bool full = hits.size() >= LibraryResultsModel::pageSize;
            // A first page shorter than a page is all there is.
            if (first && problem.isEmpty() && !full)
                count = hits.size();
            toOwner([generation, page, hits = std::move(hits), count,
                     problem](LibraryResultsModel &model) {
                model.pageArrived(generation, page, hits, count, problem);
            });
            // The rows show first; the count of all hits follows (it reads every hit).
            if (first && problem.isEmpty() && full && reader && generation == current()) {
                const Result<qint64> counted = reader->count(job.query);
                if (counted.ok())
                    toOwner([generation, n = counted.value()](LibraryResultsModel &model) {
                        model.countArrived(generation, n);
                    });
            }
        }
    }

    int current()
    {
        QMutexLocker lock(&mutex);
        return generation;
    }

    void runChecks()
    {
        for (;;) {
            QList<Check> batch;
            {
                QMutexLocker lock(&mutex);
                if (checks.isEmpty() || !owner) {
                    checking = false;
                    return;
                }
                batch.swap(checks);
            }
            QList<qint64> gone;
            QList<qint64> back;
            for (const Check &check : std::as_const(batch)) {
                const bool there = lstatPath(check.path).has_value();
                if (!there && errno == ENOENT && !check.wasGone)
                    gone.append(check.id);
                else if (there && check.wasGone)
                    back.append(check.id);
            }
            if (!gone.isEmpty())
                toOwner([gone](LibraryResultsModel &model) { model.goneArrived(gone); });
            if (!back.isEmpty())
                toOwner([back](LibraryResultsModel &model) { model.backArrived(back); });
        }
    }
};

LibraryResultsModel::LibraryResultsModel(Library *library, QObject *parent)
    : QAbstractTableModel(parent), m_library(library), m_shared(std::make_shared<Shared>())
{
    m_shared->owner = this;
    if (library) {
        m_shared->file = library->storeFile();
        connect(library, &Library::opened, this, [this] {
            {
                QMutexLocker lock(&m_shared->mutex);
                m_shared->reopen = true;
            }
            refresh();
        });
        // A pass or a look at a folder went through the roots: one that was away may be back,
        // and the files of its rows greyed meanwhile with it.
        connect(library, &Library::rootsChanged, this, &LibraryResultsModel::checkGone);
    }
}

LibraryResultsModel::~LibraryResultsModel()
{
    // The connection closes off the window's thread (the last one to the store takes its log
    // in), by the runner when one runs; waited for a moment, not for a disk that hangs.
    auto closed = std::make_shared<QSemaphore>();
    std::shared_ptr<SqliteLibraryStore> reader;
    bool byRunner = false;
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->owner = nullptr;
        m_shared->job.reset();
        m_shared->checks.clear();
        if (m_shared->reader)
            m_shared->reader->interrupt();
        byRunner = m_shared->running;
        if (byRunner)
            m_shared->closed = closed;
        else
            reader = std::move(m_shared->reader);
    }
    if (reader)
        workPool().start(Lane::now, [reader = std::move(reader), closed]() mutable {
            reader.reset();
            closed->release();
        });
    else if (!byRunner)
        return;
    (void)closed->tryAcquire(1, closeWaitMs);
}

void LibraryResultsModel::setQuery(const QString &text)
{
    m_text = text;
    m_query = LibraryQuery::parse(text);
    if (m_query.error != m_error) {
        m_error = m_query.error;
        emit errorChanged(m_error);
    }
    run();
}

void LibraryResultsModel::refresh()
{
    run();
}

void LibraryResultsModel::run()
{
    const int generation = ++m_generation;
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->generation = generation;
        m_shared->job.reset();
        // What runs for an older search gives up at once.
        if (m_shared->running && m_shared->reader)
            m_shared->reader->interrupt();
    }
    m_asked = -1;
    const bool readable = m_query.ok() && !m_query.empty();
    if (!readable || !m_library || !m_library->isOpen()) {
        // Nothing to look for, or nowhere to look yet: no rows, rather than stale ones.
        beginResetModel();
        m_pages.clear();
        m_ends.clear();
        m_rowCount = 0;
        m_folders.clear();
        m_folderIndex.clear();
        endResetModel();
        m_busy = false;
        const qint64 count = readable ? -1 : 0;
        if (m_count != count) {
            m_count = count;
            emit hitCountChanged(m_count);
        }
        if (!readable)
            emit searchFinished();
        return;
    }
    m_busy = true;
    QMutexLocker lock(&m_shared->mutex);
    m_shared->job = Shared::Job{generation, m_query, m_sort, {}, 0, 0};
    if (!m_shared->running) {
        m_shared->running = true;
        workPool().start(Lane::now, [shared = m_shared] { shared->runJobs(); });
    }
}

void LibraryResultsModel::pageArrived(int generation, int page, const QList<LibraryHit> &hits,
                                      qint64 count, const QString &problem)
{
    if (generation != m_generation)
        return;
    const bool first = page == 0;
    if (page == m_asked)
        m_asked = -1;
    QList<Row> rows;
    rows.reserve(hits.size());
    if (first) {
        beginResetModel();
        m_pages.clear();
        m_ends.clear();
        m_folders.clear();
        m_folderIndex.clear();
        for (const LibraryHit &hit : hits)
            rows.append(rowOf(hit));
        m_rowCount = int(rows.size());
        m_pages.insert(0, std::move(rows));
        if (!hits.isEmpty())
            m_ends.insert(0, hits.last().cursor);
        endResetModel();
    } else if (problem.isEmpty()) {
        // A page that came short or empty (the store changed since the count) is held as it
        // is, so that its rows missing are not asked for again at every paint.
        for (const LibraryHit &hit : hits)
            rows.append(rowOf(hit));
        m_pages.insert(page, std::move(rows));
        if (!hits.isEmpty())
            m_ends.insert(page, hits.last().cursor);
        // Far from where the view is, the rows are let go; they are read again when asked for.
        for (auto held = m_pages.begin(); held != m_pages.end();)
            held = std::abs(held.key() - m_near) > pagesKept ? m_pages.erase(held) : ++held;
        const int firstRow = page * pageSize;
        if (firstRow < m_rowCount && !hits.isEmpty())
            emit dataChanged(
                index(firstRow, 0),
                index(std::min(firstRow + int(hits.size()), m_rowCount) - 1, ColumnCount - 1));
    }
    if (first) {
        m_busy = false;
        if (count != m_count) {
            m_count = count;
            emit hitCountChanged(m_count);
        }
        emit searchFinished();
    }
    if (first && count < 0)
        m_countPending = true;
    // Whether the files are still there, looked at by a worker.
    if (!hits.isEmpty() && problem.isEmpty())
        checkRows(page * pageSize, page * pageSize + int(hits.size()) - 1);
}

void LibraryResultsModel::countArrived(int generation, qint64 count)
{
    if (generation != m_generation)
        return;
    m_countPending = false;
    // The rows beyond the first page, read when the view comes to them.
    const int rows = int(std::clamp<qint64>(count, m_rowCount, std::numeric_limits<int>::max()));
    if (rows > m_rowCount) {
        beginInsertRows({}, m_rowCount, rows - 1);
        m_rowCount = rows;
        endInsertRows();
    }
    if (count != m_count) {
        m_count = count;
        emit hitCountChanged(m_count);
    }
}

void LibraryResultsModel::checkRows(int first, int last)
{
    first = std::max(first, 0);
    last = std::min(last, m_rowCount - 1);
    QList<Check> checks;
    for (int row = first; row <= last; ++row)
        if (const Row *held = rowAt(row); held && !(held->marks & Offline))
            checks.append({held->id, pathOf(*held), bool(held->marks & Gone)});
    startChecks(checks, false);
}

void LibraryResultsModel::checkGone()
{
    QList<Check> checks;
    for (const QList<Row> &page : std::as_const(m_pages))
        for (const Row &row : page)
            if ((row.marks & Gone) && !(row.marks & Offline))
                checks.append({row.id, pathOf(row), true});
    startChecks(checks, false);
}

void LibraryResultsModel::lookAgain(const QString &path)
{
    QList<Check> checks;
    for (const QList<Row> &page : std::as_const(m_pages))
        for (const Row &row : page)
            if (!(row.marks & (Offline | Gone)) && row.name.size() <= path.size() &&
                path.endsWith(row.name) && pathOf(row) == path)
                checks.append({row.id, path, false});
    startChecks(checks, true);
}

// first: before the folders' work (the answer to what the user did).
void LibraryResultsModel::startChecks(const QList<Check> &checks, bool first)
{
    if (checks.isEmpty())
        return;
    QMutexLocker lock(&m_shared->mutex);
    m_shared->checks += checks;
    if (!m_shared->checking) {
        m_shared->checking = true;
        workPool().start(first ? Lane::now : Lane::folder,
                         [shared = m_shared] { shared->runChecks(); });
    }
}

void LibraryResultsModel::setLoudness(const LoudnessFacts *loudness)
{
    m_loudness = loudness;
}

void LibraryResultsModel::loudnessChanged(const QString &path)
{
    for (auto page = m_pages.cbegin(); page != m_pages.cend(); ++page) {
        for (int at = 0; at < page->size(); ++at) {
            const Row &held = page->at(at);
            const int row = page.key() * pageSize + at;
            if (row < m_rowCount && held.name.size() <= path.size() && path.endsWith(held.name) &&
                pathOf(held) == path)
                emit dataChanged(index(row, Name), index(row, Name), {LoudnessRole});
        }
    }
}

void LibraryResultsModel::goneArrived(const QList<qint64> &gone)
{
    const QSet<qint64> ids(gone.cbegin(), gone.cend());
    QStringList paths;
    for (auto page = m_pages.begin(); page != m_pages.end(); ++page) {
        for (int at = 0; at < page->size(); ++at) {
            Row &held = (*page)[at];
            if (ids.contains(held.id) && !(held.marks & Gone)) {
                held.marks |= Gone;
                paths.append(pathOf(held));
                const int row = page.key() * pageSize + at;
                if (row < m_rowCount)
                    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
            }
        }
    }
    m_goneIds.unite(ids);
    if (!paths.isEmpty())
        emit filesGone(paths);
}

void LibraryResultsModel::backArrived(const QList<qint64> &back)
{
    const QSet<qint64> ids(back.cbegin(), back.cend());
    m_goneIds.subtract(ids);
    for (auto page = m_pages.begin(); page != m_pages.end(); ++page) {
        for (int at = 0; at < page->size(); ++at) {
            Row &held = (*page)[at];
            if (ids.contains(held.id) && (held.marks & Gone)) {
                held.marks = quint8(held.marks & ~Gone);
                const int row = page.key() * pageSize + at;
                if (row < m_rowCount)
                    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
            }
        }
    }
}

LibraryResultsModel::Row LibraryResultsModel::rowOf(const LibraryHit &hit)
{
    Row row;
    row.id = hit.id;
    row.date = hit.date;
    row.name = hit.name;
    auto folder = m_folderIndex.constFind(hit.folder);
    if (folder == m_folderIndex.cend()) {
        folder = m_folderIndex.insert(hit.folder, qint32(m_folders.size()));
        m_folders.append(hit.folder);
    }
    row.folder = *folder;
    row.lengthMs = qint32(std::clamp<qint64>(hit.lengthMs, 0, std::numeric_limits<qint32>::max()));
    row.rate = hit.rate;
    row.channels = qint16(hit.channels);
    row.bits = qint16(hit.bits);
    if (hit.lufs) {
        row.lufs = float(*hit.lufs);
        row.marks |= HasLufs;
    }
    if (hit.truePeak) {
        row.truePeak = float(*hit.truePeak);
        row.marks |= HasTruePeak;
    }
    // Measured, with sound in it, yet no loudness: said as the tooltip says it, not -inf.
    if (hit.lufs && !(*hit.lufs > ::Loudness::silence)) {
        ::Loudness measured;
        measured.integratedLufs = *hit.lufs;
        measured.truePeakDbtp = hit.truePeak.value_or(::Loudness::silence);
        measured.samplePeakDbfs = hit.samplePeak.value_or(::Loudness::silence);
        if (const QString why = whyNoIntegratedLoudness(measured); !why.isEmpty()) {
            qsizetype at = m_noLoudness.indexOf(why);
            if (at < 0) {
                at = m_noLoudness.size();
                m_noLoudness.append(why);
            }
            row.noLoudness = quint8(at + 1);
        }
    }
    if (hit.offline)
        row.marks |= Offline;
    if (m_goneIds.contains(hit.id))
        row.marks |= Gone;
    return row;
}

QString LibraryResultsModel::pathOf(const Row &row) const
{
    const QString &folder = m_folders[row.folder];
    return folder.endsWith(u'/') ? folder + row.name : folder + u'/' + row.name;
}

int LibraryResultsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rowCount;
}

int LibraryResultsModel::rowsHeld() const
{
    int rows = 0;
    for (const QList<Row> &page : m_pages)
        rows += int(page.size());
    return rows;
}

const LibraryResultsModel::Row *LibraryResultsModel::rowAt(int row) const
{
    const auto page = m_pages.constFind(row / pageSize);
    if (page == m_pages.cend() || row % pageSize >= page->size())
        return nullptr;
    return &(*page)[row % pageSize];
}

// A row not held is asked for: its page is read (the newest asked for wins, so a fast
// scroll reads only where it stops) and shown when it comes.
void LibraryResultsModel::ask(int page) const
{
    m_near = page;
    if (page == m_asked || m_busy)
        return;
    m_asked = page;
    // From the end of the nearest page before it that was read, passing over the pages
    // between; from the start when there is none.
    QVariantList after;
    qint64 skip = qint64(page) * pageSize;
    for (int before = page - 1; before >= 0; --before) {
        const auto end = m_ends.constFind(before);
        if (end != m_ends.cend()) {
            after = *end;
            skip = qint64(page - 1 - before) * pageSize;
            break;
        }
    }
    QMutexLocker lock(&m_shared->mutex);
    m_shared->job = Shared::Job{m_generation, m_query, m_sort, after, skip, page};
    if (!m_shared->running) {
        m_shared->running = true;
        workPool().start(Lane::now, [shared = m_shared] { shared->runJobs(); });
    }
}

int LibraryResultsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString LibraryResultsModel::lengthShown(qint64 ms)
{
    return lengthText(ms, 1000);
}

QString LibraryResultsModel::decibelsShown(double value, const char *unit)
{
    if (std::isinf(value))
        return (value < 0 ? QStringLiteral("−∞ ") : QStringLiteral("+∞ ")) + QLatin1String(unit);
    QString number = QString::number(value, 'f', 1);
    if (number.startsWith(u'-'))
        number.replace(0, 1, QChar(0x2212));
    return number + u' ' + QLatin1String(unit);
}

QVariant LibraryResultsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rowCount)
        return {};
    const Row *held = rowAt(index.row());
    if (!held) {
        if (!m_pages.contains(index.row() / pageSize))
            ask(index.row() / pageSize);
        return {};
    }
    const Row &row = *held;
    switch (role) {
    case Qt::EditRole:
        // The name a chain adds to the play list.
        return index.column() == Name ? QVariant(shownName(row.name)) : QVariant();
    case Qt::DisplayRole:
        switch (index.column()) {
        case Name:
            return shownName(row.name);
        case Folder:
            return shownName(m_folders[row.folder]);
        case Length:
            // Random bytes named .wav have no length, rather than one of 0:00.0.
            return row.rate > 0 ? QVariant(lengthShown(row.lengthMs)) : QVariant();
        case Rate:
            return row.rate > 0 ? QVariant(row.rate) : QVariant();
        case Channels:
            return row.channels > 0 ? QVariant(row.channels) : QVariant();
        case Bits:
            return row.bits > 0 ? QVariant(row.bits) : QVariant();
        case Loudness:
            if (row.noLoudness > 0)
                return m_noLoudness.value(row.noLoudness - 1);
            return row.marks & HasLufs ? decibelsShown(row.lufs, "LUFS") : QString();
        case TruePeak:
            return row.marks & HasTruePeak ? decibelsShown(row.truePeak, "dBTP") : QString();
        case Date:
            return QDateTime::fromSecsSinceEpoch(row.date).toString(
                QStringLiteral("yyyy-MM-dd HH:mm"));
        }
        return {};
    case Qt::ToolTipRole:
        // The folder's whole path, which its cell may show cut in the middle; the other
        // cells have the file's own tooltip.
        return index.column() == Folder ? QVariant(shownName(m_folders[row.folder])) : QVariant();
    case Qt::TextAlignmentRole:
        return index.column() == Name || index.column() == Folder
                   ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                   : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    case PathRole:
        return pathOf(row);
    case FolderRole:
        return m_folders[row.folder];
    case OfflineRole:
        return bool(row.marks & Offline);
    case GoneRole:
        return bool(row.marks & Gone);
    case UnavailableRole:
        return bool(row.marks & (Offline | Gone));
    case IdRole:
        return row.id;
    case DamagedRole:
        return row.rate <= 0;
    case LoudnessRole:
        if (const std::optional<::Loudness> measured =
                m_loudness ? m_loudness->known(pathOf(row)) : std::nullopt)
            return measured->integrated() ? QVariant(*measured->integrated()) : QVariant();
        return row.marks & HasLufs && std::isfinite(row.lufs) ? QVariant(double(row.lufs))
                                                              : QVariant();
    default:
        return {};
    }
}

QVariant LibraryResultsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= ColumnCount)
        return {};
    return QString::fromLatin1(headers[section]);
}

Qt::ItemFlags LibraryResultsModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    // Hits are dragged out like the file list's entries.
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled |
           Qt::ItemNeverHasChildren;
}

void LibraryResultsModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount)
        return;
    const LibrarySort sort{LibrarySort::Column(column), order == Qt::DescendingOrder};
    if (sort.column == m_sort.column && sort.descending == m_sort.descending)
        return;
    m_sort = sort;
    run();
}
