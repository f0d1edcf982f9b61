#include "FileUris.h"

#include "NativeName.h"

#include <QMimeData>

namespace fileUris {

// Made from the name's bytes: QUrl would carry its text, with the foreign bytes replaced, and
// the other program would look for a file that is not there.
QByteArray fileUri(const QString &path)
{
    return "file://" + nativePath(path).toPercentEncoding("/");
}

QMimeData *mimeData(const QStringList &paths)
{
    auto *mime = new QMimeData;
    QByteArray uris;
    QByteArray gnome = "copy";
    for (const QString &path : paths) {
        const QByteArray uri = fileUri(path);
        uris += uri + "\r\n";
        gnome += '\n' + uri;
    }
    mime->setData(uriListType, uris);
    mime->setData(gnomeFilesType, gnome);
    return mime;
}

QStringList types()
{
    return {uriListType, gnomeFilesType};
}

QStringList localPaths(const QMimeData &mime)
{
    QStringList paths;
    for (QByteArray line : mime.data(uriListType).split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        QByteArray path;
        if (line.startsWith("file:///"))
            path = line.mid(7);
        else if (line.startsWith("file://localhost/"))
            path = line.mid(16);
        paths.append(path.isEmpty() ? QString()
                                    : pathFromNative(QByteArray::fromPercentEncoding(path)));
    }
    return paths;
}

} // namespace fileUris
