#pragma once

#include <QString>
#include <QStringList>

// What the program was started with: `quillon-sonoret [PATH...]`.
struct StartRequest
{
    enum class Action
    {
        Start,   // open the window (on the paths, if any)
        Help,    // print `text` and end with 0
        Version, // likewise
        Error    // print `text` to standard error and end with 2
    };
    Action action = Action::Start;
    QString text;
    // The paths as given, made absolute against the working folder.
    QStringList paths;
};

StartRequest parseCommandLine(const QStringList &arguments, const QString &workingFolder);

// What the window does with paths, from the command line or from a later start: a folder to
// open, wave files for the play list, and the paths that are neither.
struct PathsToOpen
{
    QString folder;
    QStringList files;
    QStringList skipped;
};
// Paths that are not absolute are skipped: a later start sends only absolute ones.
PathsToOpen sortPaths(const QStringList &paths);
// The message for the paths skipped: the first few, then how many more.
QString skippedMessage(const QStringList &skipped);
