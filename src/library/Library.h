#pragma once

#include "LibraryStore.h"
#include "files/LoudnessKeeper.h"

#include <QObject>
#include <QStringList>
#include <memory>
#include <utility>

// The library as a window sees it: the folders it holds, the indexing of them, and what went
// wrong, told by signals. Everything that touches the store or the disk runs on a thread of
// its own, one task after another, at a low priority; the window's thread only ever reads
// what the last task reported. The store opens when open() is called (after the window shows),
// never in the constructor.
class Library final : public QObject
{
    Q_OBJECT
public:
    // file: the store's path (defaultStoreFile() in the program, a temporary one in tests); an
    // empty path keeps no library at all (every call does nothing).
    explicit Library(QString file, QObject *parent);
    // Stops the indexing; never waits for a task stuck on a dead disk.
    ~Library() override;

    // $XDG_DATA_HOME/QuillonSonoret/library.sqlite: user data, since it will hold tags.
    static QString defaultStoreFile();

    QString storeFile() const { return m_file; }
    bool isOpen() const { return m_open; }
    // The roots as the last task read them, in path order.
    QList<LibraryRoot> roots() const { return m_roots; }
    bool isIndexing() const { return m_indexing; }
    // The loudness of the files indexed is being measured, or waits for the user to leave the
    // program alone before it goes on: as a pass, it runs until stopIndexing().
    bool isMeasuring() const { return m_measuringOn; }
    // The last problem told, until the next one (or "" after a pass that ended well).
    QString problem() const { return m_problem; }
    // The problems told that no window has shown yet, oldest first, each line once. The window
    // that shows them takes them, so that one met while no library window was open (a store
    // moved aside at start) is seen when one opens, and by that window alone.
    QStringList takeUnshownProblems() { return std::exchange(m_unshown, {}); }

    // Where the windows' measured loudness is kept: in this store, through a connection of
    // its own that follows the store as open() makes or replaces it. None without a library.
    std::shared_ptr<LoudnessKeeper> loudnessKeeper() const;
    // The old loudness cache file, taken in once by the next open(), before the loudness is
    // read from the store (the file is only read, never written).
    void setOldLoudnessCache(const QString &file);

public slots:
    // Opens (or makes, upgrades, replaces) the store: opened(), or problem().
    void open();
    // Adds a folder and indexes it; a folder already in a root is refused with a problem().
    void addRoot(const QString &path);
    // Takes the folder's entries out of the store; never a file from the disk.
    void removeRoot(const QString &path);
    // A pass over every root: new and changed files read, gone ones dropped.
    void startIndexing();
    void stopIndexing();
    // A folder watcher saw a change in folder: it is looked at again, with what is below it.
    void folderChanged(const QString &folder);
    // The user plays or browses: the loudness of the library's files, measured after their
    // headers, waits until they have been left alone for a while, and a file being measured
    // is given up (it is measured later).
    void holdBack();

signals:
    // The store is open; models may query it. Also after it was replaced by a new one.
    void opened();
    void rootsChanged();
    void indexingChanged(bool running);
    // Files looked at so far in this pass, and about how many there are in all.
    void progress(qint64 done, qint64 about);
    // The loudness measuring began, or ended (nothing left, or stopped).
    void measuringChanged(bool running);
    // Files the measuring has been through since it began (measured, or found unmeasurable).
    void measured(qint64 files);
    // A batch was written: results shown may be out of date.
    void entriesChanged();
    // One line for the user: the store cannot be opened or written ("Indexing stopped: the
    // disk is full."), it was moved aside, a folder cannot be added.
    void problemOccurred(const QString &line);
    // Roots not there at the last look: their entries are kept and shown as offline.
    void rootsOffline(const QStringList &paths);

private:
    struct Shared;
    void post(std::function<void(Shared &)> task);
    void queueIndexing(std::optional<QString> folder);
    void startMeasuring();
    void queueMeasuring();
    void endMeasuring();
    void interruptPass();
    void tell(const QString &line);

    QString m_file;
    std::shared_ptr<Shared> m_shared;
    QList<LibraryRoot> m_roots;
    QString m_problem;
    QStringList m_unshown;
    bool m_open = false;
    bool m_opening = false;
    bool m_indexing = false;
    // A whole pass was asked for while one ran.
    bool m_passAgain = false;
    bool m_wantsIndexing = false;
    // A measuring task is on the lane.
    bool m_measuring = false;
    bool m_measuringOn = false;
    // Counts the measurings begun: a task of one stopped before does not end the next one.
    int m_measuringRound = 0;
    qint64 m_measuredFiles = 0;

public:
    // How long the loudness waits after the user last played or browsed.
    static constexpr int quietMs = 5000;
    // Files measured by one task, between which the library's other tasks come.
    static constexpr int measuredAtOnce = 4;
};
