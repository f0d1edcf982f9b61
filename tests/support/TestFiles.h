#pragma once

#include <QAbstractItemView>
#include <QFile>
#include <QItemSelectionModel>
#include <QTest>

// Small helpers the widget tests share.

// Makes a file of `size` bytes (sparse where the file system allows).
inline void touch(const QString &path, qint64 size = 0)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    if (size > 0)
        QVERIFY(f.resize(size));
}

// Selects exactly these rows of a list, in the order given.
inline void selectRows(QAbstractItemView *view, const QList<int> &rows)
{
    view->selectionModel()->clearSelection();
    for (int row : rows)
        view->selectionModel()->select(view->model()->index(row, 0), QItemSelectionModel::Select);
}
