#include "Library.h"

#include "LibraryIndexer.h"
#include "LibraryLoudness.h"
#include "SqliteLibraryStore.h"
#include "files/Loudness.h"
#include "platform/NativeName.h"
#include "platform/WorkPool.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QMutex>
#include <QSemaphore>
#include <QStandardPaths>
#include <QTimer>
#include <deque>

namespace {

// Results shown are refreshed at most this often while a pass writes batches.
constexpr qint64 entriesChangedEveryMs = 2000;
// How long the end of the program waits for the store's connections to close (the last one
// takes the write-ahead log into the store and removes it): a pass told to stop ends within
// a file, but one stuck on a dead disk does not keep the program from ending.
constexpr int closeWaitMs = 2000;

// The library's tasks, one after another in the order asked (the store is written in that
// order, by one connection), in the scheduler's background lane on its whole-file threads,
// which run at a lowered priority: the library gives way to everything the user does. Never
// waited for at exit, like the rest of the scheduler's work.
class LibraryLane
{
public:
    void start(std::function<void()> task)
    {
        {
            QMutexLocker lock(&m_mutex);
            m_tasks.push_back(std::move(task));
            if (m_draining)
                return;
            m_draining = true;
        }
        workPool().start(
            Lane::background, [this] { drain(); }, Weight::whole);
    }

private:
    void drain()
    {
        for (;;) {
            std::function<void()> task;
            {
                QMutexLocker lock(&m_mutex);
                if (m_tasks.empty()) {
                    m_draining = false;
                    return;
                }
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
            }
            task();
        }
    }
    QMutex m_mutex;
    std::deque<std::function<void()>> m_tasks;
    bool m_draining = false;
};

LibraryLane &libraryLane()
{
    static LibraryLane *const lane = new LibraryLane;
    return *lane;
}

} // namespace

struct Library::Shared
{
    QString file;
    QString oldLoudnessCache;
    std::shared_ptr<LibraryLoudness> keeper;
    // On the lane only.
    std::unique_ptr<SqliteLibraryStore> store;

    QMutex mutex;
    // Under the mutex: who hears of the tasks, and the pass running, to stop it.
    Library *owner = nullptr;
    LibraryIndexer *indexer = nullptr;
    // Counts the stops asked for: a pass queued before the last one does not begin.
    std::atomic<int> stops{0};
    // Until when (monotonic ms) the loudness waits: the user plays or browses.
    std::atomic<qint64> quietUntil{0};
    // The last file looked at by the loudness pass; it goes on after it.
    qint64 measuredUpTo = 0;
    // When the searches' index was last read (on the lane only).
    QElapsedTimer searchIndexRead;

    // Reads the index the searches answer from as one types (seconds for a million files, so
    // here, off the window's thread, between the other tasks). While loudness figures come in
    // a few at a time it is read again only now and then: until then the statements answer.
    void readSearchIndex(bool unlessRecent)
    {
        constexpr qint64 rereadAfterMs = 60000;
        if (!store || (unlessRecent && searchIndexRead.isValid() &&
                       !searchIndexRead.hasExpired(rereadAfterMs)))
            return;
        (void)store->loadSearchIndex();
        searchIndexRead.start();
    }

    bool hasOwner()
    {
        QMutexLocker lock(&mutex);
        return owner != nullptr;
    }

    // Runs f on the owner's thread, if the owner still lives then.
    void toOwner(std::function<void(Library &)> f)
    {
        QMutexLocker lock(&mutex);
        if (!owner)
            return;
        QMetaObject::invokeMethod(
            owner, [owner = owner, f = std::move(f)] { f(*owner); }, Qt::QueuedConnection);
    }

    void tellRoots()
    {
        Result<QList<LibraryRoot>> roots = store->roots();
        if (!roots.ok())
            return;
        toOwner([roots = roots.value()](Library &library) {
            library.m_roots = roots;
            emit library.rootsChanged();
        });
    }
};

Library::Library(QString file, QObject *parent)
    : QObject(parent), m_file(std::move(file)), m_shared(std::make_shared<Shared>())
{
    m_shared->file = m_file;
    m_shared->owner = this;
    if (!m_file.isEmpty())
        m_shared->keeper = std::make_shared<LibraryLoudness>(m_file);
}

std::shared_ptr<LoudnessKeeper> Library::loudnessKeeper() const
{
    return m_shared->keeper;
}

void Library::setOldLoudnessCache(const QString &file)
{
    // Read by the lane's open task only, which is posted after this.
    m_shared->oldLoudnessCache = file;
}

