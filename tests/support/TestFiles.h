#pragma once

#include "WaveWriter.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QTest>

// Small helpers the widget tests share.

// Selects exactly these rows of a list, in the order given.
inline void selectRows(QAbstractItemView *view, const QList<int> &rows)
{
    view->selectionModel()->clearSelection();
    for (int row : rows)
        view->selectionModel()->select(view->model()->index(row, 0), QItemSelectionModel::Select);
}
