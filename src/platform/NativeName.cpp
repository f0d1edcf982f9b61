#include "NativeName.h"

#include <algorithm>

namespace {

constexpr char16_t firstForeign = 0xDC80;
constexpr char16_t lastForeign = 0xDCFF;

bool isForeignAt(QStringView text, qsizetype i)
{
    const char16_t c = text[i].unicode();
    // A low surrogate after a high one is half of a real character, not a foreign byte.
    return c >= firstForeign && c <= lastForeign && (i == 0 || !text[i - 1].isHighSurrogate());
}

// The length of the valid UTF-8 sequence at bytes[i], or 0: overlong forms, encoded
// surrogates and values past U+10FFFF are not valid, so every name decodes one way only.
int validSequenceAt(QByteArrayView bytes, qsizetype i, char32_t &value)
{
    const auto byte = [&bytes](qsizetype at) { return static_cast<unsigned char>(bytes[at]); };
    const unsigned char lead = byte(i);
    int length = 0;
    char32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
        least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
        least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        least = 0x10000;
    } else {
        return 0;
    }
    if (i + length > bytes.size())
        return 0;
    for (int k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (byte(i + k) & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

QString pathFromNative(QByteArrayView bytes)
{
    // Most names are ASCII: those need no decoding at all (a folder lists tens of thousands).
    if (std::all_of(bytes.begin(), bytes.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return QString::fromLatin1(bytes);
    QString text;
    text.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            text.append(QChar(lead));
            ++i;
            continue;
        }
        char32_t value = 0;
        if (const int length = validSequenceAt(bytes, i, value)) {
            if (value >= 0x10000) {
                text.append(QChar(QChar::highSurrogate(value)));
                text.append(QChar(QChar::lowSurrogate(value)));
            } else {
                text.append(QChar(char16_t(value)));
            }
            i += length;
        } else {
            text.append(QChar(char16_t(0xDC00 + lead)));
            ++i;
        }
    }
    return text;
}

QByteArray nativePath(QStringView path)
{
    QByteArray bytes;
    bytes.reserve(path.size());
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t c = path[i].unicode();
        if (c < 0x80) {
            bytes.append(char(c));
        } else if (isForeignAt(path, i)) {
            bytes.append(char(c - 0xDC00));
        } else {
            // A run of ordinary characters (a surrogate pair stays whole).
            qsizetype end = i + 1;
            while (end < path.size() && path[end].unicode() >= 0x80 && !isForeignAt(path, end))
                ++end;
            bytes.append(path.sliced(i, end - i).toUtf8());
            i = end - 1;
        }
    }
    return bytes;
}

bool hasForeignBytes(QStringView name)
{
    for (qsizetype i = 0; i < name.size(); ++i)
        if (isForeignAt(name, i))
            return true;
    return false;
}

QString shownName(QStringView name)
{
    QString shown = name.toString();
    for (qsizetype i = 0; i < shown.size(); ++i)
        if (isForeignAt(name, i))
            shown[i] = QChar::ReplacementCharacter;
    return shown;
}

std::optional<struct stat> statPath(QStringView path)
{
    struct stat status
    {
    };
    if (::stat(nativePath(path).constData(), &status) != 0)
        return std::nullopt;
    return status;
}

bool isDirectoryPath(QStringView path)
{
    const std::optional<struct stat> status = statPath(path);
    return status && S_ISDIR(status->st_mode);
}

std::optional<struct stat> lstatPath(QStringView path)
{
    struct stat status
    {
    };
    if (::lstat(nativePath(path).constData(), &status) != 0)
        return std::nullopt;
    return status;
}
