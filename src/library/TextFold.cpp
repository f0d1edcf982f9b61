#include "TextFold.h"

#include "platform/NativeName.h"

#include <algorithm>

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
