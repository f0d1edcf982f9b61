#include "FileTransfers.h"

#include "platform/FileOperations.h"
#include "platform/NativeName.h"
#include "platform/PathRule.h"

namespace {
qint64 sizeOf(const QString &path)
{
    const std::optional<struct stat> status = statPath(path);
    return status ? qint64(status->st_size) : 0;
}
} // namespace

QString deleteConfirmation(const QStringList &names)
{
    if (names.size() == 1)
        return QStringLiteral("Delete file ") + names.first() + QStringLiteral(" ?");
    return QStringLiteral("Delete files ?");
}

int deleteFiles(FileOperations &files, const QString &directory, const QStringList &names,
                const std::function<void()> &onFirstFailure, TransferState *state)
{
    int deleted = 0;
    bool failed = false;
    if (state)
        state->filesTotal = int(names.size());
    for (const QString &name : names) {
        if (state) {
            if (state->cancel)
                break;
            state->setCurrent(name);
        }
        const bool ok = files.moveToTrash(fullPath(directory, name)).ok();
        if (state)
            ++state->filesDone;
        if (ok) {
            ++deleted;
        } else if (!failed) {
            failed = true;
            onFirstFailure();
        }
    }
    return deleted;
}

QString destinationFolder(const QString &chosen)
{
    return withTrailingSlash(chosen);
}

QList<int> copyFiles(FileOperations &files, const QStringList &sources, const QList<int> &indices,
                     const QString &destination, bool deleteOrigin,
                     const std::function<void()> &onFirstFailure, TransferState *state)
{
    QList<int> copied;
    qint64 before = 0; // bytes of the files already through
    if (state) {
        state->filesTotal = int(indices.size());
        for (int i : indices)
            state->bytesTotal += sizeOf(sources.at(i));
    }
    const auto progress = [state, &before](qint64 copiedOfFile) {
        state->bytesDone = before + copiedOfFile;
        if (state->report)
            state->report();
        return !state->cancel;
    };
    bool failed = false;
    const auto fail = [&] {
        if (!failed) {
            failed = true;
            onFirstFailure();
        }
    };
    const QString folder = destinationFolder(destination);
    for (int i : indices) {
        const QString &source = sources.at(i);
        const auto sync =
            deleteOrigin ? FileOperations::Sync::Durable : FileOperations::Sync::Normal;
        if (state) {
            if (state->cancel)
                break;
            state->setCurrent(fileNameOf(source));
        }
        const Result<> result = files.copy(source, folder + fileNameOf(source), sync,
                                             state ? FileOperations::CopyProgress(progress)
                                                   : FileOperations::CopyProgress());
        if (state) {
            before += sizeOf(source);
            state->bytesDone = before;
            ++state->filesDone;
        }
        if (result.cancelled())
            break;
        if (!result.ok()) {
            fail();
            continue;
        }
        // Each source goes right after its own copy is complete and its name in the
        // destination folder is on the disk, never before. A source that stays keeps its
        // place in the play list, as a failed copy does.
        if (deleteOrigin && (!files.syncFolder(folder).ok() || !files.removeFile(source).ok())) {
            fail();
            continue;
        }
        copied.append(i);
    }
    return copied;
}
