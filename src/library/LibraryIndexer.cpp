#include "LibraryIndexer.h"

#include "platform/NativeName.h"

#include <QDir>
#include <QElapsedTimer>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How often the progress is told: a line under the results, not a counter to watch.
constexpr qint64 progressEveryMs = 100;
// Folders the count ahead lists for each one the pass walks: enough to be done with a tree
// by the time the pass is a quarter into its folders, little enough that the pass does not
// wait for it.
constexpr int aheadFoldersEach = 4;

QByteArray joined(const QByteArray &folder, const char *name)
{
    QByteArray path = folder;
    if (!path.endsWith('/'))
        path += '/';
    return path + name;
}

bool isBelow(const QByteArray &path, const QByteArray &folder)
{
    if (path == folder)
        return true;
    return folder.endsWith('/') ? path.startsWith(folder) : path.startsWith(folder + '/');
}

qint64 nanosecondsOf(const struct stat &status)
{
    return qint64(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec;
}

// A folder still to walk, and what it was when its parent listed it: a folder replaced by
// another one (or by a link) before it is opened is not walked.
struct Pending
{
    QByteArray path;
    dev_t device = 0;
    ino_t inode = 0;
};

struct Found
{
    QByteArray name;
    qint64 size = 0;
    qint64 modifiedNs = 0;
};

// Closes a listing however the loop over it ends.
struct Listing
{
    DIR *dir = nullptr;
    ~Listing()
    {
        if (dir)
            ::closedir(dir);
    }
};

// Opens a folder its parent listed, to list it in turn: -1 when it cannot be opened (errno
// says why), or when it is no longer the folder that was listed (replaced, by a link too) or
// was walked already (a bind mount), with errno 0 then.
int openListed(const Pending &folder, QSet<QPair<dev_t, ino_t>> &walked, Listing &listing)
{
    const int fd = ::open(folder.path.constData(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat status
    {
    };
    if (::fstat(fd, &status) != 0 || status.st_dev != folder.device ||
        status.st_ino != folder.inode || walked.contains({status.st_dev, status.st_ino}) ||
        !(listing.dir = ::fdopendir(fd))) {
        ::close(fd);
        errno = 0;
        return -1;
    }
    walked.insert({status.st_dev, status.st_ino});
    return fd;
}

} // namespace

bool LibraryIndexer::isThere(const LibraryRoot &root)
{
    const QByteArray path = nativePath(root.path);
    struct stat status
    {
    };
    if (::stat(path.constData(), &status) != 0 || !S_ISDIR(status.st_mode))
        return false;
    if (root.device == 0 || dev_t(root.device) == status.st_dev)
        return true;
    // On another device than before: a mount point with nothing mounted on it is empty.
    Listing listing;
    listing.dir = ::opendir(path.constData());
    if (!listing.dir)
        return false;
    while (const dirent *entry = ::readdir(listing.dir)) {
        const char *name = entry->d_name;
        if (!(name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))))
            return true;
    }
    return false;
}

// A count of the wave files of the roots the store holds only a part of (new ones, emptied
// ones, and those whose first walk was cut short: a card pulled, the program ended), by names
// alone, walked ahead of the pass a few folders at a time, for its "about": listing a folder
// costs far less than reading its files' headers, so the count is done long before the pass.
// What it counts is what the store lacks: the names of a folder beyond the files the store
// holds of it. It keeps to each root as the pass does (no link followed, one device, a folder
// once) but reads no file, and a name it takes may still be no file the pass keeps: an
// estimate.
struct LibraryIndexer::Ahead
{
    struct Folder
    {
        Pending at;
        qsizetype root = 0;
    };
    QList<Folder> pending;
    QSet<QPair<dev_t, ino_t>> walked;
    // By the root's place in the pass: the files the store holds of each folder, and the
    // names counted beyond them.
    QHash<qsizetype, QHash<QByteArray, qint64>> held;
    QHash<qsizetype, qint64> counts;

    // Roots are added in the order of the pass, and counted in it.
    void add(qsizetype root, const QByteArray &path, QHash<QByteArray, qint64> heldOfFolders)
    {
        counts.insert(root, 0);
        held.insert(root, std::move(heldOfFolders));
        struct stat status
        {
        };
        if (::stat(path.constData(), &status) == 0 && S_ISDIR(status.st_mode))
            pending.prepend({{path, status.st_dev, status.st_ino}, root});
    }

