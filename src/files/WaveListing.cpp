#include "WaveListing.h"

#include "platform/NativeName.h"
#include "platform/PathRule.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace {

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
    DIR *dir = ::opendir(nativePath(directory).constData());
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

// A name's place in the order: the first 16 bytes of its key, big-endian in two words, so
// most comparisons are two integer compares on memory the sort walks anyway; the rest of the
// key lies in one shared buffer.
struct SortItem
{
    quint64 head;
    quint64 next;
    quint32 tail; // where the key's bytes past the first 16 begin in the buffer
    quint32 tailLength;
    quint32 index;
};

void appendUtf8(std::string &out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(char(c));
    } else if (c < 0x800) {
        out.push_back(char(0xc0 | (c >> 6)));
        out.push_back(char(0x80 | (c & 0x3f)));
    } else if (c < 0x10000) {
        out.push_back(char(0xe0 | (c >> 12)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3f)));
        out.push_back(char(0x80 | (c & 0x3f)));
    } else {
        out.push_back(char(0xf0 | (c >> 18)));
        out.push_back(char(0x80 | ((c >> 12) & 0x3f)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3f)));
        out.push_back(char(0x80 | (c & 0x3f)));
    }
}

// A key that plain byte comparison orders naturally, in UTF-8, which keeps the order of
// code points: the folded name with each run of digits written as "0", the run's length,
// then its digits without leading zeros. Digits still sort before letters, and a longer
// number after a shorter one. A byte of a name that is not UTF-8 keys as U+FFFD.
void naturalKey(QStringView name, std::string &key)
{
    key.clear();
    const qsizetype size = name.size();
    key.reserve(static_cast<size_t>(size) * 3 + 8);
    const char16_t *in = name.utf16();
    for (qsizetype i = 0; i < size;) {
        const char16_t c = in[i];
        if (c >= u'0' && c <= u'9') {
            qsizetype end = i;
            while (end < size && in[end] >= u'0' && in[end] <= u'9')
                ++end;
            qsizetype start = i;
            while (start + 1 < end && in[start] == u'0')
                ++start;
            key.push_back('0');
            appendUtf8(key, char32_t(u'0' + std::min<qsizetype>(end - start, 0xff00)));
            key.append(in + start, in + end);
            i = end;
            continue;
        }
        ++i;
        // ASCII folds by hand, the rest through Qt's full case folding.
        if (c < 0x80) {
            key.push_back(char(c >= u'A' && c <= u'Z' ? c + 32 : c));
        } else if (QChar::isHighSurrogate(c) && i < size && QChar::isLowSurrogate(in[i])) {
            appendUtf8(key, QChar::surrogateToUcs4(c, in[i++]));
        } else if (QChar::isSurrogate(c)) {
            appendUtf8(key, 0xfffd);
        } else {
            appendUtf8(key, QChar(c).toCaseFolded().unicode());
        }
    }
}

quint64 bigEndianWord(const char *bytes, qsizetype available)
{
    quint64 word = 0;
    for (int i = 0; i < 8; ++i)
        word = (word << 8) | (i < available ? quint8(bytes[i]) : 0);
    return word;
}
} // namespace

void sortLikeFileManager(QStringList &names)
{
    // Each key built once, into one buffer: comparing through a natural-order function at
    // every step is three times slower on a folder of tens of thousands of files. UTF-8
    // keeps the order of code points; the zero padding orders a key before its extensions,
    // as a byte comparison does (keys hold no zero byte).
    std::vector<SortItem> items;
    items.reserve(static_cast<size_t>(names.size()));
    QByteArray tails;
    std::string key;
    for (qsizetype i = 0; i < names.size(); ++i) {
        naturalKey(names[i], key);
        const qsizetype length = qsizetype(key.size());
        SortItem item{bigEndianWord(key.data(), length), bigEndianWord(key.data() + 8, length - 8),
                      quint32(tails.size()), quint32(std::max<qsizetype>(0, length - 16)),
                      quint32(i)};
        if (length > 16)
            tails.append(key.data() + 16, length - 16);
        items.push_back(item);
    }
    const char *buffer = tails.constData();
    std::sort(items.begin(), items.end(), [&](const SortItem &a, const SortItem &b) {
        if (a.head != b.head)
            return a.head < b.head;
        if (a.next != b.next)
            return a.next < b.next;
        const int order =
            std::memcmp(buffer + a.tail, buffer + b.tail, std::min(a.tailLength, b.tailLength));
        if (order != 0)
            return order < 0;
        if (a.tailLength != b.tailLength)
            return a.tailLength < b.tailLength;
        // The same key ("alarm2", "Alarm2", "alarm02"): the names themselves decide.
        return std::as_const(names)[a.index] < std::as_const(names)[b.index];
    });
    QStringList sorted;
    sorted.reserve(names.size());
    for (const SortItem &item : items)
        sorted.append(std::move(names[item.index]));
    names = std::move(sorted);
}

Result<QStringList> listWaveFiles(const QString &directory)
{
    QStringList names;
    const QString error = readDirectory(directory, [&](int fd, const dirent *entry) {
        const size_t length = std::strlen(entry->d_name);
        if (!isWaveFileName(QLatin1String(entry->d_name, static_cast<qsizetype>(length))))
            return;
        if (kindOf(fd, entry) != Kind::File)
            return;
        // Whatever its bytes: a name that is not UTF-8 is listed too.
        names.append(pathFromNative(QByteArrayView(entry->d_name, qsizetype(length))));
    });
    if (!error.isEmpty())
        return Result<QStringList>::failure(error);
    sortLikeFileManager(names);
    return names;
}

QStringList listSubdirectories(const QString &directory)
{
    QStringList names;
    readDirectory(directory, [&](int fd, const dirent *entry) {
        if (kindOf(fd, entry) != Kind::Directory)
            return;
        names.append(pathFromNative(entry->d_name));
    });
    sortLikeFileManager(names);
    return names;
}

Result<> openDirectory(const QString &directory)
{
    DIR *dir = ::opendir(nativePath(directory).constData());
    if (!dir)
        return Result<>::failure(QString::fromLocal8Bit(std::strerror(errno)));
    ::closedir(dir);
    return {};
}
