#pragma once

#include <QString>
#include <QStringList>

// The wave files of one directory, as the file list shows them.
struct WaveListing
{
    QStringList names;
    QString error; // the system's text when the directory cannot be read
    bool ok() const { return error.isEmpty(); }
};

// "*.wav" in any letter case, regular files (or links to them) only, no hidden files,
// sorted as a file manager sorts. Names whose bytes would not come back unchanged from
// their text are left out, so no operation can reach another file than the one shown.
WaveListing listWaveFiles(const QString &directory);

// The subdirectories of a directory, without hidden ones, in the same order.
QStringList listSubdirectories(const QString &directory);

// Empty when the directory can be opened and read, else the system's text.
QString directoryError(const QString &directory);

void sortLikeFileManager(QStringList &names);
