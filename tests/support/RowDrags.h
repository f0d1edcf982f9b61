#pragma once

#include <QAbstractItemModel>
#include <QMimeData>
#include <QTest>
#include <memory>

// What a view needs of a list's model to drag its rows out as files: every row says it can
// be dragged (a view starts no drag otherwise), and the rows picked, in whatever order, go as
// the file URIs of their paths in the list's order. paths: the model's rows' paths, in order,
// at least three.
inline void verifyRowsDragAsFiles(const QAbstractItemModel &model, const QStringList &paths)
{
    QCOMPARE(model.rowCount(), paths.size());
    for (int row = 0; row < model.rowCount(); ++row) {
        const Qt::ItemFlags flags = model.flags(model.index(row, 0));
        QVERIFY(flags.testFlags(Qt::ItemIsDragEnabled | Qt::ItemIsSelectable | Qt::ItemIsEnabled));
        QVERIFY(!flags.testFlag(Qt::ItemIsDropEnabled));
    }
    QVERIFY(!model.flags({}).testFlag(Qt::ItemIsDragEnabled));
    QVERIFY(model.supportedDragActions().testFlag(Qt::CopyAction));
    QVERIFY(model.mimeTypes().contains("text/uri-list"));
    const std::unique_ptr<QMimeData> mime(
        model.mimeData({model.index(2, 0), model.index(0, 0), model.index(2, 0)}));
    QVERIFY(mime);
    for (const QString &type : model.mimeTypes())
        QVERIFY2(mime->hasFormat(type), qPrintable(type));
    const QList<QByteArray> uris = mime->data("text/uri-list").trimmed().split('\n');
    QCOMPARE(uris.size(), 2);
    QCOMPARE(mime->urls().size(), 2);
    QCOMPARE(mime->urls().first().toLocalFile(), paths[0]);
    QCOMPARE(mime->urls().last().toLocalFile(), paths[2]);
}