Library::~Library()
{
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->owner = nullptr;
        // A measurement under way gives up rather than outlive the window by minutes.
        ++m_shared->stops;
        if (m_shared->indexer)
            m_shared->indexer->stop();
    }
    if (m_file.isEmpty())
        return;
    // The connections close on the lane, after the task under way: a connection left open
    // at exit leaves the store's log and shared memory file behind.
    auto closed = std::make_shared<QSemaphore>();
    libraryLane().start([shared = m_shared, closed] {
        shared->store.reset();
        if (shared->keeper)
            shared->keeper->close();
        closed->release();
    });
    (void)closed->tryAcquire(1, closeWaitMs);
}

QString Library::defaultStoreFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/QuillonSonoret/library.sqlite");
}

void Library::post(std::function<void(Shared &)> task)
{
    libraryLane().start([shared = m_shared, task = std::move(task)] {
        {
            QMutexLocker lock(&shared->mutex);
            if (!shared->owner)
                return;
        }
        task(*shared);
    });
}

void Library::tell(const QString &line)
{
    m_problem = line;
    // The same line again (a pass over a full disk every minute) is not another thing to read.
    if (!m_unshown.contains(line))
        m_unshown.append(line);
    emit problemOccurred(line);
}

void Library::open()
{
    if (m_file.isEmpty() || m_open || m_opening)
        return;
    m_opening = true;
    post([](Shared &shared) {
        shared.store = std::make_unique<SqliteLibraryStore>(shared.file);
        const Result<LibraryStore::Opening> opened = shared.store->open();
        if (!opened.ok()) {
            shared.store.reset();
            shared.toOwner([why = opened.error()](Library &library) {
                library.m_opening = false;
                library.tell(QStringLiteral("The library cannot be opened: %1.").arg(why));
            });
            return;
        }
        if (opened.value() == LibraryStore::Opening::Replaced) {
            shared.toOwner(
                [why = shared.store->whyMoved(), to = shared.store->movedTo()](Library &library) {
                    library.tell(QStringLiteral("The library store could not be used (%1): it was "
                                                "moved to %2 and a new one was made.")
                                     .arg(why, QDir::toNativeSeparators(to)));
                });
        }
        // Taken in before the windows read loudness from the store, once for good: the store
        // marks it done, and nothing writes the old file any more.
        bool imported = false;
        if (!shared.oldLoudnessCache.isEmpty()) {
            const Result<int> taken = shared.store->importLoudnessCache(shared.oldLoudnessCache);
            imported = taken.ok() && taken.value() > 0;
            if (!taken.ok())
                shared.toOwner([why = taken.error()](Library &library) {
                    library.tell(QStringLiteral("The measured loudness could not be taken in: %1.")
                                     .arg(why));
                });
        }
        shared.keeper->storeChanged();
        Result<QList<LibraryRoot>> roots = shared.store->roots();
        shared.toOwner([roots = roots.ok() ? roots.value() : QList<LibraryRoot>(),
                        imported](Library &library) {
            library.m_opening = false;
            library.m_open = true;
            library.m_roots = roots;
            emit library.opened();
            emit library.rootsChanged();
            if (imported)
                emit library.entriesChanged();
            if (library.m_wantsIndexing)
                library.queueIndexing(std::nullopt);
        });
        shared.readSearchIndex(false);
    });
}

void Library::addRoot(const QString &path)
{
    if (m_file.isEmpty())
        return;
    if (!m_open && !m_opening)
        open();
    post([path](Shared &shared) {
        if (!shared.store)
            return;
        const std::optional<struct stat> status = statPath(path);
        if (!status || !S_ISDIR(status->st_mode)) {
            shared.toOwner([path](Library &library) {
                library.tell(QStringLiteral("%1 cannot be added to the library: it is not a "
                                            "folder that can be opened.")
                                 .arg(shownName(QDir::toNativeSeparators(path))));
            });
            return;
        }
        const Result<LibraryRoot> added = shared.store->addRoot(path, qint64(status->st_dev));
        if (!added.ok()) {
            shared.toOwner([why = added.error(), path](Library &library) {
                library.tell(QStringLiteral("%1 cannot be added to the library: %2.")
                                 .arg(shownName(QDir::toNativeSeparators(path)), why));
            });
            return;
        }
        shared.tellRoots();
    });
    // A whole pass, for its progress line; the other roots cost a look at their stamps.
    startIndexing();
}

