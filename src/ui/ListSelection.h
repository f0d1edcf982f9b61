#pragma once

#include <QItemSelectionModel>
#include <QList>
#include <algorithm>

// The selected rows of a flat list in ascending order. QItemSelectionModel::selectedRows()
// tests every row against every range: with 16,000 scattered rows that takes seconds.
inline QList<int> selectedRowsOf(const QItemSelectionModel *model)
{
    QList<int> rows;
    for (const QItemSelectionRange &range : model->selection()) {
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.append(row);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

// Where rows of a list go when the rows `removed` are taken off it: each of `rows` that stays,
// at its index afterwards, in the order given; the removed ones are left out.
inline QList<int> rowsAfterRemoval(const QList<int> &rows, QList<int> removed)
{
    std::sort(removed.begin(), removed.end());
    removed.erase(std::unique(removed.begin(), removed.end()), removed.end());
    QList<int> after;
    after.reserve(rows.size());
    for (int row : rows) {
        const auto at = std::lower_bound(removed.begin(), removed.end(), row);
        if (at != removed.end() && *at == row)
            continue;
        after.append(row - int(at - removed.begin()));
    }
    return after;
}

// The rows of a flat list's indexes, in ascending order, each once: what a drag of them
// carries, whatever order they were picked in.
inline QList<int> rowsOf(const QModelIndexList &indexes)
{
    QList<int> rows;
    rows.reserve(indexes.size());
    for (const QModelIndex &index : indexes) {
        if (index.isValid())
            rows.append(index.row());
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}
