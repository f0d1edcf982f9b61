#include "SqliteLibraryStore.h"

#include "TextFold.h"
#include "files/LoudnessFacts.h"
#include "platform/NativeName.h"

#include <QDate>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QSet>
#include <QWaitCondition>
#include <cmath>
#include <fcntl.h>
#include <sqlite3.h>
#include <tuple>
#include <unistd.h>

namespace {

// How long a connection waits for another one's lock before it gives up: the indexer's
// batches take milliseconds, a checkpoint a little more.
constexpr int busyTimeoutMs = 5000;
// How long a checkpoint waits for the searches reading an older state of the store.
constexpr int checkpointWaitMs = 200;
// SQLite's page cache per connection, in KiB (a negative cache_size): enough for the indexes'
// upper levels, small beside the program's other memory.
constexpr int writerCacheKiB = 16 * 1024;
constexpr int readerCacheKiB = 8 * 1024;
// What the write-ahead log is cut back to once it has been copied into the store: a pass
// writes hundreds of batches, and a log that grew while a search held it open would otherwise
// keep its largest size on the disk (16 MB were seen after a pass).
constexpr int walKeptBytes = 4 * 1024 * 1024;

// Past this many hits a page is found by walking the names in order (each hit among every
// dozen rows or so), below it by sorting the hits gathered from the text index.
constexpr qint64 orderedScanHits = 2000;

// Measurement marks kept beside the figures.
constexpr int notNumbersFlag = 1;
constexpr int rateTooLowFlag = 2;

// Each step brings the tables from the version before it to its own; a new store runs them
// all, so the path an old store takes is the path every store took.
const char *const upgradeSteps[] = {
    // 1: roots, folders, files, their texts and the two text indexes.
    R"sql(
CREATE TABLE meta(key TEXT PRIMARY KEY, value) WITHOUT ROWID;
CREATE TABLE roots(id INTEGER PRIMARY KEY, path BLOB NOT NULL UNIQUE,
                   online INTEGER NOT NULL DEFAULT 1, device INTEGER NOT NULL DEFAULT 0);
CREATE TABLE folders(id INTEGER PRIMARY KEY, root INTEGER NOT NULL, path BLOB NOT NULL UNIQUE,
                     path_key TEXT NOT NULL);
CREATE INDEX folders_root ON folders(root);
CREATE TABLE formats(id INTEGER PRIMARY KEY, encoding TEXT NOT NULL, container TEXT NOT NULL,
                     folded TEXT NOT NULL, UNIQUE(encoding, container));
CREATE TABLE files(id INTEGER PRIMARY KEY, folder INTEGER NOT NULL, name BLOB NOT NULL,
                   name_key TEXT NOT NULL, meta TEXT, size INTEGER NOT NULL,
                   mtime INTEGER NOT NULL, format INTEGER, rate INTEGER, channels INTEGER,
                   bits INTEGER, frames INTEGER, length_ms INTEGER, date INTEGER);
CREATE UNIQUE INDEX files_place ON files(folder, name);
CREATE INDEX files_name ON files(name_key);
CREATE VIRTUAL TABLE file_text USING fts5(name_key, meta, content='files', content_rowid='id',
                                          tokenize='trigram');
CREATE VIRTUAL TABLE folder_text USING fts5(path_key, content='folders', content_rowid='id',
                                            tokenize='trigram');
CREATE TRIGGER files_added AFTER INSERT ON files BEGIN
  INSERT INTO file_text(rowid, name_key, meta) VALUES (new.id, new.name_key, new.meta);
END;
CREATE TRIGGER files_removed AFTER DELETE ON files BEGIN
  INSERT INTO file_text(file_text, rowid, name_key, meta)
    VALUES ('delete', old.id, old.name_key, old.meta);
END;
CREATE TRIGGER files_retexted AFTER UPDATE OF name_key, meta ON files BEGIN
  INSERT INTO file_text(file_text, rowid, name_key, meta)
    VALUES ('delete', old.id, old.name_key, old.meta);
  INSERT INTO file_text(rowid, name_key, meta) VALUES (new.id, new.name_key, new.meta);
END;
CREATE TRIGGER folders_added AFTER INSERT ON folders BEGIN
  INSERT INTO folder_text(rowid, path_key) VALUES (new.id, new.path_key);
END;
CREATE TRIGGER folders_removed AFTER DELETE ON folders BEGIN
  INSERT INTO folder_text(folder_text, rowid, path_key) VALUES ('delete', old.id, old.path_key);
END;
)sql",
    // 2: loudness, of the library's files and of any other file a window measured.
    R"sql(
ALTER TABLE files ADD COLUMN lufs REAL;
ALTER TABLE files ADD COLUMN lra REAL;
ALTER TABLE files ADD COLUMN tpeak REAL;
ALTER TABLE files ADD COLUMN speak REAL;
ALTER TABLE files ADD COLUMN clipped INTEGER;
ALTER TABLE files ADD COLUMN lflags INTEGER;
CREATE INDEX files_length ON files(length_ms);
CREATE INDEX files_date ON files(date);
CREATE INDEX files_lufs ON files(lufs) WHERE lufs IS NOT NULL;
CREATE TABLE loudness(path BLOB PRIMARY KEY, size INTEGER NOT NULL, mtime_ms INTEGER NOT NULL,
                      lufs REAL, lra REAL, tpeak REAL, speak REAL, clipped INTEGER,
                      lflags INTEGER) WITHOUT ROWID;
)sql",
    // 3: names in their natural order (take2 before take10): the key of each (naturalKey()),
    // indexed in place of the folded name.
    R"sql(
ALTER TABLE files ADD COLUMN name_sort BLOB;
UPDATE files SET name_sort = natural_key(name_key);
DROP INDEX files_name;
CREATE INDEX files_name ON files(name_sort);
)sql",
    // 4: whether a root was ever walked to its end: one that was not (new, or cut short by a
    // card pulled or the program ending) is partly known, and its count of files is more than
    // what the store holds of it. A root of an older store is counted once more to find out.
    R"sql(
ALTER TABLE roots ADD COLUMN walked INTEGER NOT NULL DEFAULT 0;
)sql",
};
static_assert(std::size(upgradeSteps) == SqliteLibraryStore::schemaVersion);

