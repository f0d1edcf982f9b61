#pragma once

#include <QString>
#include <QStringList>

class QMimeData;

// Files as drags carry them between programs: a URI list (RFC 2483), which file managers,
// sound editors and our own lists read, and the form GNOME's file manager reads besides.
// A name that is not UTF-8 travels as the bytes it has on the disk.
namespace fileUris {

inline const QString uriListType = QStringLiteral("text/uri-list");
inline const QString gnomeFilesType = QStringLiteral("x-special/gnome-copied-files");

// The file: URI of an absolute path, its bytes percent-encoded: what other programs open.
QByteArray fileUri(const QString &path);
// The two forms of paths, in order; the caller owns what it gets.
QMimeData *mimeData(const QStringList &paths);
// The forms mimeData gives.
QStringList types();
// The local paths of the URI list, one for each URI in order: empty for one that is not a
// local file.
QStringList localPaths(const QMimeData &mime);

} // namespace fileUris
