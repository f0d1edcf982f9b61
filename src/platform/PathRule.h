#pragma once

#include <QString>

// A folder's path with exactly one "/" at its end ("/" itself already has it).
inline QString withTrailingSlash(const QString &directory)
{
    return directory.endsWith(QLatin1Char('/')) ? directory : directory + QLatin1Char('/');
}

// The only place that joins a directory and a bare file name: one "/" between them, none
// added when the directory already ends in one (only "/" itself does).
inline QString fullPath(const QString &directory, const QString &name)
{
    return withTrailingSlash(directory) + name;
}

// The bare name of a full path: what follows its last "/".
inline QString fileNameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// What the file list shows and the play list takes: a name that ends in ".wav" in any
// letter case and is more than that ending.
template <typename Text> bool isWaveFileName(const Text &name)
{
    constexpr qsizetype suffixLength = 4;
    return name.size() > suffixLength && name.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive);
}
