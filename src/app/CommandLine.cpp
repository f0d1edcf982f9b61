#include "CommandLine.h"

#include "platform/NativeName.h"
#include "platform/PathRule.h"
#include "platform/RegularFile.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

namespace {
const QString usage = QStringLiteral(
    "Usage: quillon-sonoret [options] [PATH...]\n"
    "Plays and manages RIFF wave files.\n"
    "\n"
    "Options:\n"
    "  -h, --help     Displays help on commandline options.\n"
    "  -v, --version  Displays version information.\n"
    "\n"
    "Arguments:\n"
    "  PATH           Wave files to play (they go on the play list) or a folder to open.\n"
    "                 In a running program, they open in its window.\n");
} // namespace

StartRequest parseCommandLine(const QStringList &arguments, const QString &workingFolder)
{
    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, {});
    parser.addOption(help);
    parser.addOption(version);
    StartRequest request;
    // parse(), not process(): process() ends the program itself, with 1 for a wrong option.
    if (!parser.parse(arguments)) {
        request.action = StartRequest::Action::Error;
        request.text = parser.errorText() + QStringLiteral("\n\n") + usage;
        return request;
    }
    if (parser.isSet(help)) {
        request.action = StartRequest::Action::Help;
        request.text = usage;
    } else if (parser.isSet(version)) {
        request.action = StartRequest::Action::Version;
        request.text = QStringLiteral("quillon-sonoret 2.0\n");
    }
    const QDir here(workingFolder);
    for (const QString &path : parser.positionalArguments())
        request.paths.append(QDir::cleanPath(here.absoluteFilePath(path)));
    return request;
}

PathsToOpen sortPaths(const QStringList &paths)
{
    PathsToOpen sorted;
    for (const QString &path : paths) {
        const QFileInfo info(path); // for the name only: it cannot reach a name that is not UTF-8
        if (!info.isAbsolute())
            sorted.skipped.append(path);
        else if (isDirectoryPath(path))
            sorted.folder = path;
        else if (isWaveFileName(info.fileName()) && isReadableRegularFile(path))
            sorted.files.append(path);
        else
            sorted.skipped.append(path);
    }
    return sorted;
}

QString skippedMessage(const QStringList &skipped)
{
    // Few enough lines for a box that fits on the screen, each short enough to lay out
    // at once whatever a client sent.
    constexpr int shownLines = 5;
    constexpr int shownCharacters = 200;
    QString text = QStringLiteral("Not found, or not a wave file:");
    for (const QString &path : skipped.mid(0, shownLines)) {
        text += QLatin1Char('\n');
        text +=
            path.size() > shownCharacters ? path.left(shownCharacters) + QStringLiteral("…") : path;
    }
    if (skipped.size() > shownLines)
        text += QStringLiteral("\nand %1 more").arg(skipped.size() - shownLines);
    return text;
}
