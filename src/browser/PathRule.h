#pragma once

#include <QString>

// The only place that joins a directory and a bare file name: one "/" between them, none
// added when the directory already ends in one (only "/" itself does).
inline QString fullPath(const QString &directory, const QString &name)
{
    if (directory.endsWith(QLatin1Char('/')))
        return directory + name;
    return directory + QLatin1Char('/') + name;
}
