#pragma once

#include "LibraryStore.h"

#include <QSet>
#include <QStringList>
#include <atomic>
#include <functional>

// One pass over the library's roots: walks each root's folders, reads the header and chunks
// of every wave file that is new or whose size or modification time changed, and drops from
// the store the files and folders that are gone, in batches of one transaction each. A plain
// job: run() on any thread, and it gives up soon after stop() (between two files).
//
// The walk keeps to each root: symbolic links to folders are not followed (a link to a file
// is indexed under the link's name), a folder on another device (a mount below the root) is
// left out, and a folder met twice (a bind mount) is walked once. A folder that cannot be
// read keeps what the store knew of it; one renamed during the walk is found under its new
// name next time; a file that changed while it was read is read again next time. Hidden
// files and folders (a leading dot) are left out, as the file list leaves them out. Nothing
// is ever written to a folder or file of the user.
//
// A root that cannot be opened (a card not inserted, a share not mounted) keeps its entries
// and is marked offline; so is a root found empty on another device than before (a mount
// point with nothing mounted on it).
class LibraryIndexer final
{
public:
    using InfoReader = std::function<WaveInfo(const QString &)>;
    // Files looked at so far, and about how many there are.
    using Progress = std::function<void(qint64 done, qint64 about)>;

    explicit LibraryIndexer(LibraryStore &store, InfoReader readInfo = readWaveInfo);

    void setProgress(Progress progress) { m_progress = std::move(progress); }
    // Told when the pass marked a root online or offline in the store, as soon as it did.
    void setRootsChanged(std::function<void()> told) { m_rootsChanged = std::move(told); }
    // Files written a transaction; fewer when the walk ends.
    void setBatchSize(int files) { m_batchSize = files; }
    // How often the progress is told at most; 0 tells it at every file (for tests).
    void setProgressEveryMs(qint64 ms) { m_progressEveryMs = ms; }

    struct Outcome
    {
        bool stopped = false;
        // Why the pass ended early ("the disk is full"); empty when it did not.
        QString problem;
        QStringList offline;
        qint64 looked = 0; // files whose stamp was compared
        qint64 read = 0;   // headers read
        qint64 removed = 0;
    };
    // Every root of the store.
    Outcome run();
    // One folder and what is below it, as a watcher reports a change there; nothing when it
    // is in no root.
    Outcome runFolder(const QString &folder);

    // Thread-safe.
    void stop() { m_stop = true; }
    bool stopping() const { return m_stop; }

    // Whether the walk takes a file: a "*.wav" name in any letter case, not hidden.
    static bool isWaveName(const QByteArray &name);
    // Whether a root can be walked: a folder, and not an empty one on another device than the
    // root was on (a mount point with nothing mounted on it).
    static bool isThere(const LibraryRoot &root);

private:
    struct Ahead;
    void walk(const LibraryRoot &root, const QByteArray &start, Outcome &outcome);
    bool flush(LibraryBatch &batch, Outcome &outcome);
    void report(bool now = false);

    LibraryStore &m_store;
    InfoReader m_readInfo;
    Progress m_progress;
    std::function<void()> m_rootsChanged;
    int m_batchSize = 500;
    std::atomic_bool m_stop{false};
    // Files looked at in this pass, and before the root being walked.
    qint64 m_done = 0;
    qint64 m_doneBefore = 0;
    // What the store held of each root when the pass began, in the pass's order, and the
    // place of the root being walked.
    QList<qint64> m_held;
    qsizetype m_walking = 0;
    Ahead *m_ahead = nullptr;
    qint64 m_progressEveryMs;
    qint64 m_lastReportMs = -1;
};
