#include "EditorCommand.h"

QStringList splitCommandLine(const QString &command)
{
    QStringList words;
    QString word;
    bool inWord = false;
    enum class Quote
    {
        None,
        Single,
        Double
    } quote = Quote::None;
    for (qsizetype i = 0; i < command.size(); ++i) {
        const QChar c = command[i];
        if (quote == Quote::Single) {
            if (c == u'\'')
                quote = Quote::None;
            else
                word += c;
            continue;
        }
        if (quote == Quote::Double) {
            if (c == u'"') {
                quote = Quote::None;
            } else if (c == u'\\' && i + 1 < command.size() &&
                       QStringLiteral("\"\\$`").contains(command[i + 1])) {
                word += command[++i];
            } else {
                word += c;
            }
            continue;
        }
        if (c.isSpace()) {
            if (inWord)
                words.append(word);
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == u'\'')
            quote = Quote::Single;
        else if (c == u'"')
            quote = Quote::Double;
        else if (c == u'\\' && i + 1 < command.size())
            word += command[++i];
        else
            word += c;
    }
    if (inWord)
        words.append(word);
    return words;
}

EditorCommand editorCommandFor(const QString &soundEditor, const QString &filePath)
{
    QStringList parts = splitCommandLine(soundEditor);
    if (parts.isEmpty())
        return {};
    EditorCommand command;
    command.program = parts.takeFirst();
    command.arguments = parts;
    command.arguments.append(filePath);
    return command;
}
