#pragma once

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>

class FileOperations;

// Where a copy or a delete running in a worker stands, and the window's request to stop.
// The worker writes it; the window reads it a few times a second.
class TransferState
{
public:
    std::atomic_bool cancel = false;
    std::atomic_int filesDone = 0;
    std::atomic<qint64> bytesDone = 0;
    int filesTotal = 0;
    qint64 bytesTotal = 0;
    // Called by the worker as it goes: a file begun or done, bytes copied.
    std::function<void()> report;

    void setCurrent(const QString &file)
    {
        {
            QMutexLocker lock(&m_mutex);
            m_current = file;
        }
        if (report)
            report();
    }
    QString current() const
    {
        QMutexLocker lock(&m_mutex);
        return m_current;
    }

private:
    mutable QMutex m_mutex;
    QString m_current;
};

// The question asked before deleting: the file's name for one, no count for several.
QString deleteConfirmation(const QStringList &names);

// Deletes the named files of a directory in list order. A file that cannot be deleted is
// passed over; onFirstFailure runs once, at the first one. Returns the number deleted. With a
// state, it reports each file and stops between two files when asked.
int deleteFiles(FileOperations &files, const QString &directory, const QStringList &names,
                const std::function<void()> &onFirstFailure, TransferState *state = nullptr);

// The destination folder with exactly one "/" at its end.
QString destinationFolder(const QString &chosen);

// Copies (or, with deleteOrigin, moves) the sources given by index to the destination
// folder. A failed copy leaves the source alone; onFirstFailure runs once. Returns the
// indices that are done, in order: copied, and for a move also gone from their place. With a
// state, it reports its progress and stops when asked: the file being copied then leaves no
// trace and keeps its source; a move whose copy is complete still removes its source.
QList<int> copyFiles(FileOperations &files, const QStringList &sources, const QList<int> &indices,
                     const QString &destination, bool deleteOrigin,
                     const std::function<void()> &onFirstFailure, TransferState *state = nullptr);
