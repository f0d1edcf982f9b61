#include "RegularFile.h"

#include "NativeName.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Result<RegularFile> RegularFile::open(const QString &path)
{
    // O_NONBLOCK makes the open of a FIFO return at once; on a regular file it changes nothing.
    const int fd =
        ::open(nativePath(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        return Result<RegularFile>::failure(error == EACCES || error == EPERM
                                                ? QStringLiteral("no permission to read")
                                                : QString::fromLocal8Bit(std::strerror(error)));
    }
    struct stat status
    {
    };
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return Result<RegularFile>::failure(QStringLiteral("not a regular file"));
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return RegularFile(fd);
}

RegularFile::~RegularFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool isReadableRegularFile(const QString &path)
{
    return RegularFile::open(path).ok();
}