void Library::removeRoot(const QString &path)
{
    if (!m_open && !m_opening)
        return;
    // A pass over that root would only write what is about to go; it starts again after.
    interruptPass();
    post([path](Shared &shared) {
        if (!shared.store)
            return;
        if (const Result<void> removed = shared.store->removeRoot(path); !removed.ok()) {
            shared.toOwner([why = removed.error()](Library &library) {
                library.tell(QStringLiteral("The folder cannot be taken out of the library: "
                                            "%1.")
                                 .arg(why));
            });
            return;
        }
        shared.tellRoots();
        shared.toOwner([](Library &library) { emit library.entriesChanged(); });
        shared.readSearchIndex(false);
    });
}

void Library::startIndexing()
{
    m_wantsIndexing = true;
    if (m_open)
        queueIndexing(std::nullopt);
    else
        open();
}

void Library::stopIndexing()
{
    m_wantsIndexing = false;
    m_passAgain = false;
    interruptPass();
    // Also while it waits for the user to leave the program alone: it does not go on then.
    endMeasuring();
}

void Library::interruptPass()
{
    ++m_shared->stops;
    QMutexLocker lock(&m_shared->mutex);
    if (m_shared->indexer)
        m_shared->indexer->stop();
}

void Library::folderChanged(const QString &folder)
{
    if (!m_open)
        return;
    // A root that was offline and changes has come back: a whole pass takes it in, with its
    // line, rather than a silent look at one folder.
    const QString path = QDir::cleanPath(folder);
    for (const LibraryRoot &root : std::as_const(m_roots)) {
        if (!root.online &&
            (path == root.path ||
             path.startsWith(root.path.endsWith(u'/') ? root.path : root.path + u'/'))) {
            startIndexing();
            return;
        }
    }
    queueIndexing(folder);
}

void Library::queueIndexing(std::optional<QString> folder)
{
    if (m_file.isEmpty())
        return;
    const bool wholePass = !folder;
    if (wholePass) {
        // Asked for while one runs (a folder added as the pass begun when Find opened went
        // through the roots): another follows it, so that nothing added meanwhile waits for the
        // next pass, a minute later.
        if (m_indexing) {
            m_passAgain = true;
            return;
        }
        m_indexing = true;
        emit indexingChanged(true);
    }
    const int generation = m_shared->stops;
    post([folder, wholePass, generation](Shared &shared) {
        // A pass looks again at files that could not be measured before.
        if (wholePass)
            shared.measuredUpTo = 0;
        LibraryIndexer::Outcome outcome;
        QString problem;
        bool replacedStore = false;
        std::optional<LibraryIndexer> indexer;
        if (shared.store) {
            indexer.emplace(*shared.store);
            QMutexLocker lock(&shared.mutex);
            // Stopped while it waited: it does not begin.
            if (shared.stops != generation)
                indexer.reset();
            else
                shared.indexer = &*indexer;
        }
        if (indexer) {
            // A root gone or back is shown so at once, its hits greyed or not, rather than
            // when the pass ends, minutes later for a large library.
            indexer->setRootsChanged([&shared] {
                shared.tellRoots();
                shared.toOwner([](Library &library) { emit library.entriesChanged(); });
            });
            QElapsedTimer sinceChange;
            sinceChange.start();
            if (wholePass) {
                indexer->setProgress([&shared, &sinceChange](qint64 done, qint64 about) {
                    const bool changed = sinceChange.elapsed() >= entriesChangedEveryMs;
                    if (changed)
                        sinceChange.restart();
                    shared.toOwner([done, about, changed](Library &library) {
                        emit library.progress(done, about);
                        if (changed)
                            emit library.entriesChanged();
                    });
                });
            }
            outcome = folder ? indexer->runFolder(*folder) : indexer->run();
            {
                QMutexLocker lock(&shared.mutex);
                shared.indexer = nullptr;
            }
            // The log the pass wrote goes into the store, rather than stay at its size.
            if (wholePass)
                (void)shared.store->checkpoint();
            if (!outcome.problem.isEmpty()) {
                problem = QStringLiteral("Indexing stopped: %1.").arg(outcome.problem);
                if (shared.store->damaged()) {
                    const Result<void> replaced = shared.store->replace(outcome.problem);
                    replacedStore = replaced.ok();
                    shared.keeper->storeChanged();
                    problem = replaced.ok()
                                  ? QStringLiteral("The library store was damaged: it was moved "
                                                   "to %1 and is being made again.")
                                        .arg(QDir::toNativeSeparators(shared.store->movedTo()))
                                  : QStringLiteral("The library store is damaged: %1.")
                                        .arg(replaced.error());
                    if (!replaced.ok())
                        shared.store.reset();
                }
            }
            if (shared.store)
                shared.tellRoots();
        } else {
            outcome.stopped = true;
        }
        shared.toOwner([outcome, problem, wholePass, replacedStore](Library &library) {
            if (wholePass) {
                library.m_indexing = false;
                emit library.indexingChanged(false);
            }
            if (!problem.isEmpty())
                library.tell(problem);
            else if (wholePass && !outcome.stopped)
                library.m_problem.clear();
            if (!outcome.offline.isEmpty())
                emit library.rootsOffline(outcome.offline);
            emit library.entriesChanged();
            if (replacedStore)
                emit library.opened();
            // A pass ended well is done with; one cut short by a change of the roots (not
            // by the user, nor by a fault) goes on anew.
            if (wholePass && (!outcome.stopped || !problem.isEmpty()))
                library.m_wantsIndexing =
                    replacedStore || (problem.isEmpty() && library.m_passAgain);
            if (wholePass)
                library.m_passAgain = false;
            if (library.m_wantsIndexing && library.m_open)
                library.queueIndexing(std::nullopt);
            else if (wholePass && !outcome.stopped && problem.isEmpty())
                library.startMeasuring();
        });
        // Not as the program ends: seconds for a large library that nothing would read.
        if ((wholePass || !outcome.stopped) && shared.hasOwner())
            shared.readSearchIndex(false);
    });
}