    // Lists up to `folders` folders of the roots from `from` on (a root walked already is
    // counted by the pass itself).
    void step(int folders, qsizetype from)
    {
        while (folders > 0 && !pending.isEmpty()) {
            const Folder folder = pending.takeLast();
            if (folder.root < from)
                continue;
            --folders;
            Listing listing;
            const int fd = openListed(folder.at, walked, listing);
            if (fd < 0)
                continue;
            qint64 names = 0;
            while (const dirent *entry = ::readdir(listing.dir)) {
                const char *name = entry->d_name;
                if (name[0] == '.')
                    continue;
                unsigned char type = entry->d_type;
                if (type == DT_UNKNOWN || type == DT_DIR) {
                    struct stat found
                    {
                    };
                    if (::fstatat(fd, name, &found, AT_SYMLINK_NOFOLLOW) != 0)
                        continue;
                    if (S_ISDIR(found.st_mode)) {
                        if (found.st_dev == folder.at.device)
                            pending.append(
                                {{joined(folder.at.path, name), found.st_dev, found.st_ino},
                                 folder.root});
                        continue;
                    }
                    if (!S_ISREG(found.st_mode) && !S_ISLNK(found.st_mode))
                        continue;
                    type = S_ISREG(found.st_mode) ? DT_REG : DT_LNK;
                }
                if ((type == DT_REG || type == DT_LNK) && isWaveName(QByteArray(name)))
                    ++names;
            }
            const qint64 known = held.value(folder.root).value(folder.at.path);
            counts[folder.root] += std::max<qint64>(0, names - known);
        }
    }
};

LibraryIndexer::LibraryIndexer(LibraryStore &store, InfoReader readInfo)
    : m_store(store), m_readInfo(std::move(readInfo)), m_progressEveryMs(progressEveryMs)
{
}

bool LibraryIndexer::isWaveName(const QByteArray &name)
{
    return name.size() > 4 && !name.startsWith('.') &&
           name.right(4).compare(".wav", Qt::CaseInsensitive) == 0;
}

void LibraryIndexer::report(bool now)
{
    if (!m_progress)
        return;
    static thread_local QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    const qint64 at = clock.elapsed();
    if (!now && m_lastReportMs >= 0 && at - m_lastReportMs < m_progressEveryMs)
        return;
    m_lastReportMs = at;
    // The roots walked count what was met of them; the one being walked what the store held
    // of it and what the walk ahead counted beyond that, or what was met of it, whichever is
    // more; and the roots still to walk what the store holds of them and what the walk ahead
    // counted beyond that (nothing for a root walked to its end before).
    const auto estimate = [this](qsizetype root) {
        return m_held.at(root) + (m_ahead ? m_ahead->counts.value(root) : 0);
    };
    qint64 about = m_doneBefore;
    if (m_walking < m_held.size())
        about += std::max(estimate(m_walking), m_done - m_doneBefore);
    for (qsizetype root = m_walking + 1; root < m_held.size(); ++root)
        about += estimate(root);
    m_progress(m_done, std::max(about, m_done));
}

bool LibraryIndexer::flush(LibraryBatch &batch, Outcome &outcome)
{
    if (batch.isEmpty())
        return true;
    const Result<void> written = m_store.write(batch);
    if (!written.ok()) {
        outcome.problem = written.error();
        m_stop = true;
        return false;
    }
    outcome.removed += batch.goneFiles.size();
    batch.entries.clear();
    batch.goneFiles.clear();
    batch.goneFolders.clear();
    return true;
}

LibraryIndexer::Outcome LibraryIndexer::run()
{
    Outcome outcome;
    const Result<QList<LibraryRoot>> roots = m_store.roots();
    if (!roots.ok()) {
        outcome.problem = roots.error();
        return outcome;
    }
    // A root that is back (a card put in again) is shown as online at once, not after the
    // roots before it were walked.
    bool cameBack = false;
    for (const LibraryRoot &root : roots.value()) {
        if (root.online || !isThere(root))
            continue;
        if (Result<void> marked = m_store.setRootSeen(root.id, true, 0); marked.ok())
            cameBack = true;
    }
    if (cameBack && m_rootsChanged)
        m_rootsChanged();
    // The estimate is known before the walk: what the last pass left in the store of each
    // root, so that "about" does not grow with the files looked at; what a root not walked to
    // its end yet holds beyond that is counted by a walk ahead.
    m_held.clear();
    Ahead ahead;
    for (const LibraryRoot &root : roots.value()) {
        const Result<qint64> count = m_store.fileCount(root.id);
        m_held.append(count.ok() ? count.value() : 0);
        // One walked before and emptied since is counted again too: its files may be back.
        if ((root.walked && m_held.last() > 0) || !m_progress)
            continue;
        QHash<QByteArray, qint64> held;
        if (m_held.last() > 0)
            if (Result<QHash<QByteArray, qint64>> counts = m_store.folderFileCounts(root.id);
                counts.ok())
                held = std::move(counts.value());
        ahead.add(m_held.size() - 1, nativePath(root.path), std::move(held));
    }
    m_ahead = &ahead;
    // A first look, so that the first line already says something.
    ahead.step(aheadFoldersEach, 0);
    m_done = 0;
    m_doneBefore = 0;
    m_walking = 0;
    report(true);
    for (; m_walking < roots->size() && !m_stop; ++m_walking) {
        const LibraryRoot &root = roots->at(m_walking);
        walk(root, nativePath(root.path), outcome);
        // Walked: it counts what was met of it (nothing when it was offline).
        m_doneBefore = m_done;
    }
    outcome.stopped = m_stop && outcome.problem.isEmpty();
    report(true);
    m_ahead = nullptr;
    return outcome;
}

