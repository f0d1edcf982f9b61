#include "FileOperations.h"

#include "RegularFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStandardPaths>
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
    // Qt 6.4 does not make the parents of the home trash; when they are missing it "trashes"
    // into ./files of the current directory instead. Make sure the trash is there first.
    const QString homeTrash =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
        QStringLiteral("/Trash");
    QDir().mkpath(homeTrash + QStringLiteral("/files"));
    QDir().mkpath(homeTrash + QStringLiteral("/info"));
    QString inTrash;
    if (QFile::moveToTrash(path, &inTrash)) {
        if (QFileInfo(inTrash).isAbsolute())
            return {};
        // Still no trash: put the file back where it was, then delete it as asked.
        if (!QFile::rename(inTrash, path))
            return FileResult::failure(systemText(EIO));
        QFile::remove(QFileInfo(inTrash).dir().filePath(QStringLiteral("../info/")) +
                      QFileInfo(inTrash).fileName() + QStringLiteral(".trashinfo"));
    }
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

namespace {

// The bytes of one open file into another: in the kernel where the file systems allow it,
// else through a buffer. Returns 0 or an errno value.
int copyContents(int in, int out)
{
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, copyChunk, 0);
        if (n == 0)
            return 0;
        if (n > 0)
            continue;
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
            return errno;
        break;
    }
    std::vector<char> buffer(copyChunk);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno;
        if (got == 0)
            return 0;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, buffer.data() + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0)
                return errno;
            done += put;
        }
    }
}

} // namespace

FileResult SystemFileOperations::copy(const QString &source, const QString &destination, Sync sync)
{
    const QFileInfo sourceInfo(source);
    if (!sourceInfo.isFile())
        return FileResult::failure(systemText(ENOENT));
    const QFileInfo destinationInfo(destination);
    if (destinationInfo.exists() || destinationInfo.isSymLink())
        return FileResult::failure(systemText(EEXIST));

    // Replaced by a FIFO since it was listed, the source must not hold the copy forever.
    const RegularFile in = RegularFile::open(source);
    if (!in.ok())
        return FileResult::failure(in.reason);
    const auto closeSource = qScopeGuard([&] { ::close(in.fd); });

    QTemporaryFile out(destinationInfo.absolutePath() + QStringLiteral("/.") +
                       destinationInfo.fileName() + QStringLiteral(".XXXXXX.part"));
    if (!out.open())
        return FileResult::failure(out.errorString());

    if (const int error = copyContents(in.fd, out.handle()))
        return FileResult::failure(systemText(error));
    if (sync == Sync::Durable && ::fsync(out.handle()) != 0)
        return FileResult::failure(systemText(errno));
    out.setPermissions(sourceInfo.permissions());
    out.setFileTime(sourceInfo.lastModified(), QFileDevice::FileModificationTime);
    out.close();
    // QFile::rename never replaces an existing file, so a file that appeared meanwhile is safe.
    if (!QFile::rename(out.fileName(), destination))
        return FileResult::failure(systemText(EEXIST));
    out.setAutoRemove(false);
    return {};
}