namespace {
qint64 nowMs()
{
    return QDeadlineTimer::current().deadline();
}
} // namespace

void Library::holdBack()
{
    m_shared->quietUntil = nowMs() + quietMs;
}

void Library::startMeasuring()
{
    if (m_file.isEmpty() || !m_open)
        return;
    if (!m_measuringOn) {
        m_measuringOn = true;
        ++m_measuringRound;
        m_measuredFiles = 0;
        emit measuringChanged(true);
    }
    queueMeasuring();
}

void Library::endMeasuring()
{
    if (!m_measuringOn)
        return;
    m_measuringOn = false;
    emit measuringChanged(false);
}

void Library::queueMeasuring()
{
    if (m_file.isEmpty() || !m_open || m_measuring || !m_measuringOn)
        return;
    if (const qint64 wait = m_shared->quietUntil - nowMs(); wait > 0) {
        QTimer::singleShot(int(wait) + 50, this, &Library::queueMeasuring);
        return;
    }
    m_measuring = true;
    const int generation = m_shared->stops;
    const int round = m_measuringRound;
    post([generation, round](Shared &shared) {
        bool more = false;
        bool changed = false;
        qint64 looked = 0;
        const auto quiet = [&shared, generation] {
            return shared.stops == generation && nowMs() >= shared.quietUntil;
        };
        // The user played or browsed since this was asked for: it waits, and goes on after.
        if (shared.store && !quiet())
            more = true;
        else if (shared.store) {
            const Result<QList<UnmeasuredFile>> files =
                shared.store->unmeasured(shared.measuredUpTo, measuredAtOnce);
            if (files.ok()) {
                more = files.value().size() == measuredAtOnce;
                for (const UnmeasuredFile &file : files.value()) {
                    if (!quiet()) {
                        more = true;
                        break;
                    }
                    const std::optional<Loudness> measured =
                        measureLoudness(file.path, [&quiet] { return !quiet(); });
                    if (!quiet()) {
                        more = true;
                        break;
                    }
                    // One that cannot be measured is passed over until the next pass.
                    shared.measuredUpTo = file.id;
                    ++looked;
                    if (measured &&
                        shared.store
                            ->putLoudness(file.path, {file.size, file.modifiedMs, *measured})
                            .ok())
                        changed = true;
                }
            }
        }
        // Stopped (Stop, a root removed): the next pass takes it up again.
        const bool stopped = shared.stops != generation;
        shared.toOwner([more, changed, stopped, looked, round](Library &library) {
            library.m_measuring = false;
            const bool current = round == library.m_measuringRound;
            if (looked > 0 && current && library.m_measuringOn) {
                library.m_measuredFiles += looked;
                emit library.measured(library.m_measuredFiles);
            }
            if (changed)
                emit library.entriesChanged();
            // One begun while this task ran (stopped, then a pass ended) goes on instead.
            if ((more && !stopped) || !current)
                library.queueMeasuring();
            else
                library.endMeasuring();
        });
        if (changed)
            shared.readSearchIndex(more);
    });
}
