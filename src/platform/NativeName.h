#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <optional>
#include <sys/stat.h>

// File names are bytes; most are UTF-8, but an old archive or a memory card may unpack
// names in Latin-1 ("caf\xe9.wav"). Such names are kept losslessly: each byte that is not
// part of valid UTF-8 becomes a lone surrogate U+DC80 to U+DCFF and turns back into the same
// byte on the way to the system. Every call that hands a name to the system goes through
// nativePath; Qt's own file classes would turn those bytes into U+FFFD and miss the file.
QByteArray nativePath(QStringView path);
QString pathFromNative(QByteArrayView bytes);

// True when the name holds bytes that are not UTF-8 (and so a Qt class cannot carry it).
bool hasForeignBytes(QStringView name);
// The name for people to read: each foreign byte as the replacement character.
QString shownName(QStringView name);

// stat() (or lstat(), which does not follow a symbolic link) of path; nothing when the
// call fails, with errno set.
std::optional<struct stat> statPath(QStringView path);
std::optional<struct stat> lstatPath(QStringView path);
bool isDirectoryPath(QStringView path);
