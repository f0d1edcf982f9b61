#pragma once

#include "platform/Result.h"

#include <QString>
#include <QStringList>

// The wave files of one directory, as the file list shows them: "*.wav" in any letter case, regular
// files (or links to them) only, no hidden files, sorted as a file manager sorts. Names whose bytes
// would not come back unchanged from their text are left out, so no operation can reach another
// file than the one shown. The system's text when the directory cannot be read.
Result<QStringList> listWaveFiles(const QString &directory);

// The subdirectories of a directory, without hidden ones, in the same order.
QStringList listSubdirectories(const QString &directory);

// Whether the directory can be opened and read.
Result<> openDirectory(const QString &directory);

void sortLikeFileManager(QStringList &names);
