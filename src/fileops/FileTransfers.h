#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class FileOperations;

// The question asked before deleting: the file's name for one, no count for several.
QString deleteConfirmation(const QStringList &names);

// Deletes the named files of a directory in list order. A file that cannot be deleted is
// passed over; onFirstFailure runs once, at the first one. Returns the number deleted.
int deleteFiles(FileOperations &files, const QString &directory, const QStringList &names,
                const std::function<void()> &onFirstFailure);

// The destination folder with exactly one "/" at its end.
QString destinationFolder(const QString &chosen);

// Copies (or, with deleteOrigin, moves) the sources given by index to the destination
// folder. A failed copy leaves the source alone; onFirstFailure runs once. Returns the
// indices that are done, in order: copied, and for a move also gone from their place.
QList<int> copyFiles(FileOperations &files, const QStringList &sources, const QList<int> &indices,
                     const QString &destination, bool deleteOrigin,
                     const std::function<void()> &onFirstFailure);