LibraryIndexer::Outcome LibraryIndexer::runFolder(const QString &folder)
{
    Outcome outcome;
    const Result<QList<LibraryRoot>> roots = m_store.roots();
    if (!roots.ok()) {
        outcome.problem = roots.error();
        return outcome;
    }
    // One folder: about as many as looked at.
    m_held.clear();
    m_done = 0;
    m_doneBefore = 0;
    m_walking = 0;
    const QByteArray bytes = nativePath(QDir::cleanPath(folder));
    for (const LibraryRoot &root : roots.value()) {
        if (isBelow(bytes, nativePath(root.path))) {
            walk(root, bytes, outcome);
            break;
        }
    }
    outcome.stopped = m_stop && outcome.problem.isEmpty();
    return outcome;
}

void LibraryIndexer::walk(const LibraryRoot &root, const QByteArray &start, Outcome &outcome)
{
    const QByteArray rootPath = nativePath(root.path);
    const auto offline = [&] {
        outcome.offline.append(root.path);
        if (Result<void> marked = m_store.setRootSeen(root.id, false, 0); !marked.ok())
            outcome.problem = marked.error();
        else if (m_rootsChanged)
            m_rootsChanged();
    };
    struct stat rootStatus
    {
    };
    if (::stat(rootPath.constData(), &rootStatus) != 0 || !S_ISDIR(rootStatus.st_mode)) {
        offline();
        return;
    }
    const dev_t device = rootStatus.st_dev;
    // Still the folder the walk began in: one moved away (a card pulled) while it was walked
    // leaves its folders unopenable, which is no sign that they are gone.
    const auto stillThere = [&] {
        struct stat now
        {
        };
        return ::stat(rootPath.constData(), &now) == 0 && now.st_dev == rootStatus.st_dev &&
               now.st_ino == rootStatus.st_ino;
    };
    Result<QHash<QByteArray, qint64>> stored = m_store.folders(root.id);
    if (!stored.ok()) {
        outcome.problem = stored.error();
        return;
    }
    QHash<QByteArray, qint64> known;
    for (auto it = stored->cbegin(); it != stored->cend(); ++it)
        if (isBelow(it.key(), start))
            known.insert(it.key(), it.value());

    struct stat startStatus
    {
    };
    // The root is where the user pointed, a link or not; below it nothing is followed.
    if (::stat(start.constData(), &startStatus) != 0 || !S_ISDIR(startStatus.st_mode) ||
        startStatus.st_dev != device) {
        if (start == rootPath)
            offline();
        return;
    }
    QList<Pending> pending{{start, startStatus.st_dev, startStatus.st_ino}};
    QSet<QByteArray> visited;
    // Folders that could not be read: what the store knows of them and below them stays.
    QList<QByteArray> unread;
    QSet<QPair<dev_t, ino_t>> walked;
    LibraryBatch batch;
    batch.root = root.id;
    bool startSeen = false;

    while (!pending.isEmpty() && !m_stop) {
        const Pending folder = pending.takeLast();
        Listing listing;
        const int fd = openListed(folder, walked, listing);
        if (fd < 0) {
            // Gone, replaced (by a link too) or walked already since it was listed: as if it
            // was never there, unless the whole root went.
            if (errno != 0 && errno != ENOENT && errno != ENOTDIR && errno != ELOOP)
                unread.append(folder.path);
            else if (errno != 0 && !stillThere()) {
                (void)flush(batch, outcome);
                offline();
                return;
            }
            continue;
        }
        QList<Found> files;
        bool anyEntry = false;
        bool listedWhole = true;
        for (;;) {
            // Only readdir's own fault counts: a link that leads nowhere leaves errno set too.
            errno = 0;
            const dirent *entry = ::readdir(listing.dir);
            if (!entry) {
                listedWhole = errno == 0;
                break;
            }
            const char *name = entry->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                continue;
            anyEntry = true;
            if (name[0] == '.')
                continue;
            unsigned char type = entry->d_type;
            struct stat found
            {
            };
            bool statted = false;
            if (type == DT_UNKNOWN || type == DT_DIR) {
                if (::fstatat(fd, name, &found, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                statted = true;
                type = S_ISDIR(found.st_mode)   ? DT_DIR
                       : S_ISREG(found.st_mode) ? DT_REG
                       : S_ISLNK(found.st_mode) ? DT_LNK
                                                : DT_UNKNOWN;
            }
            if (type == DT_DIR) {
                if (found.st_dev == device)
                    pending.append({joined(folder.path, name), found.st_dev, found.st_ino});
                continue;
            }
            if (type != DT_REG && type != DT_LNK)
                continue;
            const QByteArray fileName(name);
            if (!isWaveName(fileName))
                continue;
            // A link to a file counts as the file; a link to a folder, a loop or nothing
            // does not.
            if ((!statted || type == DT_LNK) && ::fstatat(fd, name, &found, 0) != 0)
                continue;
            if (!S_ISREG(found.st_mode))
                continue;
            files.append({fileName, qint64(found.st_size), nanosecondsOf(found)});
        }
        // Folders listed ahead while this one's files are read, so that the count ahead stays
        // ahead of the pass.
        if (m_ahead)
            m_ahead->step(aheadFoldersEach, m_walking);
        if (folder.path == start) {
            startSeen = true;
            // A mount point with nothing mounted: an empty folder on another device than the
            // one the root was on, where the store knows files.
            if (start == rootPath && !anyEntry && !known.isEmpty() && root.device != 0 &&
                dev_t(root.device) != device) {
                offline();
                return;
            }
        }
        if (!listedWhole) {
            unread.append(folder.path);
            continue;
        }
        visited.insert(folder.path);

        QHash<QByteArray, KnownFile> storedFiles;
        if (known.contains(folder.path)) {
            Result<QHash<QByteArray, KnownFile>> filesKnown = m_store.files(folder.path);
            if (!filesKnown.ok()) {
                outcome.problem = filesKnown.error();
                m_stop = true;
                break;
            }
            storedFiles = std::move(filesKnown.value());
        }
        bool whole = true;
        for (const Found &file : std::as_const(files)) {
            if (m_stop) {
                whole = false;
                break;
            }
            ++m_done;
            ++outcome.looked;
            report();
            const auto same = storedFiles.find(file.name);
            if (same != storedFiles.end()) {
                const bool unchanged =
                    same->size == file.size && same->modifiedNs == file.modifiedNs;
                storedFiles.erase(same);
                if (unchanged)
                    continue;
            }
            const QByteArray path = joined(folder.path, file.name.constData());
            LibraryEntry entry;
            entry.folder = folder.path;
            entry.name = file.name;
            entry.size = file.size;
            entry.modifiedNs = file.modifiedNs;
            entry.info = m_readInfo(pathFromNative(path));
            ++outcome.read;
            // Rewritten while it was read: what was read may be half of each; the next pass
            // reads it again.
            struct stat after
            {
            };
            if (::fstatat(fd, file.name.constData(), &after, 0) != 0 ||
                qint64(after.st_size) != file.size || nanosecondsOf(after) != file.modifiedNs)
                entry.modifiedNs = 0;
            batch.entries.append(std::move(entry));
            if (batch.entries.size() + batch.goneFiles.size() >= m_batchSize &&
                !flush(batch, outcome))
                return;
        }
        if (whole)
            for (const KnownFile &gone : std::as_const(storedFiles))
                batch.goneFiles.append(gone.id);
        if (batch.entries.size() + batch.goneFiles.size() >= m_batchSize && !flush(batch, outcome))
            return;
    }
    if (!m_stop && startSeen && !stillThere()) {
        (void)flush(batch, outcome);
        offline();
        return;
    }
    if (!m_stop && startSeen) {
        // What is known below start and was not met is gone, but under a folder that could not
        // be read.
        for (auto it = known.cbegin(); it != known.cend(); ++it) {
            if (visited.contains(it.key()))
                continue;
            const bool keep = std::any_of(unread.cbegin(), unread.cend(), [&](const QByteArray &u) {
                return isBelow(it.key(), u);
            });
            if (!keep)
                batch.goneFolders.append(it.key());
        }
    }
    if (!flush(batch, outcome))
        return;
    if (startSeen && start == rootPath && !m_stop) {
        if (Result<void> marked = m_store.setRootSeen(root.id, true, qint64(device)); !marked.ok())
            outcome.problem = marked.error();
        else if (!root.walked)
            if (Result<void> walked = m_store.setRootWalked(root.id); !walked.ok())
                outcome.problem = walked.error();
    }
}
