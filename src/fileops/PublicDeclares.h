#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// The program and arguments that start the sound editor on one file: the editor command
// split as a shell would split it (quotes kept together), then the file's full path as one
// more argument, never split. Empty program when the command is blank.
// Splits a command as a POSIX shell splits words: blanks separate, single quotes keep
// everything, double quotes keep all but \" \\ \$ \` escapes, a backslash outside quotes
// keeps the next character. Nothing is expanded.
QStringList splitCommandLine(const QString &command);

struct EditorCommand
{
    QString program;
    QStringList arguments;
};
EditorCommand editorCommandFor(const QString &soundEditor, const QString &filePath);

// The open-file dialog: one existing file under the given filter ("Name (*.x)|*.x|..."),
// titled, centred on the active window, starting in the process's current directory.
// Returns the chosen full path, or an empty string when nothing was chosen.
QString ChooseFile(const QString &filter, const QString &title, QWidget *owner,
                   const QString &startDirectory);

// "Exes (*.exe)|*.exe|Coms (*.com)|*.com" as name filters for the dialog; where programs
// carry no extension a "Programs (*)" filter comes first.
QStringList nameFiltersOf(const QString &filter);
