#pragma once

#include <QString>
#include <QStringList>

// Splits a command as a POSIX shell splits words: blanks separate, single quotes keep
// everything, double quotes keep all but \" \\ \$ \` escapes, a backslash outside quotes
// keeps the next character. Nothing is expanded and no shell ever runs it.
QStringList splitCommandLine(const QString &command);

// The program and arguments that start the sound editor on one file.
struct EditorCommand
{
    QString program;
    QStringList arguments;
};
// The editor command split as above, then the file's full path as one more argument, never
// split. Empty program when the command is blank.
EditorCommand editorCommandFor(const QString &soundEditor, const QString &filePath);
