#include "TextFold.h"

#include "LibraryQuery.h"
#include "platform/NativeName.h"

#include <algorithm>
#include <string_view>

QString foldText(QStringView text)
{
    // Most names are plain ASCII: lower case is all they need. Control characters are no
    // part of a word (and a NUL would end the text for the index's query reader).
    if (std::all_of(text.begin(), text.end(),
                    [](QChar c) { return c.unicode() < 0x7f && c.unicode() >= 0x20; }))
        return text.toString().toLower();
    const QString decomposed = shownName(text).normalized(QString::NormalizationForm_KD);
    QString folded;
    folded.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        const QChar::Category category = c.category();
        if (category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining ||
            category == QChar::Mark_Enclosing || category == QChar::Other_Control)
            continue;
        folded.append(c);
    }
    return folded.toCaseFolded();
}

namespace {

// Digits, letters (a byte above ASCII belongs to one) and the rest.
int kindOf(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= '0' && byte <= '9')
        return 1;
    if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || byte >= 0x80)
        return 2;
    return 0;
}

} // namespace

bool wantsWordStart(QByteArrayView piece)
{
    if (piece.isEmpty() || static_cast<unsigned char>(piece[0]) >= 0x80 || kindOf(piece[0]) == 0)
        return false;
    qsizetype characters = 0;
    for (const char c : piece)
        if ((static_cast<unsigned char>(c) & 0xc0) != 0x80 && ++characters >= shortestIndexedText)
            return false;
    return true;
}

bool beginsWord(QByteArrayView text, qsizetype at, char first)
{
    return at == 0 || kindOf(text[at - 1]) != kindOf(first);
}

bool containsPiece(QByteArrayView text, QByteArrayView piece)
{
    const std::string_view haystack(text.data(), size_t(text.size()));
    const std::string_view needle(piece.data(), size_t(piece.size()));
    size_t at = haystack.find(needle);
    if (at == std::string_view::npos || !wantsWordStart(piece))
        return at != std::string_view::npos;
    for (; at != std::string_view::npos; at = haystack.find(needle, at + 1))
        if (beginsWord(text, qsizetype(at), piece[0]))
            return true;
    return false;
}

QByteArray naturalKey(QByteArrayView folded)
{
    QByteArray key;
    key.reserve(folded.size() + 4);
    // One byte a run, its leading zeros and one, so that no byte of them is a NUL.
    QByteArray zeros;
    bool anyZeros = false;
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    qsizetype at = 0;
    while (at < folded.size()) {
        if (!isDigit(folded[at])) {
            key.append(folded[at++]);
            continue;
        }
        const qsizetype start = at;
        while (at < folded.size() && folded[at] == '0')
            ++at;
        const qsizetype significant = at;
        while (at < folded.size() && isDigit(folded[at]))
            ++at;
        const qsizetype digits = at - significant;
        // "0" and "000" are zero with no digits; the zeros past the first lead.
        const qsizetype leading = significant - start - (digits == 0 ? 1 : 0);
        constexpr qsizetype oneByte = 9;
        if (digits < oneByte) {
            key.append(char('0' + digits));
        } else {
            const qsizetype more = std::min<qsizetype>(digits - oneByte, 0xffff);
            key.append('9');
            key.append(char(more >> 8));
            key.append(char(more & 0xff));
        }
        key.append(folded.sliced(significant, digits));
        zeros.append(char(std::min<qsizetype>(leading, 0xfe) + 1));
        anyZeros = anyZeros || leading > 0;
    }
    if (anyZeros) {
        key.append('\0');
        key.append(zeros);
    }
    return key;
}
