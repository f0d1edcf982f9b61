#pragma once

#include "Result.h"

#include <QString>
#include <functional>

// The file system's write calls: deleting and copying wave files.
class FileOperations
{
public:
    virtual ~FileOperations() = default;
    // Refuses read-only files and directories; moves the file to the trash, or deletes it
    // for good where its volume has no trash.
    virtual Result<> moveToTrash(const QString &path) = 0;
    // Deletes for good: the source of a move, whose data already lives at its copy.
    virtual Result<> removeFile(const QString &path) = 0;
    // Never replaces an existing file nor copies a file onto itself; writes a temporary file
    // beside the destination and renames it into place, so a failure leaves nothing behind.
    // Keeps the modification time. Durable waits until the copy is on the disk: a move does,
    // before it deletes the source.
    enum class Sync
    {
        Normal,
        Durable
    };
    // Told the bytes copied so far, every few megabytes; false stops the copy, which then
    // leaves nothing behind and reports itself cancelled.
    using CopyProgress = std::function<bool(qint64 copied)>;
    virtual Result<> copy(const QString &source, const QString &destination,
                          Sync sync = Sync::Normal, const CopyProgress &progress = {}) = 0;
    // Makes the names in a folder durable: after a rename into it, a power cut or a pulled
    // stick can no longer lose the new name. Volumes that cannot sync a folder count as done.
    virtual Result<> syncFolder(const QString &folder) = 0;
};

// The real file system, with the freedesktop.org trash.
class SystemFileOperations final : public FileOperations
{
public:
    Result<> moveToTrash(const QString &path) override;
    Result<> removeFile(const QString &path) override;
    Result<> copy(const QString &source, const QString &destination, Sync sync = Sync::Normal,
                  const CopyProgress &progress = {}) override;
    Result<> syncFolder(const QString &folder) override;
};
