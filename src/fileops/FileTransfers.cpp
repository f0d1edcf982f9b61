#include "FileTransfers.h"

#include "browser/PathRule.h"
#include "platform/FileOperations.h"

QString deleteConfirmation(const QStringList &names)
{
    if (names.size() == 1)
        return QStringLiteral("Delete file ") + names.first() + QStringLiteral(" ?");
    return QStringLiteral("Delete files ?");
}

int deleteFiles(FileOperations &files, const QString &directory, const QStringList &names,
                const std::function<void()> &onFirstFailure)
{
    int deleted = 0;
    bool failed = false;
    for (const QString &name : names) {
        if (files.moveToTrash(fullPath(directory, name)).ok) {
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
                     const std::function<void()> &onFirstFailure)
{
    QList<int> copied;
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
        if (!files.copy(source, folder + fileNameOf(source), sync).ok) {
            fail();
            continue;
        }
        // Each source goes right after its own copy is complete and its name in the
        // destination folder is on the disk, never before. A source that stays keeps its
        // place in the play list, as a failed copy does.
        if (deleteOrigin && (!files.syncFolder(folder).ok || !files.removeFile(source).ok)) {
            fail();
            continue;
        }
        copied.append(i);
    }
    return copied;
}
