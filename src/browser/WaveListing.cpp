#include "WaveListing.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

namespace {

bool hasWaveSuffix(const char *name, size_t length)
{
    return length > 4 && strcasecmp(name + length - 4, ".wav") == 0;
}

// Decoded text of a name, or an empty string when the text would not encode back to the
// very same bytes (a name that is not valid in the locale's encoding).
QString faithfulName(const char *bytes)
{
    const QByteArray raw(bytes);
    const QString text = QFile::decodeName(raw);
    return QFile::encodeName(text) == raw ? text : QString();
}

enum class Kind
{
    File,
    Directory,
    Other
};

Kind kindOf(int dirFd, const dirent *entry)
{
    if (entry->d_type == DT_REG)
        return Kind::File;
    if (entry->d_type == DT_DIR)
        return Kind::Directory;
    if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
        return Kind::Other;
    struct stat st
    {
    };
    if (::fstatat(dirFd, entry->d_name, &st, 0) != 0)
        return Kind::Other;
    if (S_ISREG(st.st_mode))
        return Kind::File;
    return S_ISDIR(st.st_mode) ? Kind::Directory : Kind::Other;
}

template <typename Accept> QString readDirectory(const QString &directory, Accept accept)
{
    DIR *dir = ::opendir(QFile::encodeName(directory).constData());
    if (!dir)
        return QString::fromLocal8Bit(std::strerror(errno));
    const int fd = ::dirfd(dir);
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir);
        if (!entry)
            break;
        if (entry->d_name[0] == '.')
            continue;
        accept(fd, entry);
    }
    const int readError = errno;
    ::closedir(dir);
    return readError ? QString::fromLocal8Bit(std::strerror(readError)) : QString();
}

} // namespace

int compareNatural(const QString &a, const QString &b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            // Compare runs of digits as numbers: "alarm2" before "alarm10".
            qsizetype endA = i;
            qsizetype endB = j;
            while (endA < a.size() && a[endA].isDigit())
                ++endA;
            while (endB < b.size() && b[endB].isDigit())
                ++endB;
            qsizetype startA = i;
            qsizetype startB = j;
            while (startA + 1 < endA && a[startA] == u'0')
                ++startA;
            while (startB + 1 < endB && b[startB] == u'0')
                ++startB;
            const qsizetype lengthA = endA - startA;
            const qsizetype lengthB = endB - startB;
            if (lengthA != lengthB)
                return lengthA < lengthB ? -1 : 1;
            const int digits = QStringView(a)
                                   .sliced(startA, lengthA)
                                   .compare(QStringView(b).sliced(startB, lengthB));
            if (digits != 0)
                return digits;
            i = endA;
            j = endB;
            continue;
        }
        const char32_t ca = a[i].toCaseFolded().unicode();
        const char32_t cb = b[j].toCaseFolded().unicode();
        if (ca != cb)
            return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    // Names that differ only in case or leading zeros still get one fixed order.
    return a.compare(b);
}

void sortLikeFileManager(QStringList &names)
{
    std::sort(names.begin(), names.end(),
              [](const QString &a, const QString &b) { return compareNatural(a, b) < 0; });
}

WaveListing listWaveFiles(const QString &directory)
{
    WaveListing listing;
    listing.error = readDirectory(directory, [&](int fd, const dirent *entry) {
        if (!hasWaveSuffix(entry->d_name, std::strlen(entry->d_name)))
            return;
        if (kindOf(fd, entry) != Kind::File)
            return;
        const QString name = faithfulName(entry->d_name);
        if (!name.isEmpty())
            listing.names.append(name);
    });
    sortLikeFileManager(listing.names);
    return listing;
}

QStringList listSubdirectories(const QString &directory)
{
    QStringList names;
    readDirectory(directory, [&](int fd, const dirent *entry) {
        if (kindOf(fd, entry) != Kind::Directory)
            return;
        const QString name = faithfulName(entry->d_name);
        if (!name.isEmpty())
            names.append(name);
    });
    sortLikeFileManager(names);
    return names;
}

QString directoryError(const QString &directory)
{
    DIR *dir = ::opendir(QFile::encodeName(directory).constData());
    if (!dir)
        return QString::fromLocal8Bit(std::strerror(errno));
    ::closedir(dir);
    return {};
}
