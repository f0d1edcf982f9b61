#include "LibraryLoudness.h"

#include "SqliteLibraryStore.h"

#include <QMutexLocker>

namespace {
// As many as the measuring keeps in memory: more would only be measured again anyway.
constexpr qsizetype mostWaiting = 20000;
} // namespace

LibraryLoudness::LibraryLoudness(QString file) : m_file(std::move(file)) {}

LibraryLoudness::~LibraryLoudness() = default;

void LibraryLoudness::storeChanged()
{
    ++m_changes;
    // What was measured before the store was made is written now, rather than at the next
    // measurement, which may never come.
    QMutexLocker lock(&m_mutex);
    if (!m_waiting.isEmpty())
        (void)openStore();
}

void LibraryLoudness::close()
{
    QMutexLocker lock(&m_mutex);
    m_closed = true;
    m_store.reset();
}

bool LibraryLoudness::openStore()
{
    if (m_closed)
        return false;
    const int change = m_changes;
    if (m_store && m_triedAt == change)
        return true;
    if (m_triedAt == change)
        return false;
    m_triedAt = change;
    // A store replaced since has another file under the same name: open it anew.
    m_store = std::make_unique<SqliteLibraryStore>(m_file);
    if (!m_store->openForLoudness().ok()) {
        m_store.reset();
        return false;
    }
    for (const Measured &waiting : std::exchange(m_waiting, {}))
        (void)m_store->putLoudness(
            waiting.path, {waiting.stamp.size, waiting.stamp.modifiedMs, waiting.loudness});
    return true;
}

std::optional<Loudness> LibraryLoudness::kept(const QString &path, const FileStamp &stamp)
{
    QMutexLocker lock(&m_mutex);
    if (m_file.isEmpty() || !openStore())
        return std::nullopt;
    const Result<std::optional<Loudness>> found =
        m_store->loudness(path, stamp.size, stamp.modifiedMs);
    if (!found.ok()) {
        // Damaged or gone under it: not asked again until the library has seen to it.
        if (m_store->damaged())
            m_store.reset();
        return std::nullopt;
    }
    return found.value();
}

void LibraryLoudness::keep(const QString &path, const FileStamp &stamp, const Loudness &loudness)
{
    QMutexLocker lock(&m_mutex);
    if (m_file.isEmpty())
        return;
    if (!openStore()) {
        if (m_waiting.size() < mostWaiting)
            m_waiting.append({path, stamp, loudness});
        return;
    }
    // A store that cannot be written (a read-only folder, a full disk) keeps nothing: the
    // figures are still shown, and measured again in the next run.
    if (!m_store->putLoudness(path, {stamp.size, stamp.modifiedMs, loudness}).ok() &&
        m_store->damaged())
        m_store.reset();
}
