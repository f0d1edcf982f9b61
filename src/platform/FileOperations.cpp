#include "FileOperations.h"

#include "NativeName.h"
#include "RegularFile.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const QString partPrefix = QStringLiteral(".quillon-sonoret-");
const QString partSuffix = QStringLiteral(".part");

// Small enough that a cancel is seen within a fraction of a second on a slow stick.
constexpr qint64 copyChunk = 1024 * 1024;

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A file the user could not write counts as read-only, as the owner's write bit does
// even for root, whose access checks always pass.
Result<> checkDeletable(const QString &path)
{
    const std::optional<struct stat> status = lstatPath(path);
    if (!status)
        return Result<>::failure(systemText(errno));
    if (S_ISLNK(status->st_mode))
        return {};
    if (S_ISDIR(status->st_mode))
        return Result<>::failure(systemText(EISDIR));
    if (!(status->st_mode & S_IWUSR) || ::access(nativePath(path).constData(), W_OK) != 0)
        return Result<>::failure(systemText(EACCES));
    return {};
}

} // namespace

namespace {

QByteArray native(const QString &path)
{
    return nativePath(path);
}

// A trash folder with its files/ and info/, made if missing (only the user may enter it);
// false when it cannot be made or is not a real folder of this user's.
bool ensureTrash(const QString &trash)
{
    for (const QString &dir :
         {trash, trash + QStringLiteral("/files"), trash + QStringLiteral("/info")}) {
        if (::mkdir(native(dir).constData(), 0700) != 0 && errno != EEXIST)
            return false;
        struct stat status
        {
        };
        if (::lstat(native(dir).constData(), &status) != 0 || !S_ISDIR(status.st_mode) ||
            status.st_uid != ::getuid())
            return false;
    }
    return true;
}

// Where a file on that device goes, by the freedesktop.org trash standard: the home
// trash for the volume of the user's data folder, else the volume's own trash (the shared
// $topdir/.Trash/$uid an administrator prepared, or $topdir/.Trash-$uid). Empty when the
// volume has none and none can be made.
QString trashFor(const QString &path, dev_t device)
{
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    QDir().mkpath(dataHome);
    struct stat home
    {
    };
    if (::stat(native(dataHome).constData(), &home) == 0 && home.st_dev == device) {
        const QString trash = dataHome + QStringLiteral("/Trash");
        return ensureTrash(trash) ? trash : QString();
    }
    QString top = QStorageInfo(QFileInfo(path).absolutePath()).rootPath();
    if (top.endsWith(QLatin1Char('/')))
        top.chop(1);
    const QString uid = QString::number(::getuid());
    const QString shared = top + QStringLiteral("/.Trash");
    struct stat sharedStatus
    {
    };
    if (::lstat(native(shared).constData(), &sharedStatus) == 0 && S_ISDIR(sharedStatus.st_mode) &&
        (sharedStatus.st_mode & S_ISVTX) && ensureTrash(shared + QLatin1Char('/') + uid))
        return shared + QLatin1Char('/') + uid;
    const QString own = top + QStringLiteral("/.Trash-") + uid;
    return ensureTrash(own) ? own : QString();
}

// The name in the trash: the file's own, then "name.2.wav" and so on; names too long to
// carry ".trashinfo" get a short one.
QString trashName(const QFileInfo &file, int attempt)
{
    const QString suffix = file.suffix().isEmpty() ? QString() : QLatin1Char('.') + file.suffix();
    QString name =
        attempt == 1
            ? file.fileName()
            : QStringLiteral("%1.%2%3").arg(file.completeBaseName()).arg(attempt).arg(suffix);
    constexpr qsizetype longestName = 240;
    if (native(name).size() > longestName)
        name = QStringLiteral("deleted-%1%2").arg(attempt).arg(suffix);
    return name;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t put =
            ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            return false;
        done += put;
    }
    return true;
}

// Renames without ever replacing a file that is there: 0, or the errno of the failure.
int renameNoReplace(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL)
        return errno;
    // A volume without "no replace" renames: look first, then rename.
    struct stat taken
    {
    };
    if (::lstat(to.constData(), &taken) == 0)
        return EEXIST;
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

// Moves the file into the trash folder with its .trashinfo entry, whose Path is
// percent-encoded so that any name (a newline, "%", spaces) reads back as it was. Returns
// 0 or an errno value.
int trashInto(const QString &trash, const QString &path)
{
    const QFileInfo file(path);
    const QByteArray entry =
        QByteArrayLiteral("[Trash Info]\nPath=") +
        native(file.absoluteFilePath()).toPercentEncoding("/") +
        QByteArrayLiteral("\nDeletionDate=") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() +
        '\n';
    constexpr int attempts = 10000;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        const QString name = trashName(file, attempt);
        const QByteArray info =
            native(trash + QStringLiteral("/info/") + name + QStringLiteral(".trashinfo"));
        // The entry is made first and exclusively: it reserves the name in the trash.
        const int fd = ::open(info.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return errno;
        const bool written = writeAll(fd, entry);
        const int writeError = errno;
        ::close(fd);
        if (!written) {
            ::unlink(info.constData());
            return writeError;
        }
        const QByteArray target = native(trash + QStringLiteral("/files/") + name);
        const int renameError = renameNoReplace(native(path), target);
        if (renameError == 0)
            return 0;
        ::unlink(info.constData());
        if (renameError != EEXIST)
            return renameError;
    }
    return EEXIST;
}

} // namespace