// One prepared statement, finalised with the object.
class Statement final
{
public:
    Statement() = default;
    Statement(sqlite3 *db, const QByteArray &sql)
    {
        m_code = sqlite3_prepare_v3(db, sql.constData(), int(sql.size()), SQLITE_PREPARE_PERSISTENT,
                                    &m_statement, nullptr);
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(Statement &&other) noexcept
        : m_statement(std::exchange(other.m_statement, nullptr)), m_code(other.m_code)
    {
    }
    Statement &operator=(Statement &&other) noexcept
    {
        std::swap(m_statement, other.m_statement);
        m_code = other.m_code;
        return *this;
    }

    int prepared() const { return m_code; }
    Statement &reset()
    {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
        return *this;
    }
    Statement &bind(int at, qint64 value)
    {
        sqlite3_bind_int64(m_statement, at, value);
        return *this;
    }
    Statement &bind(int at, int value) { return bind(at, qint64(value)); }
    Statement &bind(int at, double value)
    {
        sqlite3_bind_double(m_statement, at, value);
        return *this;
    }
    Statement &bind(int at, const QByteArray &blob)
    {
        sqlite3_bind_blob64(m_statement, at, blob.constData(), sqlite3_uint64(blob.size()),
                            SQLITE_TRANSIENT);
        return *this;
    }
    Statement &bindText(int at, const QString &text)
    {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text64(m_statement, at, utf8.constData(), sqlite3_uint64(utf8.size()),
                            SQLITE_TRANSIENT, SQLITE_UTF8);
        return *this;
    }
    Statement &bindNull(int at)
    {
        sqlite3_bind_null(m_statement, at);
        return *this;
    }
    template <typename T> Statement &bindOptional(int at, const std::optional<T> &value)
    {
        return value ? bind(at, *value) : bindNull(at);
    }
    Statement &bindVariant(int at, const QVariant &value)
    {
        switch (value.typeId()) {
        case QMetaType::LongLong:
        case QMetaType::Int:
            return bind(at, value.toLongLong());
        case QMetaType::Double:
            return bind(at, value.toDouble());
        case QMetaType::QByteArray:
            return bind(at, value.toByteArray());
        case QMetaType::QString:
            return bindText(at, value.toString());
        default:
            return bindNull(at);
        }
    }
    // SQLITE_ROW, SQLITE_DONE or a fault.
    int step() { return sqlite3_step(m_statement); }

    bool isNull(int column) const
    {
        return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
    }
    qint64 integer(int column) const { return sqlite3_column_int64(m_statement, column); }
    double real(int column) const { return sqlite3_column_double(m_statement, column); }
    std::optional<double> optionalReal(int column) const
    {
        return isNull(column) ? std::nullopt : std::optional(real(column));
    }
    QByteArray blob(int column) const
    {
        const void *data = sqlite3_column_blob(m_statement, column);
        return QByteArray(static_cast<const char *>(data),
                          sqlite3_column_bytes(m_statement, column));
    }
    QString text(int column) const
    {
        const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
        return QString::fromUtf8(data, sqlite3_column_bytes(m_statement, column));
    }
    QVariant variant(int column) const
    {
        switch (sqlite3_column_type(m_statement, column)) {
        case SQLITE_INTEGER:
            return integer(column);
        case SQLITE_FLOAT:
            return real(column);
        case SQLITE_TEXT:
            return text(column);
        case SQLITE_BLOB:
            return blob(column);
        default:
            return {};
        }
    }

private:
    sqlite3_stmt *m_statement = nullptr;
    int m_code = SQLITE_MISUSE;
};

// has_piece(text, piece): whether a folded text holds a searched piece, as the search index
// finds it (NULL holds nothing).
void hasPiece(sqlite3_context *context, int, sqlite3_value **values)
{
    if (sqlite3_value_type(values[0]) == SQLITE_NULL ||
        sqlite3_value_type(values[1]) == SQLITE_NULL) {
        sqlite3_result_int(context, 0);
        return;
    }
    const auto text = reinterpret_cast<const char *>(sqlite3_value_text(values[0]));
    const qsizetype textBytes = sqlite3_value_bytes(values[0]);
    const auto piece = reinterpret_cast<const char *>(sqlite3_value_text(values[1]));
    const qsizetype pieceBytes = sqlite3_value_bytes(values[1]);
    sqlite3_result_int(
        context, containsPiece(QByteArrayView(text, textBytes), QByteArrayView(piece, pieceBytes)));
}

// natural_key(folded name): the key names sort by (naturalKey()).
void naturalKeyOf(sqlite3_context *context, int, sqlite3_value **values)
{
    if (sqlite3_value_type(values[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const auto name = reinterpret_cast<const char *>(sqlite3_value_text(values[0]));
    const QByteArray key = naturalKey(QByteArrayView(name, sqlite3_value_bytes(values[0])));
    sqlite3_result_blob64(context, key.constData(), sqlite3_uint64(key.size()), SQLITE_TRANSIENT);
}

bool isDamage(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

// "/a/b" of "/a/b/c.wav"; the folder of a root-level file is "/".
std::pair<QByteArray, QByteArray> splitPath(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return {QByteArray(), path};
    return {slash == 0 ? QByteArray("/") : path.first(slash), path.sliced(slash + 1)};
}

// The half-open range of paths below folder: "/a/" up to "/a0" ('0' follows '/').
std::pair<QByteArray, QByteArray> belowRange(QByteArray folder)
{
    if (!folder.endsWith('/'))
        folder += '/';
    QByteArray end = folder;
    end.back() = char('/' + 1);
    return {folder, end};
}

// Everything a search reads of a file, folded, one text a line so that no phrase runs from
// one into the next.
QString metaText(const WaveInfo &info)
{
    QStringList parts;
    for (const QString *text :
         {&info.description, &info.originator, &info.originatorReference, &info.title, &info.artist,
          &info.comment, &info.software, &info.scene, &info.take, &info.note})
        if (!text->isEmpty())
            parts.append(*text);
    for (const QString &label : info.cueLabels)
        if (!label.isEmpty())
            parts.append(label);
    return parts.isEmpty() ? QString() : foldText(parts.join(u'\n'));
}

// What format: searches: the encoding and container folded, and the words people type for them.
QString formatText(const QString &encoding, const QString &container)
{
    // "ulaw" and "alaw" are how people type µ-law and A-law.
    QString folded = foldText(encoding + u' ' + container);
    folded.replace(QStringLiteral("µ-law"), QStringLiteral("µ-law ulaw mulaw"));
    folded.replace(QStringLiteral("μ-law"), QStringLiteral("μ-law ulaw mulaw"));
    folded.replace(QStringLiteral("a-law"), QStringLiteral("a-law alaw"));
    if (folded.contains(QLatin1String("float")))
        folded += QStringLiteral(" floating");
    return folded;
}

int bitsOf(const QString &encoding)
{
    static const QRegularExpression bits(QStringLiteral("(\\d+)-bit"));
    const QRegularExpressionMatch match = bits.match(encoding);
    if (match.hasMatch())
        return match.captured(1).toInt();
    if (encoding.contains(QLatin1String("law")))
        return 8;
    if (encoding.contains(QLatin1String("ADPCM")))
        return 4;
    return 0;
}

// The bext origination date and time as local time, else the file's modification time; 0
// when neither is known (a file that changed while it was read has no stamp until the next
// pass reads it again).
qint64 dateOf(const LibraryEntry &entry)
{
    const QDate date = QDate::fromString(entry.info.originationDate, Qt::ISODate);
    if (date.isValid() && date.year() > 1900) {
        QTime time = QTime::fromString(entry.info.originationTime, QStringLiteral("HH:mm:ss"));
        if (!time.isValid())
            time = QTime::fromString(entry.info.originationTime, QStringLiteral("HH-mm-ss"));
        return QDateTime(date, time.isValid() ? time : QTime(0, 0)).toSecsSinceEpoch();
    }
    return entry.modifiedNs / 1000000000;
}

int flagsOf(const Loudness &loudness)
{
    return (loudness.notNumbers ? notNumbersFlag : 0) | (loudness.rateTooLow ? rateTooLowFlag : 0);
}

Loudness loudnessOf(const Statement &row, int first)
{
    // SQLite keeps a figure that is not a number (a take whose samples are not) as NULL.
    const auto figure = [&row](int column) {
        return row.optionalReal(column).value_or(std::numeric_limits<double>::quiet_NaN());
    };
    Loudness loudness;
    loudness.integratedLufs = figure(first);
    loudness.rangeLu = figure(first + 1);
    loudness.truePeakDbtp = figure(first + 2);
    loudness.samplePeakDbfs = figure(first + 3);
    loudness.clipped = row.integer(first + 4);
    const int flags = int(row.integer(first + 5));
    loudness.notNumbers = flags & notNumbersFlag;
    loudness.rateTooLow = flags & rateTooLowFlag;
    return loudness;
}

QString ftsPhrase(const QString &text)
{
    QString quoted = text;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

qsizetype characters(const QString &text)
{
    return text.toUcs4().size();
}

// The search indexes read, by store file, shared by the process's connections (each answers
// for the generation of the store it holds). Never freed: a thread may still read one at exit.
struct PublishedIndex
{
    std::shared_ptr<SearchIndex> index;
    // A change committed and being put in the index: the generation it moves the store to.
    // A reader of that generation waits for it, a moment, rather than ask the statements.
    std::optional<qint64> pending;
};
QMutex &publishedMutex()
{
    static auto *mutex = new QMutex;
    return *mutex;
}
// Told under the mutex when a change is put in (or given up).
QWaitCondition &patched()
{
    static auto *condition = new QWaitCondition;
    return *condition;
}
QHash<QString, PublishedIndex> &published()
{
    static auto *indexes = new QHash<QString, PublishedIndex>;
    return *indexes;
}
// How long a change waits for another connection's, and a reader for a change, to be put in:
// milliseconds of memory work, far longer only on a machine that has stopped the thread.
constexpr int patchWaitMs = 5000;

bool isIndexed(const QString &file)
{
    QMutexLocker lock(&publishedMutex());
    return published().contains(file);
}

// The index of the file once no change that moves the store to this generation is still being
// put in it (under the mutex, which the wait lets go meanwhile); none when there is no index,
// or the change takes longer than a change can.
PublishedIndex *settledAt(const QString &file, qint64 generation)
{
    const QDeadlineTimer deadline(patchWaitMs);
    for (;;) {
        const auto found = published().find(file);
        if (found == published().end())
            return nullptr;
        if (!found->pending || *found->pending != generation)
            return &*found;
        if (!patched().wait(&publishedMutex(), deadline))
            return nullptr;
    }
}

// Before a change's COMMIT: the index it is to be put in, if one answers for the generation
// before it (once a change of another connection committed before it is in); readers of the
// generation after it wait for it from now on. None: the index no longer answers after it.
std::shared_ptr<SearchIndex> beginPatch(const QString &file, qint64 before, qint64 after)
{
    QMutexLocker lock(&publishedMutex());
    PublishedIndex *const entry = settledAt(file, before);
    if (!entry || entry->pending || entry->index->generation() != before)
        return {};
    entry->pending = after;
    return entry->index;
}

// After it: the change is in (or its COMMIT failed and the index holds as it was), or the
// index that could not take it is let go, to be read again.
void endPatch(const QString &file, const std::shared_ptr<SearchIndex> &index, bool holds)
{
    if (!index)
        return;
    QMutexLocker lock(&publishedMutex());
    const auto found = published().find(file);
    if (found != published().end() && found->index == index) {
        found->pending.reset();
        if (!holds)
            published().erase(found);
    }
    patched().wakeAll();
}

// One row of a page: the statement's columns as the query selects them, then the keys.
LibraryHit hitOf(const Statement &select, qsizetype keys, QHash<QByteArray, QString> &folderNames)
{
    LibraryHit hit;
    hit.id = select.integer(0);
    const QByteArray folder = select.blob(1);
    auto known = folderNames.find(folder);
    if (known == folderNames.end())
        known = folderNames.insert(folder, pathFromNative(folder));
    hit.folder = *known;
    hit.name = pathFromNative(select.blob(2));
    hit.lengthMs = select.integer(3);
    hit.rate = int(select.integer(4));
    hit.channels = int(select.integer(5));
    hit.bits = int(select.integer(6));
    const int flags = int(select.integer(9));
    if (!select.isNull(7) && flags == 0)
        hit.lufs = select.real(7);
    if (!select.isNull(8) && !(flags & rateTooLowFlag))
        hit.truePeak = select.real(8);
    hit.date = select.integer(10);
    hit.offline = select.integer(11) == 0;
    if (!select.isNull(12) && flags == 0)
        hit.samplePeak = select.real(12);
    for (int k = 0; k < keys; ++k)
        hit.cursor.append(select.variant(13 + k));
    return hit;
}

const char *const hitColumns = "SELECT f.id, d.path, f.name, f.length_ms, f.rate, f.channels, "
                               "f.bits, f.lufs, f.tpeak, f.lflags, f.date, r.online, f.speak, ";

} // namespace

struct SqliteLibraryStore::Statements
{
    Statement begin, commit, rollback;
    Statement folder, format, upsertFile, removeFile, cachedLoudness;
    Statement removeFilesBelow, removeFoldersBelow, removeEmptyFolders;
    Statement generation, nextGeneration;
    // A row of a page by its id, for each order (their keys differ).
    Statement rowById[9];
};

SqliteLibraryStore::SqliteLibraryStore(QString file) : m_file(std::move(file)) {}

SqliteLibraryStore::~SqliteLibraryStore()
{
    close();
}

void SqliteLibraryStore::close()
{
    m_statements.reset();
    m_folderIds.clear();
    m_formatIds.clear();
    if (m_db) {
        // An interruption asked for while no statement ran (a search given up) stays until the
        // next statement begins, and refuses the checkpoint that the last connection to close
        // makes before it removes the log and the shared memory file: a statement begun here
        // clears it.
        (void)sqlite3_exec(m_db, "SELECT 1", nullptr, nullptr, nullptr);
        sqlite3_close_v2(m_db);
    }
    m_db = nullptr;
}

QString SqliteLibraryStore::why(int code) const
{
    switch (code & 0xff) {
    case SQLITE_FULL:
        return QStringLiteral("the disk is full");
    case SQLITE_READONLY:
        return QStringLiteral("%1 cannot be written").arg(QDir::toNativeSeparators(m_file));
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return QStringLiteral("the library store is damaged");
    case SQLITE_IOERR:
        return QStringLiteral("the disk could not read or write the library store");
    case SQLITE_CANTOPEN:
        return QStringLiteral("%1 cannot be opened").arg(QDir::toNativeSeparators(m_file));
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("the library store is busy");
    case SQLITE_INTERRUPT:
        return QStringLiteral("interrupted");
    default:
        return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db))
                    : QString::fromUtf8(sqlite3_errstr(code));
    }
}

template <typename T> Result<T> SqliteLibraryStore::fail(int code)
{
    if (isDamage(code))
        m_damaged = true;
    return Result<T>::failure(why(code));
}

Result<void> SqliteLibraryStore::exec(const char *sql)
{
    const int code = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK)
        return fail<void>(code);
    return {};
}

Result<void> SqliteLibraryStore::connect(int flags)
{
    close();
    const int code = sqlite3_open_v2(QFile::encodeName(m_file).constData(), &m_db,
                                     flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (code != SQLITE_OK) {
        Result<void> failed = fail<void>(code);
        close();
        return failed;
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, busyTimeoutMs);
    constexpr int pure = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    for (const auto &[name, arguments, function] :
         {std::tuple{"has_piece", 2, &hasPiece}, std::tuple{"natural_key", 1, &naturalKeyOf}}) {
        if (const int made = sqlite3_create_function_v2(m_db, name, arguments, pure, nullptr,
                                                        function, nullptr, nullptr, nullptr);
            made != SQLITE_OK) {
            Result<void> failed = fail<void>(made);
            close();
            return failed;
        }
    }
    return {};
}

Result<void> SqliteLibraryStore::upgrade(int from, int to)
{
    if (Result<void> begun = exec("BEGIN IMMEDIATE"); !begun.ok())
        return begun;
    for (int version = from + 1; version <= to; ++version) {
        if (Result<void> done = exec(upgradeSteps[version - 1]); !done.ok()) {
            (void)exec("ROLLBACK");
            return done;
        }
    }
    const QByteArray stamp = QByteArray("PRAGMA user_version = ") + QByteArray::number(to) +
                             "; PRAGMA application_id = " + QByteArray::number(applicationId);
    if (Result<void> done = exec(stamp.constData()); !done.ok()) {
        (void)exec("ROLLBACK");
        return done;
    }
    return exec("COMMIT");
}

Result<void> SqliteLibraryStore::checkpoint()
{
    if (!m_db)
        return Result<void>::failure(why(SQLITE_CANTOPEN));
    // A search that reads an older state is waited for a moment only: then what it holds
    // stays in the log (copied as far as it can be), until the next time.
    sqlite3_busy_timeout(m_db, checkpointWaitMs);
    const int code =
        sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    sqlite3_busy_timeout(m_db, busyTimeoutMs);
    if (code != SQLITE_OK && (code & 0xff) != SQLITE_BUSY)
        return fail<void>(code);
    return {};
}

Result<void> SqliteLibraryStore::setPageLimitForTests(int pages)
{
    if (!m_db)
        return Result<void>::failure(why(SQLITE_CANTOPEN));
    return exec((QByteArray("PRAGMA max_page_count = ") + QByteArray::number(pages)).constData());
}

Result<void> SqliteLibraryStore::makeAtVersion(const QString &file, int version)
{
    SqliteLibraryStore store(file);
    if (Result<void> made = store.connect(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE); !made.ok())
        return made;
    if (Result<void> wal = store.exec("PRAGMA journal_mode = WAL"); !wal.ok())
        return wal;
    return store.upgrade(0, version);
}

Result<void> SqliteLibraryStore::moveAside(const QString &why)
{
    close();
    const QString base =
        m_file + QStringLiteral(".broken-") + QDate::currentDate().toString(Qt::ISODate);
    QString target = base;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = base + u'-' + QString::number(n);
    if (::rename(QFile::encodeName(m_file).constData(), QFile::encodeName(target).constData()) != 0)
        return Result<void>::failure(
            QStringLiteral("the damaged library store %1 cannot be "
                           "moved aside: %2")
                .arg(QDir::toNativeSeparators(m_file), QString::fromLocal8Bit(strerror(errno))));
    // Its journal goes with it, for whoever looks at it; the shared-memory index is rebuilt.
    (void)::rename(QFile::encodeName(m_file + QStringLiteral("-wal")).constData(),
                   QFile::encodeName(target + QStringLiteral("-wal")).constData());
    (void)::unlink(QFile::encodeName(m_file + QStringLiteral("-shm")).constData());
    m_movedTo = target;
    m_whyMoved = why;
    m_damaged = false;
    return {};
}

Result<void> SqliteLibraryStore::replace(const QString &why)
{
    // The roots are all the user chose; keep them if the old file still gives them.
    QList<QByteArray> keptRoots;
    if (m_db) {
        Statement roots(m_db, "SELECT path FROM roots");
        while (roots.prepared() == SQLITE_OK && roots.step() == SQLITE_ROW)
            keptRoots.append(roots.blob(0));
    }
    if (Result<void> moved = moveAside(why); !moved.ok())
        return moved;
    Result<Opening> opened = open();
    if (!opened.ok())
        return Result<void>::failure(opened.error());
    for (const QByteArray &root : std::as_const(keptRoots))
        (void)addRoot(pathFromNative(root), 0);
    return {};
}

Result<LibraryStore::Opening> SqliteLibraryStore::open()
{
    using Opened = Result<Opening>;
    const QString folder = QFileInfo(m_file).absolutePath();
    if (!QDir().mkpath(folder))
        return Opened::failure(
            QStringLiteral("%1 cannot be made").arg(QDir::toNativeSeparators(folder)));
    const bool existed = QFileInfo::exists(m_file);
    bool replaced = false;
    if (Result<void> connected = connect(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        !connected.ok())
        return Opened::failure(connected.error());

    // What the file is: ours and how old, or something to move aside.
    QString unusable;
    int version = 0;
    {
        Statement check(m_db, "SELECT (SELECT application_id FROM pragma_application_id), "
                              "(SELECT user_version FROM pragma_user_version), "
                              "(SELECT count(*) FROM sqlite_schema)");
        int code = check.prepared();
        if (code == SQLITE_OK)
            code = check.step();
        if (code == SQLITE_ROW) {
            const qint64 id = check.integer(0);
            version = int(check.integer(1));
            const qint64 tables = check.integer(2);
            if (tables > 0 && id != applicationId)
                unusable = QStringLiteral("it is not a library store");
            else if (version > schemaVersion)
                unusable = QStringLiteral("it was made by a newer version of the program");
        } else if (isDamage(code)) {
            unusable = QStringLiteral("it is damaged or not a database");
        } else {
            return fail<Opening>(code);
        }
    }
    if (unusable.isEmpty() && version > 0) {
        // The first pages hold the schema; a store whose tables cannot be read is as good as
        // lost.
        Statement probe(m_db, "SELECT count(*) FROM roots");
        const int code = probe.prepared() == SQLITE_OK ? probe.step() : probe.prepared();
        if (isDamage(code))
            unusable = QStringLiteral("it is damaged");
    }
    if (!unusable.isEmpty()) {
        if (Result<void> moved = moveAside(unusable); !moved.ok())
            return Opened::failure(moved.error());
        if (Result<void> connected = connect(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
            !connected.ok())
            return Opened::failure(connected.error());
        version = 0;
        replaced = true;
    }
    if (Result<void> wal = exec("PRAGMA journal_mode = WAL"); !wal.ok()) {
        close();
        return Opened::failure(wal.error());
    }
    const QByteArray pragmas = "PRAGMA synchronous = NORMAL; PRAGMA temp_store = MEMORY; "
                               "PRAGMA cache_size = -" +
                               QByteArray::number(writerCacheKiB) +
                               "; PRAGMA journal_size_limit = " + QByteArray::number(walKeptBytes);
    if (Result<void> set = exec(pragmas.constData()); !set.ok()) {
        close();
        return Opened::failure(set.error());
    }
    if (version < schemaVersion) {
        if (Result<void> upgraded = upgrade(version, schemaVersion); !upgraded.ok()) {
            close();
            return Opened::failure(upgraded.error());
        }
    }
    m_statements = std::make_unique<Statements>();
    // A generation to begin with, at random: a store made anew in place of another never
    // passes for it.
    (void)exec("INSERT OR IGNORE INTO meta(key, value) VALUES ('generation', abs(random() >> 2))");
    return replaced                 ? Opening::Replaced
           : existed && version > 0 ? Opening::Opened
                                    : Opening::Created;
}

Result<void> SqliteLibraryStore::openForReading()
{
    // Opened for writing where the file allows it, and kept from writing by query_only: the
    // last connection to close copies the log into the store and removes it with the shared
    // memory file, and one opened read-only cannot, so that whichever closes last at exit (the
    // searches' often does) would leave both behind.
    if (Result<void> connected = connect(SQLITE_OPEN_READWRITE); !connected.ok())
        return connected;
    const QByteArray pragmas = "PRAGMA query_only = ON; PRAGMA temp_store = MEMORY; "
                               "PRAGMA cache_size = -" +
                               QByteArray::number(readerCacheKiB);
    if (Result<void> set = exec(pragmas.constData()); !set.ok()) {
        close();
        return set;
    }
    m_statements = std::make_unique<Statements>();
    return {};
}

Result<void> SqliteLibraryStore::openForLoudness()
{
    if (Result<void> connected = connect(SQLITE_OPEN_READWRITE); !connected.ok())
        return connected;
    Statement check(m_db, "SELECT (SELECT application_id FROM pragma_application_id), "
                          "(SELECT user_version FROM pragma_user_version)");
    int code = check.prepared();
    if (code == SQLITE_OK)
        code = check.step();
    if (code != SQLITE_ROW) {
        Result<void> failed = fail<void>(code);
        close();
        return failed;
    }
    // Not made yet, or to be upgraded or moved aside by the library's own open().
    if (check.integer(0) != applicationId || check.integer(1) != schemaVersion) {
        close();
        return Result<void>::failure(QStringLiteral("the library store is not ready"));
    }
    const QByteArray pragmas =
        "PRAGMA temp_store = MEMORY; PRAGMA cache_size = -" + QByteArray::number(readerCacheKiB);
    if (Result<void> set = exec(pragmas.constData()); !set.ok()) {
        close();
        return set;
    }
    m_statements = std::make_unique<Statements>();
    return {};
}

Result<QList<LibraryRoot>> SqliteLibraryStore::roots()
{
    using Roots = Result<QList<LibraryRoot>>;
    if (!m_db)
        return Roots::failure(why(SQLITE_CANTOPEN));
    Statement select(m_db, "SELECT id, path, online, device, walked FROM roots ORDER BY path");
    if (select.prepared() != SQLITE_OK)
        return fail<QList<LibraryRoot>>(select.prepared());
    QList<LibraryRoot> roots;
    int code;
    while ((code = select.step()) == SQLITE_ROW)
        roots.append({pathFromNative(select.blob(1)), select.integer(0), select.integer(2) != 0,
                      select.integer(3), select.integer(4) != 0});
    if (code != SQLITE_DONE)
        return fail<QList<LibraryRoot>>(code);
    return roots;
}

Result<LibraryRoot> SqliteLibraryStore::addRoot(const QString &given, qint64 device)
{
    using Added = Result<LibraryRoot>;
    if (!m_db)
        return Added::failure(why(SQLITE_CANTOPEN));
    const QString path = QDir::cleanPath(given);
    if (!QDir::isAbsolutePath(path))
        return Added::failure(QStringLiteral("%1 is not a full path").arg(given));
    const QByteArray bytes = nativePath(path);
    Result<QList<LibraryRoot>> existing = roots();
    if (!existing.ok())
        return Added::failure(existing.error());
    const auto [below, end] = belowRange(bytes);
    QList<qint64> inner;
    for (const LibraryRoot &root : existing.value()) {
        const QByteArray rootBytes = nativePath(root.path);
        if (rootBytes == bytes)
            return root;
        const auto [rootBelow, rootEnd] = belowRange(rootBytes);
        if (bytes >= rootBelow && bytes < rootEnd)
            return Added::failure(QStringLiteral("%1 is already in the library, in %2")
                                      .arg(shownName(path), shownName(root.path)));
        if (rootBytes >= below && rootBytes < end)
            inner.append(root.id);
    }
    if (Result<void> begun = exec("BEGIN IMMEDIATE"); !begun.ok())
        return Added::failure(begun.error());
    const auto abort = [this](int code) {
        (void)exec("ROLLBACK");
        return fail<LibraryRoot>(code);
    };
    Statement insert(m_db, "INSERT INTO roots(path, online, device) VALUES (?, 1, ?)");
    if (insert.prepared() != SQLITE_OK)
        return abort(insert.prepared());
    if (const int code = insert.bind(1, bytes).bind(2, device).step(); code != SQLITE_DONE)
        return abort(code);
    const qint64 id = sqlite3_last_insert_rowid(m_db);
    // A root inside the new one becomes part of it: its entries stay.
    for (const qint64 old : std::as_const(inner)) {
        Statement move(m_db, "UPDATE folders SET root = ? WHERE root = ?");
        Statement drop(m_db, "DELETE FROM roots WHERE id = ?");
        if (const int code = move.bind(1, id).bind(2, old).step(); code != SQLITE_DONE)
            return abort(code);
        if (const int code = drop.bind(1, old).step(); code != SQLITE_DONE)
            return abort(code);
    }
    if (Result<void> done = exec("COMMIT"); !done.ok()) {
        (void)exec("ROLLBACK");
        return Added::failure(done.error());
    }
    return LibraryRoot{pathFromNative(bytes), id, true, device};
}

Result<void> SqliteLibraryStore::removeRoot(const QString &path)
{
    if (!m_db)
        return Result<void>::failure(why(SQLITE_CANTOPEN));
    const QByteArray bytes = nativePath(QDir::cleanPath(path));
    if (Result<void> begun = exec("BEGIN IMMEDIATE"); !begun.ok())
        return begun;
    const auto abort = [this](int code) {
        (void)exec("ROLLBACK");
        return fail<void>(code);
    };
    // The files and folders taken out, for the search index to take out in place.
    const Result<PatchStart> start = patchStart();
    if (!start.ok())
        return abort(sqlite3_errcode(m_db));
    SearchIndex::Patch patch;
    for (const auto &[sql, gone] :
         {std::pair{"DELETE FROM files WHERE folder IN (SELECT id FROM folders WHERE root = "
                    "(SELECT id FROM roots WHERE path = ?1)) RETURNING id",
                    &patch.goneFiles},
          std::pair{"DELETE FROM folders WHERE root = (SELECT id FROM roots WHERE path = ?1) "
                    "RETURNING id",
                    &patch.goneFolders},
          std::pair{"DELETE FROM roots WHERE path = ?1", static_cast<QList<qint64> *>(nullptr)}}) {
        Statement statement(m_db, sql);
        if (statement.prepared() != SQLITE_OK)
            return abort(statement.prepared());
        statement.bind(1, bytes);
        int code;
        while ((code = statement.step()) == SQLITE_ROW)
            if (gone)
                gone->append(statement.integer(0));
        if (code != SQLITE_DONE)
            return abort(code);
    }
    m_folderIds.clear();
    if (Result<void> moved = nextGeneration(); !moved.ok())
        return abort(sqlite3_errcode(m_db));
    return commitPatched(patch, start->before);
}

Result<void> SqliteLibraryStore::setRootSeen(qint64 root, bool online, qint64 device)
{
    if (!m_db)
        return Result<void>::failure(why(SQLITE_CANTOPEN));
    Statement update(m_db, "UPDATE roots SET online = ?, device = CASE WHEN ? THEN ? "
                           "ELSE device END WHERE id = ?");
    if (update.prepared() != SQLITE_OK)
        return fail<void>(update.prepared());
    const int code = update.bind(1, int(online))
                         .bind(2, int(online && device != 0))
                         .bind(3, device)
                         .bind(4, root)
                         .step();
    if (code != SQLITE_DONE)
        return fail<void>(code);
    return {};
}

Result<void> SqliteLibraryStore::setRootWalked(qint64 root)
{
    if (!m_db)
        return Result<void>::failure(why(SQLITE_CANTOPEN));
    Statement update(m_db, "UPDATE roots SET walked = 1 WHERE id = ?");
    if (update.prepared() != SQLITE_OK)
        return fail<void>(update.prepared());
    if (const int code = update.bind(1, root).step(); code != SQLITE_DONE)
        return fail<void>(code);
    return {};
}

Result<QHash<QByteArray, qint64>> SqliteLibraryStore::integersByKey(const char *sql, qint64 root)
{
    using Integers = Result<QHash<QByteArray, qint64>>;
    if (!m_db)
        return Integers::failure(why(SQLITE_CANTOPEN));
    Statement select(m_db, sql);
    if (select.prepared() != SQLITE_OK)
        return fail<QHash<QByteArray, qint64>>(select.prepared());
    select.bind(1, root);
    QHash<QByteArray, qint64> integers;
    int code;
    while ((code = select.step()) == SQLITE_ROW)
        integers.insert(select.blob(0), select.integer(1));
    if (code != SQLITE_DONE)
        return fail<QHash<QByteArray, qint64>>(code);
    return integers;
}

Result<QHash<QByteArray, qint64>> SqliteLibraryStore::folderFileCounts(qint64 root)
{
    return integersByKey("SELECT d.path, count(*) FROM files f JOIN folders d ON d.id = f.folder "
                         "WHERE d.root = ? GROUP BY d.id",
                         root);
}

Result<QHash<QByteArray, qint64>> SqliteLibraryStore::folders(qint64 root)
{
    return integersByKey("SELECT path, id FROM folders WHERE root = ?", root);
}

Result<QHash<QByteArray, KnownFile>> SqliteLibraryStore::files(const QByteArray &folder)
{
    using Files = Result<QHash<QByteArray, KnownFile>>;
    if (!m_db)
        return Files::failure(why(SQLITE_CANTOPEN));
    Statement select(m_db, "SELECT f.name, f.id, f.size, f.mtime FROM files f JOIN folders d "
                           "ON d.id = f.folder WHERE d.path = ?");
    if (select.prepared() != SQLITE_OK)
        return fail<QHash<QByteArray, KnownFile>>(select.prepared());
    select.bind(1, folder);
    QHash<QByteArray, KnownFile> files;
    int code;
    while ((code = select.step()) == SQLITE_ROW)
        files.insert(select.blob(0), {select.integer(1), select.integer(2), select.integer(3)});
    if (code != SQLITE_DONE)
        return fail<QHash<QByteArray, KnownFile>>(code);
    return files;
}

Result<qint64> SqliteLibraryStore::fileCount(std::optional<qint64> root)
{
    if (!m_db)
        return Result<qint64>::failure(why(SQLITE_CANTOPEN));
    Statement select(m_db, root ? "SELECT count(*) FROM files WHERE folder IN "
                                  "(SELECT id FROM folders WHERE root = ?)"
                                : "SELECT count(*) FROM files");
    if (select.prepared() != SQLITE_OK)
        return fail<qint64>(select.prepared());
    if (root)
        select.bind(1, *root);
    if (const int code = select.step(); code != SQLITE_ROW)
        return fail<qint64>(code);
    return select.integer(0);
}

Result<std::optional<qint64>> SqliteLibraryStore::generation()
{
    Statement &select = m_statements->generation;
    if (select.prepared() != SQLITE_OK)
        select = Statement(m_db, "SELECT value FROM meta WHERE key = 'generation'");
    if (select.prepared() != SQLITE_OK)
        return fail<std::optional<qint64>>(select.prepared());
    const int code = select.reset().step();
    std::optional<qint64> value;
    if (code == SQLITE_ROW)
        value = select.integer(0);
    else if (code != SQLITE_DONE)
        return fail<std::optional<qint64>>(code);
    select.reset();
    return value;
}

// Every change of what a search reads moves the store to its next generation, in the
// change's own transaction: an index read at a generation holds while it is the store's.
Result<void> SqliteLibraryStore::nextGeneration()
{
    Statement &update = m_statements->nextGeneration;
    if (update.prepared() != SQLITE_OK)
        update = Statement(m_db, "INSERT INTO meta(key, value) VALUES ('generation', "
                                 "abs(random() >> 2)) ON CONFLICT(key) DO UPDATE SET value = "
                                 "value + 1");
    if (update.prepared() != SQLITE_OK)
        return fail<void>(update.prepared());
    if (const int code = update.reset().step(); code != SQLITE_DONE)
        return fail<void>(code);
    return {};
}

Result<qint64> SqliteLibraryStore::folderId(qint64 root, const QByteArray &path)
{
    if (const auto known = m_folderIds.constFind(path); known != m_folderIds.cend())
        return *known;
    Statement &insert = m_statements->folder;
    if (insert.prepared() != SQLITE_OK)
        insert = Statement(m_db, "INSERT INTO folders(root, path, path_key) VALUES (?, ?, ?) "
                                 "ON CONFLICT(path) DO UPDATE SET root = excluded.root "
                                 "RETURNING id");
    if (insert.prepared() != SQLITE_OK)
        return fail<qint64>(insert.prepared());
    insert.reset().bind(1, root).bind(2, path).bindText(3, foldText(pathFromNative(path)));
    if (const int code = insert.step(); code != SQLITE_ROW)
        return fail<qint64>(code);
    const qint64 id = insert.integer(0);
    insert.reset();
    m_folderIds.insert(path, id);
    return id;
}

Result<qint64> SqliteLibraryStore::formatId(const QString &encoding, const QString &container)
{
    const QString key = encoding + u'\n' + container;
    if (const auto known = m_formatIds.constFind(key); known != m_formatIds.cend())
        return *known;
    Statement &insert = m_statements->format;
    if (insert.prepared() != SQLITE_OK)
        insert = Statement(m_db, "INSERT INTO formats(encoding, container, folded) "
                                 "VALUES (?, ?, ?) ON CONFLICT DO UPDATE SET "
                                 "encoding = excluded.encoding RETURNING id");
    if (insert.prepared() != SQLITE_OK)
        return fail<qint64>(insert.prepared());
    insert.reset()
        .bindText(1, encoding)
        .bindText(2, container)
        .bindText(3, formatText(encoding, container));
    if (const int code = insert.step(); code != SQLITE_ROW)
        return fail<qint64>(code);
    const qint64 id = insert.integer(0);
    insert.reset();
    m_formatIds.insert(key, id);
    return id;
}

Result<void> SqliteLibraryStore::write(const LibraryBatch &batch)
{
    if (!m_db)
        return Result<void>::failure(why(SQLITE_CANTOPEN));
    if (batch.isEmpty())
        return {};
    Statements &s = *m_statements;
    const auto prepare = [this](Statement &statement, const char *sql) {
        if (statement.prepared() != SQLITE_OK)
            statement = Statement(m_db, sql);
        return statement.prepared();
    };
    if (Result<void> begun = exec("BEGIN IMMEDIATE"); !begun.ok())
        return begun;
    const auto abort = [this](int code) {
        (void)exec("ROLLBACK");
        // Ids handed out inside the batch are gone with it.
        m_folderIds.clear();
        m_formatIds.clear();
        return fail<void>(code);
    };
    // What the batch changes, for the search index to take in place: a pass over a large
    // folder writes hundreds of batches, and searches go on meanwhile.
    const Result<PatchStart> start = patchStart();
    if (!start.ok())
        return abort(sqlite3_errcode(m_db));
    // Gathered whenever an index is read, even for a store with no generation yet (whose
    // index the change then does not go into).
    const bool indexed = start->indexed;
    SearchIndex::Patch patch;
    QSet<qint64> patchedFolders, patchedFormats;
    int code = SQLITE_OK;
    if ((code = prepare(s.upsertFile,
                        "INSERT INTO files(folder, name, name_key, meta, size, mtime, format, "
                        "rate, channels, bits, frames, length_ms, date, lufs, lra, tpeak, speak, "
                        "clipped, lflags, name_sort) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, "
                        "?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20) ON "
                        "CONFLICT(folder, name) DO UPDATE SET name_key = ?3, meta = ?4, size = "
                        "?5, mtime = ?6, format = ?7, rate = ?8, channels = ?9, bits = ?10, "
                        "frames = ?11, length_ms = ?12, date = ?13, lufs = ?14, lra = ?15, "
                        "tpeak = ?16, speak = ?17, clipped = ?18, lflags = ?19, name_sort = "
                        "?20 RETURNING id")) != SQLITE_OK ||
        (code = prepare(s.removeFile, "DELETE FROM files WHERE id = ?")) != SQLITE_OK ||
        (code = prepare(s.cachedLoudness,
                        "SELECT lufs, lra, tpeak, speak, clipped, lflags FROM loudness "
                        "WHERE path = ? AND size = ? AND mtime_ms = ?")) != SQLITE_OK ||
        (code = prepare(s.removeFilesBelow,
                        "DELETE FROM files WHERE folder IN (SELECT id FROM folders WHERE "
                        "path = ?1 OR (path >= ?2 AND path < ?3)) RETURNING id")) != SQLITE_OK ||
        (code = prepare(s.removeFoldersBelow, "DELETE FROM folders WHERE path = ?1 OR "
                                              "(path >= ?2 AND path < ?3) RETURNING id")) !=
            SQLITE_OK)
        return abort(code);

    for (const QByteArray &folder : batch.goneFolders) {
        const auto [below, end] = belowRange(folder);
        for (Statement *statement : {&s.removeFilesBelow, &s.removeFoldersBelow}) {
            statement->reset().bind(1, folder).bind(2, below).bind(3, end);
            QList<qint64> &gone =
                statement == &s.removeFilesBelow ? patch.goneFiles : patch.goneFolders;
            while ((code = statement->step()) == SQLITE_ROW)
                gone.append(statement->integer(0));
            if (code != SQLITE_DONE)
                return abort(code);
        }
    }
    if (!batch.goneFolders.isEmpty())
        m_folderIds.clear();
    for (const qint64 id : batch.goneFiles) {
        s.removeFile.reset().bind(1, id);
        if ((code = s.removeFile.step()) != SQLITE_DONE)
            return abort(code);
        patch.goneFiles.append(id);
    }
    for (const LibraryEntry &entry : batch.entries) {
        const Result<qint64> folder = folderId(batch.root, entry.folder);
        if (!folder.ok())
            return abort(sqlite3_errcode(m_db));
        const WaveInfo &info = entry.info;
        std::optional<qint64> format;
        if (info.playable()) {
            const Result<qint64> id = formatId(info.encoding, info.container);
            if (!id.ok())
                return abort(sqlite3_errcode(m_db));
            format = id.value();
        }
        std::optional<Loudness> loudness = entry.loudness;
        if (!loudness) {
            // Measured before the file came into the library (the old cache, a window).
            QByteArray path = entry.folder;
            if (!path.endsWith('/'))
                path += '/';
            path += entry.name;
            s.cachedLoudness.reset()
                .bind(1, path)
                .bind(2, entry.size)
                .bind(3, entry.modifiedNs / 1000000);
            if ((code = s.cachedLoudness.step()) == SQLITE_ROW)
                loudness = loudnessOf(s.cachedLoudness, 0);
            else if (code != SQLITE_DONE)
                return abort(code);
            s.cachedLoudness.reset();
        }
        const QString meta = metaText(entry.info);
        const QString nameKey = foldText(pathFromNative(entry.name));
        SearchIndex::File written;
        written.nameKey = nameKey.toUtf8();
        written.meta = meta.toUtf8();
        written.folder = folder.value();
        written.format = format;
        written.rate = info.sampleRate;
        written.channels = info.channels;
        written.bits = bitsOf(info.encoding);
        written.lengthMs =
            info.sampleRate > 0
                ? qint64(std::llround(double(info.frames) * 1000.0 / info.sampleRate))
                : qint64(0);
        written.date = dateOf(entry);
        Statement &u = s.upsertFile;
        u.reset()
            .bind(1, folder.value())
            .bind(2, entry.name)
            .bindText(3, nameKey)
            .bind(20, naturalKey(written.nameKey))
            .bind(5, entry.size)
            .bind(6, entry.modifiedNs)
            .bindOptional(7, format)
            .bind(8, info.sampleRate)
            .bind(9, info.channels)
            .bind(10, written.bits)
            .bind(11, info.frames)
            .bind(12, written.lengthMs)
            .bind(13, written.date);
        if (!meta.isEmpty())
            u.bindText(4, meta);
        if (loudness) {
            u.bind(14, loudness->integratedLufs)
                .bind(15, loudness->rangeLu)
                .bind(16, loudness->truePeakDbtp)
                .bind(17, loudness->samplePeakDbfs)
                .bind(18, loudness->clipped)
                .bind(19, flagsOf(*loudness));
            // As the store keeps them: a figure that is not a number is its NULL.
            written.lufs = loudness->integratedLufs;
            written.truePeak = loudness->truePeakDbtp;
            written.clipped = loudness->clipped;
            written.flags = flagsOf(*loudness);
        }
        if ((code = u.step()) != SQLITE_ROW)
            return abort(code);
        written.id = u.integer(0);
        if ((code = u.step()) != SQLITE_DONE)
            return abort(code);
        if (indexed) {
            if (!patchedFolders.contains(written.folder)) {
                patchedFolders.insert(written.folder);
                patch.folders.append({written.folder, entry.folder,
                                      foldText(pathFromNative(entry.folder)).toUtf8()});
            }
            if (format && !patchedFormats.contains(*format)) {
                patchedFormats.insert(*format);
                patch.formats.append({*format, formatText(info.encoding, info.container).toUtf8()});
            }
            patch.files.append(std::move(written));
        }
    }
    if (!batch.goneFolders.isEmpty() || !batch.goneFiles.isEmpty()) {
        if ((code = prepare(s.removeEmptyFolders,
                            "DELETE FROM folders WHERE root = ? AND NOT EXISTS "
                            "(SELECT 1 FROM files WHERE files.folder = folders.id) "
                            "RETURNING id")) != SQLITE_OK)
            return abort(code);
        s.removeEmptyFolders.reset().bind(1, batch.root);
        while ((code = s.removeEmptyFolders.step()) == SQLITE_ROW)
            patch.goneFolders.append(s.removeEmptyFolders.integer(0));
        if (code != SQLITE_DONE)
            return abort(code);
        m_folderIds.clear();
    }
    if (Result<void> moved = nextGeneration(); !moved.ok())
        return abort(sqlite3_errcode(m_db));
    if (Result<void> done = commitPatched(patch, start->before); !done.ok()) {
        m_folderIds.clear();
        m_formatIds.clear();
        return done;
    }
    return {};
}

Result<SqliteLibraryStore::PatchStart> SqliteLibraryStore::patchStart()
{
    PatchStart start;
    start.indexed = isIndexed(m_file);
    if (start.indexed) {
        const Result<std::optional<qint64>> was = generation();
        if (!was.ok())
            return Result<PatchStart>::failure(was.error());
        start.before = was.value();
    }
    return start;
}

Result<void> SqliteLibraryStore::commitPatched(const SearchIndex::Patch &patch,
                                               std::optional<qint64> before)
{
    std::shared_ptr<SearchIndex> index;
    std::optional<qint64> after;
    if (before) {
        const Result<std::optional<qint64>> now = generation();
        if (!now.ok()) {
            (void)exec("ROLLBACK");
            return Result<void>::failure(now.error());
        }
        after = now.value();
        if (after)
            index = beginPatch(m_file, *before, *after);
    }
    if (Result<void> done = exec("COMMIT"); !done.ok()) {
        (void)exec("ROLLBACK");
        // Nothing was written: the index holds as it was.
        endPatch(m_file, index, true);
        return done;
    }
    if (index)
        endPatch(m_file, index, index->apply(patch, *before, *after));
    return {};
}

namespace {

// A query's WHERE clause and the values bound to it, built from the parsed terms: the user's
// text only ever reaches SQLite as a bound value.
struct Where
{
    QStringList conditions;
    QVariantList values;
    bool usesFolder = false;

    QString bindValue(QVariant value)
    {
        values.append(std::move(value));
        return u'?' + QString::number(values.size());
    }

    // The ids of the files an indexed text term matches, as one SELECT, so that the term can
    // drive a query (few hits) or be one set among others in a count; empty for a term the
    // index cannot answer (under three characters, a format).
    QString rowSet(const QueryTerm &term)
    {
        using Field = QueryTerm::Field;
        if (term.field == Field::Format || characters(term.text) < shortestIndexedText)
            return {};
        const QString phrase = bindValue(term.field == Field::Name
                                             ? QStringLiteral("name_key : ") + ftsPhrase(term.text)
                                             : ftsPhrase(term.text));
        const QString inNames =
            QStringLiteral("SELECT rowid AS id FROM file_text WHERE file_text MATCH %1")
                .arg(phrase);
        const QString inFolders =
            QStringLiteral("SELECT id FROM files WHERE folder IN (SELECT rowid FROM folder_text "
                           "WHERE folder_text MATCH %1)")
                .arg(phrase);
        switch (term.field) {
        case Field::Name:
            return inNames;
        case Field::Folder:
            return inFolders;
        default:
            return inNames + QStringLiteral(" UNION ") + inFolders;
        }
    }

    QString textCondition(const QueryTerm &term)
    {
        using Field = QueryTerm::Field;
        // Gathered from their sets (no index of the files' table is walked): each word's ids.
        if (bySets && !term.excluded)
            if (const QString set = rowSet(term); !set.isEmpty())
                return QStringLiteral("f.id IN (%1)").arg(set);
        if (term.field != Field::Format && characters(term.text) >= shortestIndexedText) {
            const QString phrase = bindValue(
                term.field == Field::Name ? QStringLiteral("name_key : ") + ftsPhrase(term.text)
                                          : ftsPhrase(term.text));
            // The folders matched are few: a set of them beats the set of their files.
            const QString inNames =
                QStringLiteral("f.id IN (SELECT rowid FROM file_text WHERE file_text MATCH %1)")
                    .arg(phrase);
            const QString inFolders = QStringLiteral("f.folder IN (SELECT rowid FROM folder_text "
                                                     "WHERE folder_text MATCH %1)")
                                          .arg(phrase);
            if (term.field == Field::Name)
                return inNames;
            if (term.field == Field::Folder)
                return inFolders;
            return u'(' + inNames + QStringLiteral(" OR ") + inFolders + u')';
        }
        // Compared by the search index's own rule (containsPiece): a letter or two where a word
        // begins.
        switch (term.field) {
        case Field::Name:
            return QStringLiteral("has_piece(f.name_key, %1)").arg(bindValue(term.text));
        case Field::Folder:
            usesFolder = true;
            return QStringLiteral("has_piece(d.path_key, %1)").arg(bindValue(term.text));
        case Field::Format:
            return QStringLiteral("f.format IN (SELECT id FROM formats WHERE has_piece(folded, "
                                  "%1))")
                .arg(bindValue(term.text));
        default: {
            usesFolder = true;
            const QString text = bindValue(term.text);
            return QStringLiteral("(has_piece(f.name_key, %1) OR has_piece(d.path_key, %1) OR "
                                  "has_piece(f.meta, %1))")
                .arg(text);
        }
        }
    }

    QString numericCondition(const QueryTerm &term)
    {
        using Field = QueryTerm::Field;
        QString column;
        QString measured;
        // A figure the file lacks is kept as 0 (a header that could not be read has no rate,
        // channels nor length; GSM and ADPCM have no bits of a sample): it matches no range.
        switch (term.field) {
        case Field::Rate:
            column = QStringLiteral("f.rate");
            measured = QStringLiteral("f.rate > 0 AND ");
            break;
        case Field::Channels:
            column = QStringLiteral("f.channels");
            measured = QStringLiteral("f.channels > 0 AND ");
            break;
        case Field::Bits:
            column = QStringLiteral("f.bits");
            measured = QStringLiteral("f.bits > 0 AND ");
            break;
        case Field::Length:
            column = QStringLiteral("f.length_ms");
            // A length is known where the rate is: frames of no rate are no time.
            measured = QStringLiteral("f.rate > 0 AND ");
            break;
        case Field::Lufs:
            column = QStringLiteral("f.lufs");
            // Digital silence (-inf) has no loudness to compare.
            measured = QStringLiteral("f.lflags = 0 AND f.lufs > -1e308 AND ");
            break;
        case Field::Peak:
            column = QStringLiteral("f.tpeak");
            measured =
                QStringLiteral("(f.lflags & %1) = 0 AND f.tpeak > -1e308 AND ").arg(rateTooLowFlag);
            break;
        case Field::Date:
            column = QStringLiteral("f.date");
            // No bext date, and a file that changed while it was read: its time is not known
            // until the next pass reads it again.
            measured = QStringLiteral("f.date <> 0 AND ");
            break;
        default:
            return QStringLiteral("0");
        }
        QStringList parts;
        if (term.low)
            parts.append(column + QLatin1String(term.lowIncluded ? " >= " : " > ") +
                         bindValue(*term.low));
        if (term.high)
            parts.append(column + QLatin1String(term.highIncluded ? " <= " : " < ") +
                         bindValue(*term.high));
        if (parts.isEmpty())
            parts.append(column + QStringLiteral(" IS NOT NULL"));
        return u'(' + measured + parts.join(QStringLiteral(" AND ")) + u')';
    }

    void add(const QueryTerm &term)
    {
        if (term.isText() && !term.excluded && term.field != QueryTerm::Field::Format &&
            characters(term.text) >= shortestIndexedText)
            ++drivingSets;
        QString condition;
        if (term.isText())
            condition = textCondition(term);
        else if (term.field == QueryTerm::Field::Clip)
            condition = term.yes ? QStringLiteral("((f.lflags & %1) <> 0 OR f.tpeak > 0 OR "
                                                  "f.clipped > 0)")
                                       .arg(notNumbersFlag)
                                 : QStringLiteral("(f.lflags = 0 AND f.tpeak <= 0 AND "
                                                  "f.clipped = 0)");
        else
            condition = numericCondition(term);
        // A file not measured has no loudness to leave out: "-clip:yes" keeps it.
        conditions.append(term.excluded ? QStringLiteral("NOT ifnull(%1, 0)").arg(condition)
                                        : condition);
    }

    // How many terms have a set of ids that can drive the query.
    int drivingSets = 0;
    // The words' conditions as sets of ids, for a query driven by them.
    bool bySets = false;

    QString clause() const
    {
        return conditions.isEmpty() ? QStringLiteral("1")
                                    : conditions.join(QStringLiteral(" AND "));
    }
};

// The expressions rows are ordered by, the last ones breaking ties so that every row has a
// place of its own for the next page to start after.
QStringList sortKeys(LibrarySort::Column column)
{
    using Column = LibrarySort::Column;
    // Names in their natural order, numbers by value.
    const QString name = QStringLiteral("f.name_sort");
    const QString id = QStringLiteral("f.id");
    switch (column) {
    case Column::Name:
        return {name, id};
    case Column::Folder:
        return {QStringLiteral("d.path"), name, id};
    case Column::Length:
        return {QStringLiteral("f.length_ms"), name, id};
    case Column::Rate:
        return {QStringLiteral("f.rate"), name, id};
    case Column::Channels:
        return {QStringLiteral("f.channels"), name, id};
    case Column::Bits:
        return {QStringLiteral("f.bits"), name, id};
    // Files not measured sort below the quietest, and with them those that have no
    // integrated loudness (shorter than a block: -inf).
    case Column::Loudness:
        return {QStringLiteral("CASE WHEN f.lufs > -1e308 THEN f.lufs ELSE -1e308 END"), name, id};
    case Column::TruePeak:
        return {QStringLiteral("ifnull(f.tpeak, -1e308)"), name, id};
    case Column::Date:
        return {QStringLiteral("f.date"), name, id};
    }
    return {name, id};
}

} // namespace

Result<QList<LibraryHit>> SqliteLibraryStore::query(const LibraryQuery &query,
                                                    const LibrarySort &sort,
                                                    const QVariantList &after, int limit,
                                                    qint64 skip)
{
    using Hits = Result<QList<LibraryHit>>;
    if (!m_db)
        return Hits::failure(why(SQLITE_CANTOPEN));
    if (!query.ok() || query.empty() || limit <= 0 || skip < 0)
        return QList<LibraryHit>();
    if (!after.isEmpty() && after.size() != sortKeys(sort.column).size())
        return Hits::failure(QStringLiteral("the page's start is not of this order"));
    // From memory while the index read last is of the store as it is: the generation read
    // and the rows fetched by their ids in one read of the store.
    const bool own = sqlite3_get_autocommit(m_db) != 0;
    if (own)
        if (Result<void> begun = exec("BEGIN"); !begun.ok())
            return Hits::failure(begun.error());
    const auto end = [this, own] {
        if (own)
            (void)exec("COMMIT");
    };
    // An index put forward by a change committed since this read of the store began answers
    // for a later one: the store is read again, a few times at most.
    constexpr int readsAtMost = 3;
    for (int read = 1;; ++read) {
        Result<void> fault;
        qint64 at = 0;
        const std::shared_ptr<const SearchIndex> index = currentIndex(fault, at);
        if (index) {
            if (const auto hits = hitsOf(index, query, at)) {
                if (const std::optional<QList<qint64>> ids =
                        index->page(*hits, sort, after, limit, skip)) {
                    Result<QList<LibraryHit>> rows = rowsOf(*ids, sort);
                    end();
                    return rows;
                }
            }
        }
        end();
        if (!fault.ok())
            return Hits::failure(fault.error());
        if (!own || !index || index->generation() <= at || read == readsAtMost)
            break;
        if (Result<void> begun = exec("BEGIN"); !begun.ok())
            return Hits::failure(begun.error());
    }
    // Many hits are best found in the order shown, testing each (the first page is met at
    // once); few are best gathered from their indexes and sorted. A count that stops past
    // the threshold tells which.
    QString plan;
    if (sort.column == LibrarySort::Column::Name) {
        Where probe;
        for (const QueryTerm &term : query.terms)
            probe.add(term);
        // Two words or more: what both match is seldom many, and testing each name in order
        // for both costs more than sorting what they share.
        if (probe.drivingSets > 1) {
            plan = QStringLiteral(" NOT INDEXED");
        } else {
            const Result<bool> many = hasMoreThan(query, orderedScanHits);
            if (!many.ok())
                return Hits::failure(many.error());
            if (many.value())
                plan = QStringLiteral(" INDEXED BY files_name");
            else if (probe.drivingSets > 0)
                plan = QStringLiteral(" NOT INDEXED");
        }
    }
    Where where;
    where.bySets = plan == QLatin1String(" NOT INDEXED");
    for (const QueryTerm &term : query.terms)
        where.add(term);
    const QStringList keys = sortKeys(sort.column);
    QString sql = QLatin1String(hitColumns) + keys.join(QStringLiteral(", ")) +
                  QStringLiteral(" FROM files f") + plan +
                  QStringLiteral(" JOIN folders d ON d.id = f.folder JOIN roots r "
                                 "ON r.id = d.root WHERE ") +
                  where.clause();

    if (!after.isEmpty()) {
        if (after.size() != keys.size())
            return Hits::failure(QStringLiteral("the page's start is not of this order"));
        QStringList marks;
        for (const QVariant &value : after)
            marks.append(where.bindValue(value));
        sql += QStringLiteral(" AND (%1) %2 (%3)")
                   .arg(keys.join(QStringLiteral(", ")),
                        sort.descending ? QStringLiteral("<") : QStringLiteral(">"),
                        marks.join(QStringLiteral(", ")));
    }
    QStringList order;
    for (const QString &key : keys)
        order.append(key + (sort.descending ? QStringLiteral(" DESC") : QString()));
    sql += QStringLiteral(" ORDER BY ") + order.join(QStringLiteral(", ")) +
           QStringLiteral(" LIMIT ") + where.bindValue(qint64(limit));
    if (skip > 0)
        sql += QStringLiteral(" OFFSET ") + where.bindValue(skip);

    Statement select(m_db, sql.toUtf8());
    if (select.prepared() != SQLITE_OK)
        return fail<QList<LibraryHit>>(select.prepared());
    for (int i = 0; i < where.values.size(); ++i)
        select.bindVariant(i + 1, where.values[i]);
    QList<LibraryHit> hits;
    hits.reserve(limit);
    // Rows of one folder share its path's characters.
    QHash<QByteArray, QString> folderNames;
    int code;
    while ((code = select.step()) == SQLITE_ROW)
        hits.append(hitOf(select, keys.size(), folderNames));
    if (code != SQLITE_DONE)
        return fail<QList<LibraryHit>>(code);
    return hits;
}

Result<bool> SqliteLibraryStore::hasMoreThan(const LibraryQuery &query, qint64 hits)
{
    Where where;
    QString sql;
    // The first word the index answers: its files, and those of its folders, are few or not.
    for (const QueryTerm &term : query.terms) {
        if (term.isText() && !term.excluded && term.field != QueryTerm::Field::Format &&
            characters(term.text) >= shortestIndexedText) {
            const QString set = where.rowSet(term);
            sql = QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM (%1) LIMIT %2)")
                      .arg(set)
                      .arg(hits + 1);
            break;
        }
    }
    if (sql.isEmpty()) {
        for (const QueryTerm &term : query.terms)
            where.add(term);
        sql =
            QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM files f ") +
            (where.usesFolder ? QStringLiteral("JOIN folders d ON d.id = f.folder ") : QString()) +
            QStringLiteral("WHERE ") + where.clause() + QStringLiteral(" LIMIT %1)").arg(hits + 1);
    }
    Statement select(m_db, sql.toUtf8());
    if (select.prepared() != SQLITE_OK)
        return fail<bool>(select.prepared());
    for (int i = 0; i < where.values.size(); ++i)
        select.bindVariant(i + 1, where.values[i]);
    if (const int code = select.step(); code != SQLITE_ROW)
        return fail<bool>(code);
    return select.integer(0) > hits;
}

Result<qint64> SqliteLibraryStore::count(const LibraryQuery &query)
{
    if (!m_db)
        return Result<qint64>::failure(why(SQLITE_CANTOPEN));
    if (!query.ok() || query.empty())
        return qint64(0);
    constexpr int readsAtMost = 3;
    for (int read = 1;; ++read) {
        Result<void> fault;
        qint64 at = 0;
        const std::shared_ptr<const SearchIndex> index = currentIndex(fault, at);
        if (index)
            if (const auto hits = hitsOf(index, query, at))
                return hits->count;
        if (!fault.ok())
            return Result<qint64>::failure(fault.error());
        // Within a caller's transaction the store is read as it was when it began.
        if (sqlite3_get_autocommit(m_db) == 0 || !index || index->generation() <= at ||
            read == readsAtMost)
            break;
    }
    // Only indexed words: their sets of ids, intersected, without reading a row of a file.
    Where where;
    QString sets;
    bool allSets = true;
    for (const QueryTerm &term : query.terms) {
        const QString set = term.isText() ? where.rowSet(term) : QString();
        if (set.isEmpty() || (sets.isEmpty() && term.excluded)) {
            allSets = false;
            break;
        }
        const QString member = QStringLiteral("SELECT id FROM (%1)").arg(set);
        sets += sets.isEmpty()
                    ? member
                    : (term.excluded ? QStringLiteral(" EXCEPT ") : QStringLiteral(" INTERSECT ")) +
                          member;
    }
    if (allSets) {
        Statement select(m_db, QStringLiteral("SELECT count(*) FROM (%1)").arg(sets).toUtf8());
        if (select.prepared() != SQLITE_OK)
            return fail<qint64>(select.prepared());
        for (int i = 0; i < where.values.size(); ++i)
            select.bindVariant(i + 1, where.values[i]);
        if (const int code = select.step(); code != SQLITE_ROW)
            return fail<qint64>(code);
        return select.integer(0);
    }
    where = Where();
    for (const QueryTerm &term : query.terms)
        where.add(term);
    const QString sql =
        QStringLiteral("SELECT count(*) FROM files f ") +

        (where.usesFolder ? QStringLiteral("JOIN folders d ON d.id = f.folder ") : QString()) +
        QStringLiteral("WHERE ") + where.clause();
    Statement select(m_db, sql.toUtf8());
    if (select.prepared() != SQLITE_OK)
        return fail<qint64>(select.prepared());
    for (int i = 0; i < where.values.size(); ++i)
        select.bindVariant(i + 1, where.values[i]);
    if (const int code = select.step(); code != SQLITE_ROW)
        return fail<qint64>(code);
    return select.integer(0);
}

void SqliteLibraryStore::interrupt()
{
    if (m_db)
        sqlite3_interrupt(m_db);
}

Result<std::optional<Loudness>> SqliteLibraryStore::loudness(const QString &path, qint64 size,
                                                             qint64 modifiedMs)
{
    using Found = Result<std::optional<Loudness>>;
    if (!m_db)
        return Found::failure(why(SQLITE_CANTOPEN));
    const QByteArray bytes = nativePath(path);
    const auto [folder, name] = splitPath(bytes);
    Statement inLibrary(m_db, "SELECT f.lufs, f.lra, f.tpeak, f.speak, f.clipped, f.lflags "
                              "FROM files f JOIN folders d ON d.id = f.folder WHERE d.path = ? "
                              "AND f.name = ? AND f.size = ? AND f.mtime / 1000000 = ? AND "
                              "f.lflags IS NOT NULL");
    if (inLibrary.prepared() != SQLITE_OK)
        return fail<std::optional<Loudness>>(inLibrary.prepared());
    inLibrary.bind(1, folder).bind(2, name).bind(3, size).bind(4, modifiedMs);
    int code = inLibrary.step();
    if (code == SQLITE_ROW)
        return std::optional(loudnessOf(inLibrary, 0));
    if (code != SQLITE_DONE)
        return fail<std::optional<Loudness>>(code);
    Statement kept(m_db, "SELECT lufs, lra, tpeak, speak, clipped, lflags FROM loudness "
                         "WHERE path = ? AND size = ? AND mtime_ms = ?");
    if (kept.prepared() != SQLITE_OK)
        return fail<std::optional<Loudness>>(kept.prepared());
    kept.bind(1, bytes).bind(2, size).bind(3, modifiedMs);
    code = kept.step();
    if (code == SQLITE_ROW)
        return std::optional(loudnessOf(kept, 0));
    if (code != SQLITE_DONE)
        return fail<std::optional<Loudness>>(code);
    return std::optional<Loudness>();
}

Result<void> SqliteLibraryStore::putLoudness(const QString &path, const StampedLoudness &stamped)
{
    if (!m_db)
        return Result<void>::failure(why(SQLITE_CANTOPEN));
    const QByteArray bytes = nativePath(path);
    const auto [folder, name] = splitPath(bytes);
    const Loudness &l = stamped.loudness;
    // The library's row when the file is one of its own as it is now; every measured file
    // also in the table of loudness, so that a file added later finds its figures.
    Statement update(m_db, "UPDATE files SET lufs = ?1, lra = ?2, tpeak = ?3, speak = ?4, "
                           "clipped = ?5, lflags = ?6 WHERE folder = (SELECT id FROM folders "
                           "WHERE path = ?7) AND name = ?8 AND size = ?9 AND mtime / 1000000 = "
                           "?10 RETURNING id");
    Statement insert(m_db, "INSERT OR REPLACE INTO loudness(path, size, mtime_ms, lufs, lra, "
                           "tpeak, speak, clipped, lflags) VALUES (?7, ?9, ?10, ?1, ?2, ?3, ?4, "
                           "?5, ?6)");
    // A file of the library changes with the store's generation, at once.
    const bool own = sqlite3_get_autocommit(m_db) != 0;
    if (own)
        if (Result<void> begun = exec("BEGIN IMMEDIATE"); !begun.ok())
            return begun;
    const auto abort = [this, own](int code) {
        if (own)
            (void)exec("ROLLBACK");
        return fail<void>(code);
    };
    // The files changed, and the generation before and after: the index read at the one
    // before takes the figures in place and holds for the one after.
    QList<qint64> changed;
    std::optional<qint64> before, after;
    for (Statement *statement : {&update, &insert}) {
        if (statement->prepared() != SQLITE_OK)
            return abort(statement->prepared());
        statement->bind(1, l.integratedLufs)
            .bind(2, l.rangeLu)
            .bind(3, l.truePeakDbtp)
            .bind(4, l.samplePeakDbfs)
            .bind(5, l.clipped)
            .bind(6, flagsOf(l))
            .bind(7, statement == &update ? folder : bytes)
            .bind(9, stamped.size)
            .bind(10, stamped.modifiedMs);
        if (statement == &update)
            statement->bind(8, name);
        int code;
        while ((code = statement->step()) == SQLITE_ROW)
            changed.append(statement->integer(0));
        if (code != SQLITE_DONE)
            return abort(code);
        if (statement == &update && !changed.isEmpty()) {
            const Result<std::optional<qint64>> was = generation();
            if (!was.ok())
                return abort(sqlite3_errcode(m_db));
            before = was.value();
            if (Result<void> moved = nextGeneration(); !moved.ok())
                return abort(sqlite3_errcode(m_db));
            const Result<std::optional<qint64>> now = generation();
            if (!now.ok())
                return abort(sqlite3_errcode(m_db));
            after = now.value();
        }
    }
    // Committed here and now: searches go on from memory rather than from the statements.
    // Within a caller's transaction the change may yet be undone, and the index is left to be
    // read again.
    std::shared_ptr<SearchIndex> index;
    if (own && before && after)
        index = beginPatch(m_file, *before, *after);
    if (own)
        if (Result<void> done = exec("COMMIT"); !done.ok()) {
            (void)exec("ROLLBACK");
            endPatch(m_file, index, true);
            return done;
        }
    if (index)
        endPatch(m_file, index, index->putLoudness(changed, l, flagsOf(l), *before, *after));
    return {};
}

Result<QList<UnmeasuredFile>> SqliteLibraryStore::unmeasured(qint64 after, int limit)
{
    if (!m_db)
        return Result<QList<UnmeasuredFile>>::failure(why(SQLITE_CANTOPEN));
    // Only what the readers took for a wave file: a broken one has no format to measure.
    Statement select(m_db, "SELECT files.id, folders.path, files.name, files.size, files.mtime "
                           "FROM files JOIN folders ON folders.id = files.folder "
                           "JOIN roots ON roots.id = folders.root "
                           "WHERE files.id > ?1 AND files.lufs IS NULL AND files.format IS NOT "
                           "NULL AND files.rate > 0 AND roots.online = 1 "
                           "ORDER BY files.id LIMIT ?2");
    if (select.prepared() != SQLITE_OK)
        return fail<QList<UnmeasuredFile>>(select.prepared());
    select.bind(1, after).bind(2, limit);
    QList<UnmeasuredFile> files;
    int code = SQLITE_ROW;
    while ((code = select.step()) == SQLITE_ROW) {
        QByteArray path = select.blob(1);
        if (!path.endsWith('/'))
            path += '/';
        path += select.blob(2);
        files.append({select.integer(0), pathFromNative(path), select.integer(3),
                      select.integer(4) / 1000000});
    }
    if (code != SQLITE_DONE)
        return fail<QList<UnmeasuredFile>>(code);
    return files;
}

namespace {

std::optional<double> figureOf(const QByteArray &field)
{
    if (field == "-inf")
        return -std::numeric_limits<double>::infinity();
    if (field == "inf")
        return std::numeric_limits<double>::infinity();
    // What earlier versions wrote for a take whose samples are not numbers.
    if (field == "nan")
        return std::numeric_limits<double>::quiet_NaN();
    bool good = false;
    const double value = field.toDouble(&good);
    if (!good || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// One line of the old cache: the path's bytes percent-encoded, size, modification time in
// milliseconds, integrated, range, true peak, sample peak, clipped samples and the marks
// ("-", or "notnumbers" and "ratetoolow" joined by '+').
std::optional<std::pair<QByteArray, StampedLoudness>> cacheLine(const QByteArray &line)
{
    const QList<QByteArray> fields = line.trimmed().split(' ');
    if (fields.size() != 9)
        return std::nullopt;
    bool ok = true;
    const auto integer = [&ok](const QByteArray &field) {
        bool good = false;
        const qint64 value = field.toLongLong(&good);
        ok = ok && good;
        return value;
    };
    const auto real = [&ok](const QByteArray &field) {
        const std::optional<double> value = figureOf(field);
        ok = ok && value;
        return value.value_or(0);
    };
    StampedLoudness stamped;
    stamped.size = integer(fields[1]);
    stamped.modifiedMs = integer(fields[2]);
    Loudness &l = stamped.loudness;
    l.integratedLufs = real(fields[3]);
    l.rangeLu = real(fields[4]);
    l.truePeakDbtp = real(fields[5]);
    l.samplePeakDbfs = real(fields[6]);
    l.clipped = integer(fields[7]);
    if (fields[8] != "-") {
        for (const QByteArray &mark : fields[8].split('+')) {
            // A mark twice was never written: the line is garbled.
            if (mark == "notnumbers" && !l.notNumbers)
                l.notNumbers = true;
            else if (mark == "ratetoolow" && !l.rateTooLow)
                l.rateTooLow = true;
            else
                ok = false;
        }
    }
    const QByteArray path = QByteArray::fromPercentEncoding(fields[0]);
    if (!ok || path.isEmpty() || !path.startsWith('/') || stamped.size < 0 ||
        !LoudnessFacts::believable(l))
        return std::nullopt;
    return std::pair{path, stamped};
}

} // namespace

Result<int> SqliteLibraryStore::importLoudnessCache(const QString &file)
{
    if (!m_db)
        return Result<int>::failure(why(SQLITE_CANTOPEN));
    {
        Statement done(m_db, "SELECT 1 FROM meta WHERE key = 'loudness imported'");
        const int code = done.prepared() == SQLITE_OK ? done.step() : done.prepared();
        if (code == SQLITE_ROW)
            return 0;
        if (code != SQLITE_DONE)
            return fail<int>(code);
    }
    // Read as the cache reads it: a regular file in its own name, never a FIFO or a link; only
    // its newest lines count, and the newest line of a file wins.
    constexpr qint64 largestRead = 64 << 20;
    QByteArray bytes;
    const int fd = ::open(QFile::encodeName(file).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd >= 0) {
        struct stat status
        {
        };
        if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
            const qint64 from = std::max<qint64>(0, qint64(status.st_size) - largestRead);
            bytes.resize(qsizetype(status.st_size - from));
            qsizetype got = 0;
            while (got < bytes.size()) {
                const ssize_t n =
                    ::pread(fd, bytes.data() + got, size_t(bytes.size() - got), off_t(from + got));
                if (n <= 0)
                    break;
                got += n;
            }
            bytes.truncate(got);
            if (from > 0)
                bytes = bytes.sliced(bytes.indexOf('\n') + 1);
        }
        ::close(fd);
    }
    if (Result<void> begun = exec("BEGIN IMMEDIATE"); !begun.ok())
        return Result<int>::failure(begun.error());
    int taken = 0;
    for (const QByteArray &line : bytes.split('\n')) {
        const auto parsed = cacheLine(line);
        if (!parsed)
            continue;
        if (Result<void> put = putLoudness(pathFromNative(parsed->first), parsed->second);
            !put.ok()) {
            (void)exec("ROLLBACK");
            return Result<int>::failure(put.error());
        }
        ++taken;
    }
    Statement mark(m_db, "INSERT OR REPLACE INTO meta(key, value) VALUES ('loudness imported', "
                         "strftime('%s', 'now'))");
    const int code = mark.prepared() == SQLITE_OK ? mark.step() : mark.prepared();
    if (code != SQLITE_DONE) {
        (void)exec("ROLLBACK");
        return fail<int>(code);
    }
    if (Result<void> done = exec("COMMIT"); !done.ok()) {
        (void)exec("ROLLBACK");
        return Result<int>::failure(done.error());
    }
    return taken;
}

std::shared_ptr<const SearchIndex> SqliteLibraryStore::publishedIndex(Result<void> &fault,
                                                                      qint64 &generation)
{
    if (!isIndexed(m_file))
        return {};
    const Result<std::optional<qint64>> now = this->generation();
    if (!now.ok()) {
        fault = Result<void>::failure(now.error());
        return {};
    }
    if (!now.value())
        return {};
    generation = *now.value();
    // The change that made this generation may be being put in: a moment.
    QMutexLocker lock(&publishedMutex());
    const PublishedIndex *const entry = settledAt(m_file, generation);
    return entry ? entry->index : nullptr;
}

std::shared_ptr<const SearchIndex> SqliteLibraryStore::currentIndex(Result<void> &fault,
                                                                    qint64 &generation)
{
    return m_useSearchIndex ? publishedIndex(fault, generation) : nullptr;
}

std::shared_ptr<const SearchIndex::Hits>
SqliteLibraryStore::hitsOf(const std::shared_ptr<const SearchIndex> &index,
                           const LibraryQuery &query, qint64 generation)
{
    // A count, and the next pages, follow the first page of the same query.
    const QString described = query.describe();
    if (m_hits && m_hitsIndex.lock() == index && m_hits->generation == generation &&
        m_hitsQuery == described)
        return m_hits;
    std::shared_ptr<const SearchIndex::Hits> hits = index->match(query, generation);
    if (!hits)
        return {};
    m_hits = std::move(hits);
    m_hitsIndex = index;
    m_hitsQuery = described;
    return m_hits;
}

Result<QList<LibraryHit>> SqliteLibraryStore::rowsOf(const QList<qint64> &ids,
                                                     const LibrarySort &sort)
{
    const QStringList keys = sortKeys(sort.column);
    Statement &select = m_statements->rowById[int(sort.column)];
    if (select.prepared() != SQLITE_OK)
        select = Statement(m_db, (QLatin1String(hitColumns) + keys.join(QStringLiteral(", ")) +
                                  QStringLiteral(" FROM files f JOIN folders d ON d.id = "
                                                 "f.folder JOIN roots r ON r.id = d.root "
                                                 "WHERE f.id = ?"))
                                     .toUtf8());
    if (select.prepared() != SQLITE_OK)
        return fail<QList<LibraryHit>>(select.prepared());
    QList<LibraryHit> hits;
    hits.reserve(ids.size());
    QHash<QByteArray, QString> folderNames;
    for (const qint64 id : ids) {
        select.reset().bind(1, id);
        const int code = select.step();
        if (code == SQLITE_ROW)
            hits.append(hitOf(select, keys.size(), folderNames));
        else if (code != SQLITE_DONE)
            return fail<QList<LibraryHit>>(code);
    }
    select.reset();
    return hits;
}

Result<qint64> SqliteLibraryStore::loadSearchIndex()
{
    if (!m_db)
        return Result<qint64>::failure(why(SQLITE_CANTOPEN));
    const bool own = sqlite3_get_autocommit(m_db) != 0;
    if (own)
        if (Result<void> begun = exec("BEGIN"); !begun.ok())
            return Result<qint64>::failure(begun.error());
    const auto end = [this, own] {
        if (own)
            (void)exec("COMMIT");
    };
    const Result<std::optional<qint64>> at = generation();
    if (!at.ok() || !at.value()) {
        end();
        return at.ok() ? Result<qint64>(qint64(0)) : Result<qint64>::failure(at.error());
    }
    {
        // Still the store's as it is, or made so by the changes put in since it was read.
        Result<void> fault;
        qint64 now = 0;
        const std::shared_ptr<const SearchIndex> held = publishedIndex(fault, now);
        if (held && held->generation() == *at.value()) {
            end();
            return held->bytes();
        }
    }
    auto index = std::make_shared<SearchIndex>();
    const auto failed = [&](int code) {
        end();
        return fail<qint64>(code);
    };
    Statement folders(m_db, "SELECT id, path, path_key FROM folders");
    int code = folders.prepared();
    while (code == SQLITE_OK && (code = folders.step()) == SQLITE_ROW) {
        index->addFolder(folders.integer(0), folders.blob(1), folders.blob(2));
        code = SQLITE_OK;
    }
    if (code != SQLITE_DONE)
        return failed(code);
    Statement formats(m_db, "SELECT id, folded FROM formats");
    code = formats.prepared();
    while (code == SQLITE_OK && (code = formats.step()) == SQLITE_ROW) {
        index->addFormat(formats.integer(0), formats.blob(1));
        code = SQLITE_OK;
    }
    if (code != SQLITE_DONE)
        return failed(code);
    Statement files(m_db, "SELECT id, name_key, meta, folder, format, rate, channels, bits, "
                          "length_ms, date, lufs, tpeak, clipped, lflags FROM files");
    code = files.prepared();
    bool fits = true;
    while (fits && code == SQLITE_OK && (code = files.step()) == SQLITE_ROW) {
        code = SQLITE_OK;
        // Columns the writer always fills; a store with holes there is asked by statements.
        for (const int column : {5, 6, 7, 8, 9})
            fits = fits && !files.isNull(column);
        const auto optionalInteger = [&files](int column) {
            return files.isNull(column) ? std::nullopt : std::optional(files.integer(column));
        };
        SearchIndex::File file;
        file.id = files.integer(0);
        file.nameKey = files.blob(1);
        file.meta = files.blob(2);
        file.folder = files.integer(3);
        file.format = optionalInteger(4);
        file.rate = files.integer(5);
        file.channels = files.integer(6);
        file.bits = files.integer(7);
        file.lengthMs = files.integer(8);
        file.date = files.integer(9);
        file.lufs = files.optionalReal(10);
        file.truePeak = files.optionalReal(11);
        file.clipped = optionalInteger(12);
        file.flags = optionalInteger(13);
        fits = fits && index->addFile(file);
    }
    if (!fits) {
        end();
        return qint64(0);
    }
    if (code != SQLITE_DONE)
        return failed(code);
    end();
    index->finish();
    index->setGeneration(*at.value());
    const qint64 bytes = index->bytes();
    QMutexLocker lock(&publishedMutex());
    published().insert(m_file, {std::move(index), std::nullopt});
    patched().wakeAll();
    return bytes;
}

Result<bool> SqliteLibraryStore::searchIndexIsCurrent()
{
    if (!m_db)
        return Result<bool>::failure(why(SQLITE_CANTOPEN));
    Result<void> fault;
    qint64 now = 0;
    const std::shared_ptr<const SearchIndex> index = publishedIndex(fault, now);
    if (!fault.ok())
        return Result<bool>::failure(fault.error());
    return index && index->generation() == now;
}

void SqliteLibraryStore::dropSearchIndex()
{
    QMutexLocker lock(&publishedMutex());
    published().remove(m_file);
    patched().wakeAll();
    m_hits.reset();
    m_hitsIndex.reset();
}

void SqliteLibraryStore::useSearchIndex(bool use)
{
    m_useSearchIndex = use;
}
