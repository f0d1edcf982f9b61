#include "PublicDeclares.h"

#include <QFileDialog>

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

QStringList nameFiltersOf(const QString &filter)
{
    QStringList result;
#ifndef Q_OS_WIN
    result.append(QStringLiteral("Programs (*)"));
#endif
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        // The description already names its pattern: "Exes (*.exe)".
        result.append(parts[i].contains(parts[i + 1])
                          ? parts[i]
                          : parts[i] + QStringLiteral(" (") + parts[i + 1] + QLatin1Char(')'));
    }
    return result;
}

QString ChooseFile(const QString &filter, const QString &title, QWidget *owner,
                   const QString &startDirectory)
{
    // A dialog with a parent opens centred on it.
    QFileDialog dialog(owner, title, startDirectory);
    dialog.setObjectName(QStringLiteral("ChooseFile"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::ReadOnly, true);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setNameFilters(nameFiltersOf(filter));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}
