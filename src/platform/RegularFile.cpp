#include "RegularFile.h"

#include "NativeName.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

RegularFile RegularFile::open(const QString &path)
{
    RegularFile result;
    // O_NONBLOCK makes the open of a FIFO return at once; on a regular file it changes nothing.
    const int fd =
        ::open(nativePath(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        result.m_reason = error == EACCES || error == EPERM
                              ? QStringLiteral("no permission to read")
                              : QString::fromLocal8Bit(std::strerror(error));
        return result;
    }
    struct stat status
    {
    };
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        result.m_reason = QStringLiteral("not a regular file");
        return result;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    result.m_fd = fd;
    return result;
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