Result<> SystemFileOperations::moveToTrash(const QString &path)
{
    if (Result<> check = checkDeletable(path); !check.ok())
        return check;
    struct stat status
    {
    };
    if (::lstat(native(path).constData(), &status) != 0)
        return Result<>::failure(systemText(errno));
    const QString trash = trashFor(path, status.st_dev);
    const int error = trash.isEmpty() ? EXDEV : trashInto(trash, path);
    if (error == 0)
        return {};
    // No trash on this volume (or none can be made, or it lies on another device behind a
    // bind mount): delete for good, as asked.
    if (error == EXDEV)
        return removeFile(path);
    return Result<>::failure(systemText(error));
}

Result<> SystemFileOperations::removeFile(const QString &path)
{
    if (Result<> check = checkDeletable(path); !check.ok())
        return check;
    if (::unlink(native(path).constData()) != 0)
        return Result<>::failure(systemText(errno));
    return {};
}

namespace {

// The bytes of one open file into another: in the kernel where the file systems allow it,
// else through a buffer. Returns 0 or an errno value; ECANCELED when progress said stop.
int copyContents(int in, int out, const FileOperations::CopyProgress &progress)
{
    qint64 copied = 0;
    const auto goOn = [&](qint64 more) {
        copied += more;
        return !progress || progress(copied);
    };
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, copyChunk, 0);
        if (n == 0)
            return 0;
        if (n > 0) {
            if (!goOn(n))
                return ECANCELED;
            continue;
        }
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
        if (!goOn(got))
            return ECANCELED;
    }
}

// Where a volume has no anonymous temporary files (vfat and exFAT: the cards of field
// recorders), a copy killed midway leaves its named temporary file behind. Ours are named so
// that they can be told apart, and those clearly older than the copy at hand go: a minute's
// margin, since vfat keeps times to two seconds and another copy may be writing one now.
void removeLeftoverParts(const QString &folder)
{
    static const QRegularExpression ours(QRegularExpression::anchoredPattern(
        QRegularExpression::escape(partPrefix) + QStringLiteral("[A-Za-z0-9]{6}") +
        QRegularExpression::escape(partSuffix)));
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-60);
    QDirIterator it(folder, {partPrefix + QLatin1Char('*') + partSuffix},
                    QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    while (it.hasNext()) {
        it.next();
        const QFileInfo part = it.fileInfo();
        if (ours.match(part.fileName()).hasMatch() && part.lastModified().toUTC() < before)
            QFile::remove(part.filePath());
    }
}

} // namespace

Result<> SystemFileOperations::copy(const QString &source, const QString &destination, Sync sync,
                                    const CopyProgress &progress)
{
    const std::optional<struct stat> sourceStatus = statPath(source);
    if (!sourceStatus || !S_ISREG(sourceStatus->st_mode))
        return Result<>::failure(systemText(ENOENT));
    if (lstatPath(destination))
        return Result<>::failure(systemText(EEXIST));
    const QFileInfo destinationInfo(destination); // for its folder: a plain string operation

    // Replaced by a FIFO since it was listed, the source must not hold the copy forever.
    const Result<RegularFile> in = RegularFile::open(source);
    if (!in.ok())
        return Result<>::failure(in.error());

    removeLeftoverParts(destinationInfo.absolutePath());
    QTemporaryFile out(destinationInfo.absolutePath() + QLatin1Char('/') + partPrefix +
                       QStringLiteral("XXXXXX") + partSuffix);
    if (!out.open())
        return Result<>::failure(out.errorString());

    // On any failure, a cancel included, the temporary file goes with `out`.
    if (const int error = copyContents(in->fd(), out.handle(), progress)) {
        return error == ECANCELED ? Result<>::cancel() : Result<>::failure(systemText(error));
    }
    if (sync == Sync::Durable && ::fsync(out.handle()) != 0)
        return Result<>::failure(systemText(errno));
    ::fchmod(out.handle(), sourceStatus->st_mode & 0777);
    const timespec times[2] = {{0, UTIME_OMIT}, sourceStatus->st_mtim};
    ::futimens(out.handle(), times);
    out.close();
    // Never over a file that appeared meanwhile; any other failure says its own reason.
    if (const int error = renameNoReplace(native(out.fileName()), native(destination)))
        return Result<>::failure(systemText(error));
    out.setAutoRemove(false);
    return {};
}

Result<> SystemFileOperations::syncFolder(const QString &folder)
{
    const int fd = ::open(native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return Result<>::failure(systemText(errno));
    const int result = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    // Some FUSE volumes answer a folder sync so; their names are as durable as they get.
    if (result != 0 && error != EINVAL && error != ENOTSUP)
        return Result<>::failure(systemText(error));
    return {};
}
