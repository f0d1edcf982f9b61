#include "FileOperations.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr qint64 copyChunk = 4 * 1024 * 1024;

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A file the user could not write counts as read-only, as the owner's write bit does
// even for root, whose access checks always pass.
FileResult checkDeletable(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return FileResult::failure(systemText(ENOENT));
    if (info.isDir() && !info.isSymLink())
        return FileResult::failure(systemText(EISDIR));
    if (!info.isSymLink() &&
        (!(info.permissions() & QFileDevice::WriteOwner) || !info.isWritable()))
        return FileResult::failure(systemText(EACCES));
    return {};
}

} // namespace

FileResult SystemFileOperations::moveToTrash(const QString &path)
{
    if (FileResult check = checkDeletable(path); !check.ok)
        return check;
    if (QFile::moveToTrash(path))
        return {};
    // No trash on this volume (or none can be made): delete for good, as asked.
    return removeFile(path);
}

FileResult SystemFileOperations::removeFile(const QString &path)
{
    if (FileResult check = checkDeletable(path); !check.ok)
        return check;
    if (::unlink(QFile::encodeName(path).constData()) != 0)
        return FileResult::failure(systemText(errno));
    return {};
}

FileResult SystemFileOperations::copy(const QString &source, const QString &destination)
{
    const QFileInfo sourceInfo(source);
    if (!sourceInfo.isFile())
        return FileResult::failure(systemText(ENOENT));
    const QFileInfo destinationInfo(destination);
    if (destinationInfo.exists() || destinationInfo.isSymLink())
        return FileResult::failure(systemText(EEXIST));

    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return FileResult::failure(in.errorString());

    QTemporaryFile out(destinationInfo.absolutePath() + QStringLiteral("/.") +
                       destinationInfo.fileName() + QStringLiteral(".XXXXXX.part"));
    if (!out.open())
        return FileResult::failure(out.errorString());

    std::vector<char> buffer(copyChunk);
    for (;;) {
        const qint64 got = in.read(buffer.data(), copyChunk);
        if (got < 0)
            return FileResult::failure(in.errorString());
        if (got == 0)
            break;
        if (out.write(buffer.data(), got) != got)
            return FileResult::failure(out.errorString());
    }
    if (!out.flush() || ::fsync(out.handle()) != 0)
        return FileResult::failure(systemText(errno ? errno : EIO));
    out.setPermissions(sourceInfo.permissions());
    out.setFileTime(sourceInfo.lastModified(), QFileDevice::FileModificationTime);
    out.close();
    // QFile::rename never replaces an existing file, so a file that appeared meanwhile is safe.
    if (!QFile::rename(out.fileName(), destination))
        return FileResult::failure(systemText(EEXIST));
    out.setAutoRemove(false);
    return {};
}
